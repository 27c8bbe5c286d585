// The results side of the main window: the search after a scan, the type tree
// and file list, checking files, recovering them and previewing one.
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSet>
#include <QTextBrowser>
#include <algorithm>
#include <functional>
#include <set>
#include <string_view>

#include "app/edit_box.h"
#include "app/file_tree.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/pagination.h"
#include "app/recover_process_wnd.h"
#include "app/scan_process_wnd.h"
#include "app/skin_framework/controls.h"
#include "app/skin_framework/list.h"
#include "app/startup.h"
#include "app/thumbnail_grid.h"
#include "app/thumbnail_maker.h"
#include "app/user_settings.h"
#include "device/disk_volume_list.h"
#include "platform/data_dirs.h"
#include "platform/disk_layout.h"
#include "platform/volume_registry.h"
#include "results/file_categories.h"
#include "results/image_copy.h"
#include "results/result_order.h"
#include "results/safe_name.h"

namespace sorvane::app {
namespace {

// Category node, its title message, the file-type group that feeds it, the
// group's head box and the category's name in a type choice.
struct Category {
    const char* node;
    const char* title;
    const char* group;
    const char* head;
    const char* name;
};
const Category kCategories[] = {{"NodePhoto", "MSG0807", "FileTypePhoto", "OptPhotoFile", "photo"},
                                {"NodeAudio", "MSG0808", "FileTypeAudio", "OptAudioFile", "audio"},
                                {"NodeVideo", "MSG0809", "FileTypeVideo", "OptVideoFile", "video"},
                                {"NodeOffice", "MSG0810", "FileTypeOffice", "OptOfficeFile", "document"},
                                {"NodeZip", "MSG0811", "FileTypeZip", "OptZipFile", "archive"},
                                {"NodeOther", "MSG0812", "FileTypeOther", "OptOtherFile", "other"}};
constexpr int kOtherCategory = 5;

const char kUnchecked[] = "file='checkbox.png' source='0,22,12,34' dest='2,0,14,12'";
const char kChecked[] = "file='checkbox.png' source='48,22,60,34' dest='2,0,14,12'";

// The file-type options of a group: check boxes with extensions in their user data.
QList<skin::CheckBox*> FileTypeOptions(const skin::Window& window, const char* group) {
    QList<skin::CheckBox*> options;
    if (skin::Control* box = window.FindControl(QString::fromLatin1(group))) {
        for (QWidget* child : box->findChildren<QWidget*>()) {
            auto* option = dynamic_cast<skin::CheckBox*>(child);
            if (option && !option->UserData().isEmpty()) options.push_back(option);
        }
    }
    return options;
}

// "JPG (*.jpg;*.jpeg)" -> "JPG".
QString OptionTitle(const QString& text) {
    const qsizetype paren = text.indexOf(u'(');
    return (paren > 0 ? text.left(paren) : text).trimmed();
}

}  // namespace

TypeChoice CMainWnd::ChosenTypes() const {
    // A ticked category takes every extension it maps to, as the command
    // line's --types does, less the options unticked below it; a ticked option
    // of an unticked category brings its own extensions.
    TypeChoice choice;
    for (const Category& category : kCategories) {
        const bool other = std::string_view(category.name) == "other";
        auto* head = Find<skin::CheckBox>(QString::fromLatin1(category.head));
        bool whole = !other && head && head->IsSelected();
        for (skin::CheckBox* option : FileTypeOptions(*this, category.group)) {
            if (other) {
                whole = option->IsSelected();
                continue;
            }
            for (const QString& ext : option->UserData().split(u'|', Qt::SkipEmptyParts))
                (option->IsSelected() ? choice.extensions : choice.excluded).insert(ext.toStdString());
        }
        if (whole) choice.categories.insert(category.name);
    }
    for (const std::string& ext : choice.extensions) choice.excluded.erase(ext);
    return choice;
}

void CMainWnd::OnScanDone() {
    std::vector<ScanTarget*> scanned;
    for (const auto& target : targets_)
        if (target->engine) scanned.push_back(target.get());
    if (scanned.empty()) return;
    checked_.clear();
    // The grid points into the results: it lets go first.
    if (auto* grid = Find<CThumbnailGridUI>(QStringLiteral("ThumbGrid"))) grid->SetFiles({});
    results_.clear();
    resultFolders_.clear();
    shown_.clear();
    nodeFiles_.clear();
    listed_.clear();
    currentNode_ = nullptr;
    ClearResultTree();
    OnFilesChecked();
    std::vector<ScanTarget*> chosen = TargetsOfRow(SelectedDiskRow(), true);
    if (chosen.empty()) chosen = scanned;
    RunWorker(new CSearchProcessWnd(chosen, ChosenTypes(), results_, resultFolders_), this,
              CSearchProcessWnd::kWidth, CSearchProcessWnd::kHeight);
}

void CMainWnd::OnSearchDone() {
    if (auto* list = Find<skin::List>(QStringLiteral("FileList"))) list->RemoveAll();
    listed_.clear();
    nodeFiles_.clear();
    currentNode_ = nullptr;
    if (skin::Control* preview = FindControl(QStringLiteral("PreviewEdit"))) preview->SetText(QString());
    // The folder of every result: a search cut short may have left fewer.
    resultFolders_.resize(results_.size());
    if (skin::Control* tab = FindControl(QStringLiteral("TabRecover"))) tab->SetEnabled(true);
    ShowPage(kResultsPage);
    ApplyFilters();
    // Said once the scan and search windows have closed, not over them.
    if (results_.empty())
        afterWork_ = [this] { OfferDeepScan("MSG0852", "MSG0853", CMessageBox::kInformation); };
}

void CMainWnd::OfferDeepScan(const char* afterQuick, const char* afterDeep, int afterDeepKind) {
    // After a quick scan the deep scan is the next thing to try, on the same
    // target; after a deep scan only another partition or drive is left.
    if (lastScanMode_ != CScanProcessWnd::kQuick) {
        CMessageBox::Show(afterDeepKind, this, Message(afterDeep));
        return;
    }
    if (CMessageBox::Show(CMessageBox::kQuestion, this, Message(afterQuick), Message("MSG0528")) != 1) return;
    scanMode_ = CScanProcessWnd::kDeep;
    imageMode_ = false;
    ShowPage(kDiskPage);
    StartScan();
}

void CMainWnd::RebuildTypeTree() {
    auto* tree = Find<CFileTreeUI>(QStringLiteral("TypeTree"));
    if (!tree) return;
    ClearResultTree();
    skin::TreeNode* nodes[6] = {};
    for (int i = 0; i < 6; ++i) {
        nodes[i] = Find<skin::TreeNode>(QString::fromLatin1(kCategories[i].node));
        if (!nodes[i]) return;
    }
    int counts[6] = {};
    // The search kept only chosen files; each stands under the category the
    // command line gives it: one child per file-type option ("Text" holds
    // txt, html and xml) or, for types no option names, per extension.
    QHash<const skin::CheckBox*, skin::TreeNode*> optionNodes;
    QHash<const skin::TreeNode*, int> nodeCounts;
    for (const auto& [extension, records] : extensions_) {
        if (records.empty()) continue;
        const std::string folder = CategoryFolderName(records.front()->Name());
        int category = kOtherCategory;
        for (int i = 0; i < kOtherCategory; ++i)
            if (folder == kCategories[i].name) category = i;
        skin::CheckBox* option = nullptr;
        if (category != kOtherCategory) {
            for (skin::CheckBox* candidate : FileTypeOptions(*this, kCategories[category].group)) {
                if (candidate->UserData().split(u'|').contains(extension)) {
                    option = candidate;
                    break;
                }
            }
        }
        skin::TreeNode* child = option ? optionNodes.value(option) : nullptr;
        if (!child) {
            child = new skin::TreeNode;
            if (const skin::AttributeList* style = Style(QStringLiteral("filetype"))) {
                for (const auto& [key, value] : *style) child->SetAttribute(key, value);
            }
            child->SetIcon(option ? option->Attribute(QStringLiteral("icon"))
                                  : FileKindIcon(records.front()->Name()));
            child->setToolTip(option ? option->Text() : QString());
            nodes[category]->AddChildNode(child);
            if (option) optionNodes.insert(option, child);
        }
        child->SetUserData(child->UserData().isEmpty() ? QStringLiteral("type:") + extension
                                                       : child->UserData() + u'|' + extension);
        auto& own = nodeRecords_[child];
        own.insert(own.end(), records.begin(), records.end());
        const int count = nodeCounts[child] += static_cast<int>(records.size());
        if (!option) {
            // A file without an extension is of unknown type; the others are named by their extension.
            const QString type = extension == u"unknow" ? Message("MSG0854") : extension.toUpper();
            child->SetText(Message("MSG0855")
                               .replace(QStringLiteral("%s"), type)
                               .replace(QStringLiteral("%d"), QString::number(count)));
        } else {
            child->SetText(QStringLiteral("%1 (%2)").arg(OptionTitle(option->Text())).arg(count));
        }
        nodes[category]->setVisible(true);
        counts[category] += static_cast<int>(records.size());
    }
    for (int i = 0; i < 6; ++i) {
        if (counts[i] > 0)
            nodes[i]->SetText(QStringLiteral("%1 (%2)").arg(Message(kCategories[i].title)).arg(counts[i]));
    }
}

void CMainWnd::ClearResultTree() {
    auto* tree = Find<CFileTreeUI>(QStringLiteral("TypeTree"));
    if (!tree) return;
    for (skin::TreeNode* top : std::exchange(folderTops_, {})) tree->RemoveAt(tree->GetItemIndex(top));
    nodeRecords_.clear();
    currentNode_ = nullptr;
    for (const Category& category : kCategories) {
        auto* node = Find<skin::TreeNode>(QString::fromLatin1(category.node));
        if (!node) continue;
        node->RemoveAllChildNodes();
        node->SetText(Message(category.title));
        node->SetCheckState(false, false);
        node->setVisible(false);
    }
}

void CMainWnd::RebuildFolderTree() {
    auto* tree = Find<CFileTreeUI>(QStringLiteral("TypeTree"));
    if (!tree) return;
    ClearResultTree();
    // The folders the files were in, as the search found them (the same paths
    // `recover --keep-folders` restores); folders of an earlier file system
    // whose names are lost go under one node, files found by their contents
    // under another, by type.
    struct Branch {
        std::map<std::string, Branch> folders;
        std::vector<const FoundItemRecord*> files;
        size_t total = 0;
    };
    Branch named, lost;
    std::map<QString, std::vector<const FoundItemRecord*>> carved;
    size_t carvedTotal = 0;
    for (const FoundItemRecord* record : shown_) {
        if (record->Engine() == EngineCode::kRawSignature) {
            carved[GroupingExtension(*record)].push_back(record);
            ++carvedTotal;
            continue;
        }
        const std::vector<std::string> parts = SplitFolderPath(FolderOf(*record));
        Branch* branch = !parts.empty() && parts.front().rfind("LostFolder", 0) == 0 ? &lost : &named;
        ++branch->total;
        for (const std::string& part : parts) {
            branch = &branch->folders[part];
            ++branch->total;
        }
        branch->files.push_back(record);
    }
    auto makeNode = [&](const QString& text, const QString& key, bool top) {
        auto* node = new skin::TreeNode;
        if (const skin::AttributeList* style =
                Style(top ? QStringLiteral("treenode") : QStringLiteral("filetype")))
            for (const auto& [name, value] : *style) node->SetAttribute(name, value);
        node->SetUserData(key);
        node->SetText(MarkupSafe(text));
        return node;
    };
    auto counted = [](const QString& text, size_t count) {
        return QStringLiteral("%1 (%2)").arg(text).arg(count);
    };
    std::function<void(skin::TreeNode*, const Branch&, const std::string&)> addFolders =
        [&](skin::TreeNode* parent, const Branch& branch, const std::string& path) {
            for (const auto& [name, below] : branch.folders) {
                const std::string childPath = path + name + '/';
                skin::TreeNode* child =
                    makeNode(counted(QString::fromStdString(name), below.total),
                             QStringLiteral("folder:") + QString::fromStdString(childPath), false);
                child->SetIcon(QStringLiteral("FileIcon/folder.png"));
                if (!below.folders.empty()) {
                    // A folder with folders in it folds like a top node.
                    if (const skin::AttributeList* style = Style(QStringLiteral("treenode")))
                        for (const auto& [name, value] : *style)
                            if (name.startsWith(u"folder")) child->SetAttribute(name, value);
                    child->SetAttribute(QStringLiteral("showfolder"), QStringLiteral("true"));
                }
                parent->AddChildNode(child);
                nodeRecords_[child] = below.files;
                addFolders(child, below, childPath);
            }
        };
    auto addTop = [&](const QString& text, const QString& key) {
        skin::TreeNode* top = makeNode(text, key, true);
        tree->AddNode(top);
        folderTops_.push_back(top);
        return top;
    };
    if (named.total > 0) {
        skin::TreeNode* top = addTop(counted(Message("MSG2121"), named.total), QStringLiteral("folder:"));
        nodeRecords_[top] = named.files;
        addFolders(top, named, std::string());
    }
    if (lost.total > 0) {
        skin::TreeNode* top = addTop(counted(Message("MSG2122"), lost.total), QStringLiteral("lost"));
        nodeRecords_[top] = lost.files;
        addFolders(top, lost, std::string());
    }
    if (carvedTotal > 0) {
        skin::TreeNode* top = addTop(counted(Message("MSG2123"), carvedTotal), QStringLiteral("carved"));
        for (const auto& [extension, records] : carved) {
            const QString type = extension == u"unknow" ? Message("MSG0854") : extension.toUpper();
            skin::TreeNode* child =
                makeNode(counted(type, records.size()), QStringLiteral("carved:") + extension, false);
            child->SetIcon(FileKindIcon(records.front()->Name()));
            top->AddChildNode(child);
            nodeRecords_[child] = records;
        }
    }
}

QString CMainWnd::NodeKey(const skin::TreeNode* node) const {
    return node->UserData().isEmpty() ? node->Name() : node->UserData();
}

skin::TreeNode* CMainWnd::ResultNode(const QString& key) const {
    auto* tree = Find<CFileTreeUI>(QStringLiteral("TypeTree"));
    if (!tree) return nullptr;
    for (int i = 0; i < tree->GetCount(); ++i) {
        auto* node = dynamic_cast<skin::TreeNode*>(tree->GetItemAt(i));
        if (node && node->IsShownByUser() && NodeKey(node) == key) return node;
    }
    return nullptr;
}

void CMainWnd::ShowResultsByFolder(bool byFolder) {
    byFolder_ = byFolder;
    if (auto* option = Find<skin::Option>(QStringLiteral("ViewByFolder"))) option->Selected(byFolder, false);
    if (auto* option = Find<skin::Option>(QStringLiteral("ViewByType"))) option->Selected(!byFolder, false);
    ApplyFilters();
}

void CMainWnd::ApplyFilters() {
    // The filter bar: a limit that does not read as a size or date is shown
    // in red and left out, so the list never silently follows a typo.
    FileFilter filter;
    if (auto* box = Find<skin::CheckBox>(QStringLiteral("FilterHideDamaged")))
        filter.hideMayNotOpen = box->IsSelected();
    auto read = [this](const char* name, const std::function<bool(const QString&)>& parse) {
        auto* edit = Find<CEditUI>(QString::fromLatin1(name));
        if (!edit) return;
        const QString text = edit->Typed().trimmed();
        edit->SetInvalid(!text.isEmpty() && !parse(text));
    };
    read("FilterMinSize", [&](const QString& text) {
        return ParseSize(QString(text).replace(u',', u'.').toStdString(), filter.minSize);
    });
    read("FilterMaxSize", [&](const QString& text) {
        return ParseSize(QString(text).replace(u',', u'.').toStdString(), filter.maxSize);
    });
    read("FilterSince",
         [&](const QString& text) { return filter.haveSince = ParseFilterDate(text, false, filter.since); });
    read("FilterUntil",
         [&](const QString& text) { return filter.haveUntil = ParseFilterDate(text, true, filter.until); });
    filter_ = filter;

    const QString key = currentNode_ ? NodeKey(currentNode_) : QString();
    shown_.clear();
    // Each volume's size and sector size are asked once, not once per file:
    // that was a look at the image file (or the drive) for each of a million.
    struct Volume {
        uint16_t key;
        uint64_t bytes;
        uint32_t sectorSize;
    };
    std::vector<Volume> volumes;
    for (const ScanTarget* target : Targets())
        if (target) volumes.push_back({target->VolumeKey(), target->VolumeBytes(), target->SectorSize()});
    for (const FoundItemRecord& record : results_) {
        const auto volume = std::find_if(volumes.begin(), volumes.end(),
                                         [&](const Volume& v) { return v.key == record.letter; });
        const bool known = volume != volumes.end();
        if (PassesFileFilter(filter_, record, known ? volume->bytes : 0, known ? volume->sectorSize : 512))
            shown_.push_back(&record);
    }
    // A file the filters hide is not recovered behind the person's back.
    if (!checked_.empty()) {
        std::vector<uint64_t> shownKeys;
        shownKeys.reserve(shown_.size());
        for (const FoundItemRecord* record : shown_) shownKeys.push_back(CheckedFileKey(*record));
        std::sort(shownKeys.begin(), shownKeys.end());
        std::erase_if(checked_, [&](const auto& entry) {
            return !std::binary_search(shownKeys.begin(), shownKeys.end(), entry.first);
        });
    }
    extensions_ = BuildExtensionMap(shown_);
    if (byFolder_)
        RebuildFolderTree();
    else
        RebuildTypeTree();
    // The list stays on the node it showed; else it opens with the first one
    // that has files: an empty list after "found 9 files" reads as if they were gone.
    skin::TreeNode* node = key.isEmpty() ? nullptr : ResultNode(key);
    if (auto* tree = Find<CFileTreeUI>(QStringLiteral("TypeTree")); tree && !node) {
        for (skin::TreeNode* top : tree->TopNodes()) {
            if (top->IsShownByUser() && !RecordsOfNode(top).empty()) {
                node = top;
                break;
            }
        }
    }
    if (node) {
        ShowFilesOf(node);
    } else {
        nodeFiles_.clear();
        ApplyNameFilter(false);
    }
}

void CMainWnd::OnTextChanged(skin::Control* sender) {
    const QString name = sender->Name();
    if (name == u"SearchEdit") {
        nameFilter_ = sender->Text();
        ApplyNameFilter(false);
    } else if (name.startsWith(u"Filter")) {
        ApplyFilters();
    }
}

void CMainWnd::ShowFilesOf(skin::TreeNode* node) {
    auto* tree = Find<CFileTreeUI>(QStringLiteral("TypeTree"));
    if (!tree || !node) return;
    tree->SelectItem(tree->GetItemIndex(node), false);
    FillFileList(node);
}

std::vector<const FoundItemRecord*> CMainWnd::RecordsOfNode(const skin::TreeNode* node) const {
    std::vector<const FoundItemRecord*> records;
    std::vector<const skin::TreeNode*> pending{node};
    while (!pending.empty()) {
        const skin::TreeNode* next = pending.back();
        pending.pop_back();
        if (auto own = nodeRecords_.constFind(next); own != nodeRecords_.constEnd())
            records.insert(records.end(), own->begin(), own->end());
        // Children in reverse, so the list follows the tree from top to bottom.
        const auto& children = next->ChildNodes();
        for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back(*it);
    }
    return records;
}

void CMainWnd::FillFileList(skin::TreeNode* node) {
    if (!node) return;
    currentNode_ = node;
    nodeFiles_ = RecordsOfNode(node);
    ApplyNameFilter(false);
}

void CMainWnd::ApplyNameFilter(bool keepPage) {
    listed_.clear();
    const std::string pattern = nameFilter_.trimmed().toStdString();
    for (const FoundItemRecord* record : nodeFiles_)
        if (NameMatches(pattern, ResultNameView(*record))) listed_.push_back(record);
    if (!keepPage) page_ = 0;
    ShowListedRows();
}

std::string CMainWnd::FolderOf(const FoundItemRecord& record) const {
    if (!results_.empty() && &record >= results_.data() && &record < results_.data() + results_.size()) {
        const size_t index = static_cast<size_t>(&record - results_.data());
        if (index < resultFolders_.size()) return resultFolders_[index];
    }
    std::string folder;
    if (ScanTarget* target = TargetOfVolumeKey(Targets(), record.letter); target && target->engine)
        static_cast<void>(target->engine->GetFolderPath(record, folder));
    return folder;
}

const FoundItemRecord* CMainWnd::RecordOfRow(int row) const {
    const size_t index = static_cast<size_t>(page_) * kPageRows + static_cast<size_t>(row);
    return row >= 0 && index < listed_.size() ? listed_[index] : nullptr;
}

FileCondition CMainWnd::ConditionOfRecord(const FoundItemRecord& record) const {
    const ScanTarget* target = TargetOfVolumeKey(Targets(), record.letter);
    return target ? ConditionOf(record, target->VolumeBytes(), target->SectorSize())
                  : ConditionOf(record, 0, 512);
}

QStringList CMainWnd::RowTexts(const FoundItemRecord& record) const {
    const std::string folder = FolderOf(record);
    return {QString(),
            QString::fromStdString(record.Name()),
            record.IsFolder() ? QString() : SizeText(record.size),
            FileTimeText(record.written),
            FileTimeText(record.created),
            QString::fromStdString(folder),
            FileTypeText(record),
            record.IsFolder() ? QString() : ConditionText(ConditionOfRecord(record))};
}

void CMainWnd::ShowListedRows() {
    auto* list = Find<skin::List>(QStringLiteral("FileList"));
    if (!list) return;
    list->RemoveAll();
    // Thousands of rows at once would make the window slow to draw: one page at a time.
    const int pages = static_cast<int>((listed_.size() + kPageRows - 1) / kPageRows);
    page_ = std::clamp(page_, 0, std::max(0, pages - 1));
    if (auto* pager = Find<CPaginationUI>(QStringLiteral("FilePages"))) {
        pager->SetPageCount(pages);
        pager->SetCurrentPage(page_, false);
        pager->setVisible(pages > 1);
    }
    const size_t first = static_cast<size_t>(page_) * kPageRows;
    const size_t end = std::min(listed_.size(), first + kPageRows);
    for (size_t i = first; i < end; ++i) {
        const FoundItemRecord* record = listed_[i];
        auto* row = new skin::ListImageTextElement;
        row->SetCheckPictures(QLatin1String(kUnchecked), QLatin1String(kChecked));
        row->SetChecked(checked_.count(CheckedFileKey(*record)) != 0);
        const ScanTarget* target = TargetOfVolumeKey(Targets(), record->letter);
        const QString icon =
            target ? FileIconOf(*record, target->VolumeBytes(), target->SectorSize()) : FileIconOf(*record);
        row->SetImage(1, QStringLiteral("file='%1' dest='4,0,20,16'").arg(icon));
        QStringList texts = RowTexts(*record);
        // A deleted short name whose lost first letter was guessed says so.
        if (record->NameGuessed()) texts[1] += QLatin1Char(' ') + Message("MSG1227");
        for (int column = 1; column < texts.size(); ++column) row->SetText(column, texts[column]);
        list->Add(row);
    }
    // The grid shows every listed file at once: it draws only the cells in sight.
    if (auto* grid = Find<CThumbnailGridUI>(QStringLiteral("ThumbGrid"))) grid->SetFiles(listed_);
    UpdateFileView();
    OnFilesChecked();
}

void CMainWnd::SetRecordChecked(const FoundItemRecord& record, bool checked) {
    if (checked)
        checked_[CheckedFileKey(record)] = record;
    else
        checked_.erase(CheckedFileKey(record));
}

void CMainWnd::OnFilesChecked() {
    uint64_t bytes = 0;
    for (const auto& [key, record] : checked_) bytes += record.size;
    if (skin::Control* recover = FindControl(QStringLiteral("BtnRecover")))
        recover->SetEnabled(!checked_.empty());
    if (skin::Control* info = FindControl(QStringLiteral("SelectedFileInfo"))) {
        if (checked_.empty()) {
            info->SetText(Message("MSG0803"));
        } else {
            info->SetText(Message("MSG0804")
                              .replace(QStringLiteral("%s"), SizeText(bytes))
                              .replace(QStringLiteral("%d"), QString::number(checked_.size())));
        }
    }
    // The header box and the list's tree node show the state of the list (all its pages).
    size_t checkedRows = 0;
    for (const FoundItemRecord* record : listed_) checkedRows += checked_.count(CheckedFileKey(*record));
    const size_t rows = listed_.size();
    if (auto* all = Find<skin::CheckBox>(QStringLiteral("ChkAllListSel"))) {
        all->Selected(rows > 0 && checkedRows == rows, false);
        all->SetHalfSelected(checkedRows > 0 && checkedRows < rows);
    }
    auto* tree = Find<CFileTreeUI>(QStringLiteral("TypeTree"));
    if (!tree) return;
    // Every node reflects the checked files below it: all ticked, some (half), or none.
    struct Tally {
        size_t on = 0, all = 0;
    };
    std::function<Tally(skin::TreeNode*)> tally = [&](skin::TreeNode* node) {
        Tally t;
        if (auto own = nodeRecords_.constFind(node); own != nodeRecords_.constEnd()) {
            t.all = own->size();
            for (const FoundItemRecord* record : *own) t.on += checked_.count(CheckedFileKey(*record));
        }
        for (skin::TreeNode* child : node->ChildNodes()) {
            const Tally below = tally(child);
            t.on += below.on;
            t.all += below.all;
        }
        node->SetCheckState(t.all > 0 && t.on == t.all, t.on > 0 && t.on < t.all);
        return t;
    };
    for (skin::TreeNode* top : tree->TopNodes()) tally(top);
}

void CMainWnd::OnTreeNodeChecked(skin::TreeNode* node) {
    // A node stands for every file below it: ticking a folder ticks its subfolders' files too.
    const bool checked = node->IsChecked();
    for (const FoundItemRecord* record : RecordsOfNode(node)) SetRecordChecked(*record, checked);
    // Ticking a category shows what was ticked.
    if (checked) {
        ShowFilesOf(node);
        return;
    }
    if (auto* list = Find<skin::List>(QStringLiteral("FileList"))) {
        for (int i = 0; i < list->GetCount(); ++i) {
            auto* row = dynamic_cast<skin::ListTextElement*>(list->GetItemAt(i));
            if (const FoundItemRecord* record = RecordOfRow(i); row && record)
                row->SetChecked(checked_.count(CheckedFileKey(*record)) != 0);
        }
    }
    if (skin::Control* grid = FindControl(QStringLiteral("ThumbGrid"))) grid->update();
    OnFilesChecked();
}

void CMainWnd::OnListChecked(int index, bool checked) {
    const FoundItemRecord* record = RecordOfRow(index);
    if (!record) return;
    SetRecordChecked(*record, checked);
    OnFilesChecked();
}

void CMainWnd::SortFileList(skin::Control* header) {
    auto* list = Find<skin::List>(QStringLiteral("FileList"));
    if (!list || !header) return;
    const QString name = header->Name();
    static const QStringList kColumns = {QStringLiteral("CheckAll"),    QStringLiteral("FileName"),
                                         QStringLiteral("Size"),        QStringLiteral("ModifiedTime"),
                                         QStringLiteral("CreatedTime"), QStringLiteral("Path"),
                                         QStringLiteral("Type"),        QStringLiteral("Condition")};
    const int column = static_cast<int>(kColumns.indexOf(name));
    if (column <= 0) return;
    for (const QString& other : kColumns) {
        if (skin::Control* item = FindControl(other); item && other != u"CheckAll")
            item->SetBkImage(QStringLiteral("file='list_header_bg.png' corner='0,1,0,1'"));
    }
    int& direction = sortDirections_[name];
    if (name == u"FileName" || name == u"Type" || name == u"Condition")
        direction = direction == 1 ? -1 : 1;
    else if (name != u"Path")
        direction = direction == -1 ? 1 : -1;
    const bool ascending = direction == 1;
    header->SetBkImage(ascending ? QStringLiteral("file='list_header_asc.png' corner='0,1,13,1'")
                                 : QStringLiteral("file='list_header_desc.png' corner='0,1,13,1'"));
    // Sizes and dates sort as numbers (a file without a date first when
    // ascending); the other columns by their text. All of the node's files are
    // sorted, so the order holds when the search box changes what is listed.
    SortListedRecords(nodeFiles_, column, ascending,
                      [this, column](const FoundItemRecord& record) { return RowTexts(record)[column]; });
    ApplyNameFilter(true);
}

void CMainWnd::StartRecovery() {
    // The dialog starts where files went last time, else in the person's home.
    UserSettings settings;
    QString start = settings.LastDestination();
    if (start.isEmpty() || !QFileInfo(start).isDir()) start = QDir::homePath();
    const QString chosen = folderChooser_
                               ? folderChooser_()
                               : QFileDialog::getExistingDirectory(this, Message("MSG0856"), start);
    if (chosen.isEmpty()) return;
    QString folder = chosen;
    while (folder.size() > 1 && (folder.endsWith(u'/') || folder.endsWith(u'\\'))) folder.chop(1);
    destination_ = folder.toStdString();

    // Writing onto a scanned partition can overwrite the very files being recovered.
    uint64_t device = 0;
    std::error_code ec;
    std::filesystem::path probe = std::filesystem::absolute(destination_, ec);
    while (!probe.empty() && probe != probe.root_path() && !std::filesystem::exists(probe, ec))
        probe = probe.parent_path();
    bool onSource = false, onImage = false;
    // An image the system also reads through a loop device: the file system
    // there is the image itself, and writing to it would change what is being
    // recovered from.
    for (const auto& target : targets_)
        if (target->engine && !target->imagePath.empty() &&
            FolderLiesOn(destination_, DevicesBackedByFile(target->imagePath)))
            onImage = true;
    if (GetPathDeviceNumber(probe, device) == 0) {
        for (const auto& target : targets_) {
            if (!target->engine || target->IsImage()) continue;
            for (uint64_t d : ImagedDeviceNumbers(&*target->partition, target->partition->diskNumber))
                onSource = onSource || d == device;
        }
    }
    if (onImage) {
        CMessageBox::Show(CMessageBox::kWarning, this, Message("MSG0806"));
        return;
    }
    if (onSource && CMessageBox::Show(CMessageBox::kConfirm, this, Message("MSG0805")) != 1) return;
    // Only a folder the person chose is remembered (the screenshot mode answers for itself).
    if (!folderChooser_) settings.SetLastDestination(QString::fromStdString(destination_.string()));
    RunWorker(new CRecoverProcessWnd(checked_, Targets(), destination_), this, CRecoverProcessWnd::kWidth,
              CRecoverProcessWnd::kHeight);
}

CPreviewController& CMainWnd::Preview() {
    if (!preview_) {
        auto* pane = Find<skin::RichEdit>(QStringLiteral("PreviewEdit"));
        // The layout always has the pane; a stand-in keeps a broken skin from crashing.
        QTextBrowser* browser = pane ? pane->Browser() : new QTextBrowser(this);
        preview_ = std::make_unique<CPreviewController>(browser, this,
                                                        QString::fromStdString(HelperProgramDir().string()),
                                                        QString::fromStdString(ScanLogDir().string()));
        preview_->SetRunExtraction([this](IFileRecoveryParse& engine, const FoundItemRecord& record,
                                          CPreviewWnd& holder, const PreviewExtractionEnv& env) {
            return RunWorker(new CPreviewProcessWnd(engine, record, holder, env), this,
                             CPreviewProcessWnd::kWidth, CPreviewProcessWnd::kHeight);
        });
    }
    return *preview_;
}

void CMainWnd::StartPreview(int index) {
    const FoundItemRecord* found = RecordOfRow(index);
    if (!found) return;
    lastPreviewRow_ = index;
    lastPreview_.start();
    PreviewRecord(*found);
}

void CMainWnd::PreviewRecord(const FoundItemRecord& record) {
    ScanTarget* target = TargetOfVolumeKey(Targets(), record.letter);
    {
        // The pane reads the picture the engine wrote after the extraction has
        // ended: the thumbnails, which read through the same place, wait until then.
        const CThumbnailMaker::Hold hold(thumbs_.get());
        // A folder row needs no engine: the pane only says it is a folder.
        Preview().Preview(record, target && target->engine ? target->engine.get() : nullptr);
    }
    if (!record.IsFolder()) {
        // A file put back together from pieces says so after its condition.
        QString condition = ConditionText(ConditionOfRecord(record));
        if (const std::string note = RebuiltNote(record); !note.empty())
            condition += QStringLiteral(", ") + QString::fromStdString(note);
        Preview().Pane().AppendText(
            Message("MSG2105").replace(QStringLiteral("%s"), condition),
            MayNotOpen(ConditionOfRecord(record)) ? PreviewPane::Style::kNotice : PreviewPane::Style::kPlain);
    }
}

void CMainWnd::SetUpThumbnailGrid() {
    auto* grid = Find<CThumbnailGridUI>(QStringLiteral("ThumbGrid"));
    if (!grid) return;
    grid->SetFaceOf([this](const FoundItemRecord& record) {
        CThumbnailGridUI::Face face;
        face.name = QString::fromStdString(record.Name());
        face.checked = checked_.count(CheckedFileKey(record)) != 0;
        if (const FileCondition condition = ConditionOfRecord(record);
            !record.IsFolder() && MayNotOpen(condition))
            face.badge = ConditionText(condition);
        face.icon = record.IsFolder()
                        ? QStringLiteral("FileIconLarge/folder.png")
                        : FileKindIcon(record.Name())
                              .replace(QStringLiteral("FileIcon/"), QStringLiteral("FileIconLarge/"));
        return face;
    });
    grid->SetWanted([this](const std::vector<const FoundItemRecord*>& records) { WantThumbnails(records); });
}

void CMainWnd::WantThumbnails(const std::vector<const FoundItemRecord*>& records) {
    auto* grid = Find<CThumbnailGridUI>(QStringLiteral("ThumbGrid"));
    if (!grid) return;
    std::vector<ThumbnailJob> jobs;
    const std::vector<ScanTarget*> targets = Targets();
    for (const FoundItemRecord* record : records) {
        ScanTarget* target = TargetOfVolumeKey(targets, record->letter);
        IFileRecoveryParse* engine = target ? target->engine.get() : nullptr;
        if (!engine || !CThumbnailMaker::TriesPicture(*record)) {
            grid->SetThumbnail(CheckedFileKey(*record), QImage());
            continue;
        }
        auto folder = thumbnailFolders_.find(engine);
        if (folder == thumbnailFolders_.end())
            folder = thumbnailFolders_.emplace(engine, CThumbnailMaker::ScanFolderOf(*engine)).first;
        jobs.push_back({CheckedFileKey(*record), *record, engine,
                        CThumbnailMaker::CacheFileOf(folder->second, *record)});
    }
    if (jobs.empty() && !thumbs_) return;
    if (!thumbs_) {
        thumbs_ = std::make_unique<CThumbnailMaker>(
            [grid](uint64_t key, const QImage& picture) { grid->SetThumbnail(key, picture); });
    }
    thumbs_->Want(std::move(jobs));
}

void CMainWnd::ForgetThumbnails() {
    if (thumbs_) thumbs_->Forget();
    thumbnailFolders_.clear();
    if (auto* grid = Find<CThumbnailGridUI>(QStringLiteral("ThumbGrid"))) grid->ForgetThumbnails();
}

void CMainWnd::ShowThumbnails(bool thumbnails) {
    thumbnailsChosen_ = thumbnails;
    UpdateFileView();
}

bool CMainWnd::ThumbnailsShown() const {
    const skin::Control* grid = FindControl(QStringLiteral("ThumbGrid"));
    return grid && grid->IsVisible();
}

void CMainWnd::UpdateFileView() {
    auto* list = FindControl(QStringLiteral("FileList"));
    auto* grid = Find<CThumbnailGridUI>(QStringLiteral("ThumbGrid"));
    if (!list || !grid) return;
    // Decided by the node's files, not by what the search box lets through:
    // typing a name must not turn the pictures into a list.
    const bool pictures =
        std::any_of(nodeFiles_.begin(), nodeFiles_.end(), [](const FoundItemRecord* record) {
            return !record->IsFolder() && CThumbnailMaker::IsPictureType(record->Name());
        });
    const bool showGrid = thumbnailsChosen_ && pictures;
    list->setVisible(!showGrid);
    grid->setVisible(showGrid);
    if (auto* pager = Find<CPaginationUI>(QStringLiteral("FilePages")))
        pager->setVisible(!showGrid && listed_.size() > static_cast<size_t>(kPageRows));
    if (auto* option = Find<skin::Option>(QStringLiteral("ViewAsThumbnails"))) {
        option->SetEnabled(pictures);
        option->Selected(showGrid, false);
    }
    if (auto* option = Find<skin::Option>(QStringLiteral("ViewAsList"))) option->Selected(!showGrid, false);
    // Thumbnails of a grid out of sight are not made.
    if (!showGrid && thumbs_) thumbs_->Want({});
}

void CMainWnd::OnGridChecked(int index, bool checked) {
    if (index < 0 || static_cast<size_t>(index) >= listed_.size()) return;
    const FoundItemRecord& record = *listed_[static_cast<size_t>(index)];
    SetRecordChecked(record, checked);
    // The list's row of the same file, when its page is the one listed.
    const int row = index - page_ * kPageRows;
    if (auto* list = Find<skin::List>(QStringLiteral("FileList"))) {
        if (auto* element = dynamic_cast<skin::ListTextElement*>(list->GetItemAt(row));
            element && RecordOfRow(row) == &record)
            element->SetChecked(checked);
    }
    if (skin::Control* grid = FindControl(QStringLiteral("ThumbGrid"))) grid->update();
    OnFilesChecked();
}

}  // namespace sorvane::app

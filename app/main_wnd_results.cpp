// The results side of the main window: the search after a scan, the type tree
// and file list, checking files, recovering them and previewing one.
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSet>
#include <QTextBrowser>
#include <algorithm>
#include <set>
#include <string_view>

#include "app/file_tree.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/pagination.h"
#include "app/recover_process_wnd.h"
#include "app/scan_process_wnd.h"
#include "app/skin_framework/controls.h"
#include "app/skin_framework/list.h"
#include "app/startup.h"
#include "app/user_settings.h"
#include "device/disk_volume_list.h"
#include "platform/data_dirs.h"
#include "platform/disk_layout.h"
#include "platform/volume_registry.h"
#include "results/file_categories.h"
#include "results/image_copy.h"

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
    results_.clear();
    OnFilesChecked();
    std::vector<ScanTarget*> chosen = TargetsOfRow(SelectedDiskRow(), true);
    if (chosen.empty()) chosen = scanned;
    RunWorker(new CSearchProcessWnd(chosen, ChosenTypes(), results_), this, CSearchProcessWnd::kWidth,
              CSearchProcessWnd::kHeight);
}

void CMainWnd::OnSearchDone() {
    if (auto* list = Find<skin::List>(QStringLiteral("FileList"))) list->RemoveAll();
    listed_.clear();
    if (skin::Control* preview = FindControl(QStringLiteral("PreviewEdit"))) preview->SetText(QString());
    extensions_ = BuildExtensionMap(results_);
    if (skin::Control* tab = FindControl(QStringLiteral("TabRecover"))) tab->SetEnabled(true);
    RebuildTypeTree();
    ShowPage(kResultsPage);
    // The list opens with the first category's files: an empty list after
    // "found 9 files" reads as if they were gone.
    for (const Category& category : kCategories) {
        auto* node = Find<skin::TreeNode>(QString::fromLatin1(category.node));
        if (node && node->IsShownByUser()) {
            ShowFilesOf(node);
            break;
        }
    }
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
    nodeExtensions_.clear();
    skin::TreeNode* nodes[6] = {};
    for (int i = 0; i < 6; ++i) {
        nodes[i] = Find<skin::TreeNode>(QString::fromLatin1(kCategories[i].node));
        if (!nodes[i]) return;
        nodes[i]->RemoveAllChildNodes();
        nodes[i]->SetText(Message(kCategories[i].title));
        nodes[i]->SetCheckState(false, false);
        nodes[i]->setVisible(false);
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
        nodeExtensions_[child].push_back(extension);
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

void CMainWnd::ShowFilesOf(skin::TreeNode* node) {
    auto* tree = Find<CFileTreeUI>(QStringLiteral("TypeTree"));
    if (!tree || !node) return;
    tree->SelectItem(tree->GetItemIndex(node), false);
    FillFileList(node);
}

std::vector<const FoundItemRecord*> CMainWnd::RecordsOfNode(const skin::TreeNode* node) const {
    std::vector<const FoundItemRecord*> records;
    for (const QString& extension : nodeExtensions_.value(node)) {
        if (auto found = extensions_.find(extension); found != extensions_.end())
            records.insert(records.end(), found->second.begin(), found->second.end());
    }
    return records;
}

void CMainWnd::FillFileList(skin::TreeNode* node) {
    if (!node) return;
    listed_ = RecordsOfNode(node);
    for (skin::TreeNode* child : node->ChildNodes()) {
        const auto records = RecordsOfNode(child);
        listed_.insert(listed_.end(), records.begin(), records.end());
    }
    page_ = 0;
    ShowListedRows();
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
    std::string folder;
    if (ScanTarget* target = TargetOfVolumeKey(Targets(), record.letter); target && target->engine)
        static_cast<void>(target->engine->GetFolderPath(record, folder));
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
    // Every type node reflects the checked files of its extension.
    for (auto it = nodeExtensions_.constBegin(); it != nodeExtensions_.constEnd(); ++it) {
        auto* node = const_cast<skin::TreeNode*>(it.key());
        const auto records = RecordsOfNode(node);
        size_t on = 0;
        for (const FoundItemRecord* record : records) on += checked_.count(CheckedFileKey(*record));
        node->SetCheckState(on == records.size() && on > 0, on > 0 && on < records.size());
        CFileTreeUI::UpdateAncestors(node);
    }
}

void CMainWnd::OnTreeNodeChecked(skin::TreeNode* node) {
    const bool checked = node->IsChecked();
    auto apply = [&](skin::TreeNode* n) {
        for (const FoundItemRecord* record : RecordsOfNode(n)) SetRecordChecked(*record, checked);
    };
    apply(node);
    for (skin::TreeNode* child : node->ChildNodes()) apply(child);
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
    // Sort the records, then rebuild the rows in the new order.
    std::vector<std::pair<const FoundItemRecord*, QString>> keyed;
    for (const FoundItemRecord* record : listed_) keyed.emplace_back(record, RowTexts(*record)[column]);
    std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
        if (column == 2) return ascending ? a.first->size < b.first->size : a.first->size > b.first->size;
        // A row without text sorts first when ascending.
        const int order = a.second.compare(b.second, Qt::CaseInsensitive);
        return ascending ? order < 0 : order > 0;
    });
    listed_.clear();
    for (const auto& [record, text] : keyed) listed_.push_back(record);
    ShowListedRows();
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
    const FoundItemRecord& record = *found;
    ScanTarget* target = TargetOfVolumeKey(Targets(), record.letter);
    // A folder row needs no engine: the pane only says it is a folder.
    Preview().Preview(record, target && target->engine ? target->engine.get() : nullptr);
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

}  // namespace sorvane::app

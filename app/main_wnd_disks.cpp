// The disk page of the main window: the disk list with its scan targets, image
// rows, the target information labels, and starting a scan.
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include "app/create_image_process_wnd.h"
#include "app/device_watcher.h"
#include "app/list_ex.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/scan_process_wnd.h"
#include "app/thumbnail_maker.h"
#include "device/disk_reader.h"
#include "platform/drive_table.h"
#include "platform/result_codes.h"
#include "results/image_copy.h"
#include "results/scan_resume_store.h"
#include "results/size_text.h"

namespace sorvane::app {
namespace {

constexpr int kRowHeight = 30;

bool IsExternalDisk(int diskNumber) {
    std::optional<DriveInfo> drive = DriveTable::Instance().Drive(diskNumber);
    if (!drive || drive->isImage) return false;
    return DiskIsRemovable(drive->name) || DiskIsOnUsbOrSd(drive->name);
}

CListImageTextNodeUI* NewRow() {
    auto* row = new CListImageTextNodeUI;
    row->SetFixedHeight(kRowHeight);
    return row;
}

QString Utf8(const std::string& text) { return QString::fromStdString(text); }

void FillPartitionRow(CListImageTextNodeUI* row, const VolumeEntry& entry, const QString& name,
                      bool external) {
    row->SetText(0, QStringLiteral("{f 4}{x 2}%1{/f}").arg(MarkupSafe(name)));
    row->SetText(1, QStringLiteral("{f 4}%1{/f}").arg(MarkupSafe(Utf8(entry.fileSystemName))));
    row->SetText(2, QStringLiteral("{f 4}%1{/f}").arg(SizeText(entry.totalBytes)));
    row->SetImage(0, external ? QStringLiteral("file='drive_usb.png' dest='28,0,50,24'")
                              : QStringLiteral("file='drive.png' dest='28,0,50,24'"));
}

}  // namespace

void CMainWnd::WatchDevices(int settleMs, bool pollOnly, int pollMs) {
    watcher_ = std::make_unique<CDeviceWatcher>([this] { RefreshDiskList(); }, settleMs, pollMs);
    if (!watcher_->Start(pollOnly) && !pollOnly)
        qInfo("Sorvane: no device events; looking for new disks every two seconds");
}

QString CMainWnd::PartitionName(const VolumeEntry& entry) {
    // Drive letters mean nothing here: a partition is named by its number, file
    // system, label and size, as a person tells their cards apart.
    QStringList parts;
    if (entry.IsVolume()) {
        const int number = entry.partitionNumber > 0 ? entry.partitionNumber : entry.letter;
        parts << Message("MSG0524").replace(QStringLiteral("%d"), QString::number(number));
    } else {
        parts << Message(entry.start == 0 ? "MSG0525" : "MSG0526");
    }
    if (!entry.fileSystemName.empty()) parts << Utf8(entry.fileSystemName);
    if (!entry.label.empty()) parts << Utf8(entry.label);
    parts << SizeText(entry.totalBytes);
    return parts.join(QStringLiteral(" \u00B7 "));
}

std::vector<ScanTarget*> CMainWnd::Targets() const {
    std::vector<ScanTarget*> out;
    for (const auto& target : targets_) out.push_back(target.get());
    return out;
}

skin::ListElement* CMainWnd::AddDiskRows(const std::vector<VolumeEntry>& entries, int diskNumber,
                                         const std::string& name) {
    auto* list = Find<CDiskListUI>(QStringLiteral("DiskList"));
    if (!list || entries.empty()) return nullptr;
    auto* disk = NewRow();
    disk->SetText(0, QStringLiteral("{f 5}{x 5}{i removable_drive.png 1 0}{x 2}%1 %2{/5}")
                         .arg(Message("MSG0202"))
                         .arg(diskNumber));
    CListExUI::Node* diskNode = list->AddNode(nullptr, disk);
    rows_.insert(disk, RowInfo{nullptr, true, name});
    disk->setToolTip(QStringLiteral("/dev/") + Utf8(name));
    skin::ListElement* first = nullptr;
    for (const VolumeEntry& entry : entries) {
        auto target = std::make_unique<ScanTarget>();
        target->partition = entry;
        // Regions and whole disks have no number of their own.
        if (!entry.IsVolume()) target->imageVolumeKey = nextImageKey_++;
        auto* row = NewRow();
        FillPartitionRow(row, entry, PartitionName(entry), true);
        list->AddNode(diskNode, row);
        if (!first) first = row;
        rows_.insert(row, RowInfo{target.get(), false, {}});
        targets_.push_back(std::move(target));
    }
    return first;
}

int CMainWnd::RunWorker(CProcessWnd* window, QWidget* parent, int width, int height) {
    ++workers_;
    // The engines serve one reader at a time: thumbnails wait while the work reads.
    const CThumbnailMaker::Hold hold(thumbs_.get());
    const int code = CProcessWnd::Run(window, parent, width, height);
    if (--workers_ == 0 && refreshAfterWork_) {
        refreshAfterWork_ = false;
        RefreshDiskList();
    }
    // What waits for the work to end runs from the event loop, after the
    // caller of this (outermost) window has finished too.
    if (workers_ == 0 && afterWork_)
        QTimer::singleShot(0, this, [this] {
            if (auto next = std::exchange(afterWork_, nullptr)) next();
        });
    return code;
}

void CMainWnd::RefreshDiskList() {
    auto* list = Find<CDiskListUI>(QStringLiteral("DiskList"));
    if (!list) return;
    DriveTable::Instance().Refresh();
    CDiskVolumeList volumes;
    std::vector<VolumeEntry> entries;
    if (volumes.RefreshDiskList()) volumes.GetAllVolumeEntries(entries);
    std::map<std::string, std::pair<int, std::vector<VolumeEntry>>> present;  // by kernel name
    for (const VolumeEntry& entry : entries) {
        if (!IsExternalDisk(entry.diskNumber)) continue;
        auto& disk = present[DriveTable::Instance().Drive(entry.diskNumber)->name];
        disk.first = entry.diskNumber;
        disk.second.push_back(entry);
    }
    // Disks that are gone lose their rows and targets; disks still there keep
    // theirs (and their results), with their drive number brought up to date.
    std::vector<CListExUI::Node*> gone;
    for (CListExUI::Node* node : list->Root()->children) {
        const RowInfo info = rows_.value(node->row);
        if (info.diskName.empty()) continue;
        auto still = present.find(info.diskName);
        if (still == present.end()) {
            gone.push_back(node);
            continue;
        }
        for (CListExUI::Node* child : node->children) {
            if (ScanTarget* target = rows_.value(child->row).target; target && target->partition)
                target->partition->diskNumber = still->second.first;
        }
        present.erase(still);
    }
    // A worker may be reading a disk that left: its target stays until the work ends.
    if (workers_ > 0 && !gone.empty()) {
        refreshAfterWork_ = true;
        gone.clear();
    }
    if (!gone.empty()) ForgetThumbnails();
    for (CListExUI::Node* node : gone) {
        for (CListExUI::Node* child : node->children) {
            if (const RowInfo c = rows_.value(child->row); c.target)
                std::erase_if(targets_, [&](const auto& t) { return t.get() == c.target; });
            rows_.remove(child->row);
        }
        rows_.remove(node->row);
        list->RemoveNode(node);
    }
    skin::ListElement* added = nullptr;
    for (const auto& [name, disk] : present) {
        if (skin::ListElement* row = AddDiskRows(disk.second, disk.first, name); row && !added) added = row;
    }
    // A disk that just arrived is what the user wants to scan, unless a scan is running.
    if (added && !scanning_) {
        list->SelectItem(list->GetItemIndex(added), false);
        ShowTargetInfo(added);
    }
}

bool CMainWnd::OpenImageFile(const std::filesystem::path& imagePath) {
    auto* list = Find<CDiskListUI>(QStringLiteral("DiskList"));
    std::error_code ec;
    const std::filesystem::path image = std::filesystem::absolute(imagePath, ec);
    if (!list || !std::filesystem::is_regular_file(image, ec)) return false;
    const uint64_t bytes = std::filesystem::file_size(image, ec);
    if (ec) return false;
    // Before the window is shown its texts are not loaded and the start-up
    // would reset the selection: images named at start wait until then.
    if (!ready_) {
        pendingImages_.push_back(image);
        return true;
    }

    // The heading row of all image rows, made with the first image.
    CListExUI::Node* heading = nullptr;
    for (CListExUI::Node* node : list->Root()->children) {
        if (node->row && node->row->Name() == u"ImageFile") heading = node;
    }
    if (!heading) {
        auto* row = NewRow();
        row->SetName(QStringLiteral("ImageFile"));
        row->SetText(0, QStringLiteral("{f 7}{x 5}{i image_files.png 1 0}{x 2}%1{/f}")
                            .arg(MarkupSafe(Message("MSG0215"))));
        heading = list->AddNode(nullptr, row);
        rows_.insert(row, RowInfo{nullptr, true, {}});
    }
    auto* row = NewRow();
    // The file name is what a person looks for; the whole path is in the details and the tool tip.
    row->SetText(
        0, QStringLiteral("{f 5}%1{/f}").arg(MarkupSafe(QString::fromStdString(image.filename().string()))));
    row->setToolTip(QString::fromStdString(image.string()));
    row->SetText(2, QStringLiteral("{f 5}%1{/f}").arg(SizeText(bytes)));
    row->SetImage(0, QStringLiteral("file='image_file.png' dest='26,0,50,24'"));
    CListExUI::Node* imageNode = list->AddNode(heading, row);

    // A whole-disk image: its partitions are scanned, one after another, like a disk's.
    const int drive = DriveTable::Instance().AddImage(image);
    std::vector<ScanTarget> parts = ImagePartitionTargets(image, drive, nextImageKey_);
    if (parts.empty()) {
        // An image of one volume: say which file system it holds, when one is recognised.
        DiskReader reader;
        std::vector<uint8_t> boot(512);
        uint32_t read = 0;
        if (OpenImageReader(image, reader) == 0 && ReadSectors(1, reader, boot.data(), 0, 512, &read) == 0)
            row->SetText(1,
                         QStringLiteral("{f 5}%1{/f}")
                             .arg(QString::fromStdString(FileSystemOfBootSector(boot.data(), boot.size()))));
        auto target = std::make_unique<ScanTarget>();
        target->imagePath = image;
        target->imageVolumeKey = nextImageKey_++;
        rows_.insert(row, RowInfo{target.get(), false, {}});
        targets_.push_back(std::move(target));
    } else {
        rows_.insert(row, RowInfo{nullptr, false, {}});
        for (ScanTarget& part : parts) {
            auto target = std::make_unique<ScanTarget>(std::move(part));
            auto* partRow = NewRow();
            FillPartitionRow(partRow, *target->partition, PartitionName(*target->partition), true);
            list->AddNode(imageNode, partRow);
            rows_.insert(partRow, RowInfo{target.get(), false, {}});
            targets_.push_back(std::move(target));
        }
    }
    const int index = list->GetItemIndex(row);
    list->SelectItem(index, false);
    ShowTargetInfo(row);
    return true;
}

void CMainWnd::ChooseImage() {
    const QString path = imageChooser_
                             ? imageChooser_()
                             : QFileDialog::getOpenFileName(
                                   this, QString(), QString(),
                                   Message("MSG0215") + QStringLiteral(" (*.img *.dd *.raw *.bin *.iso);;") +
                                       Message("MSG0530") + QStringLiteral(" (*)"));
    if (!path.isEmpty()) OpenImageFile(path.toStdString());
}

void CMainWnd::SelectDiskRow(int index) {
    auto* list = Find<CDiskListUI>(QStringLiteral("DiskList"));
    if (!list) return;
    list->SelectItem(index, false);
    ShowTargetInfo(list->GetItemAt(index));
}

skin::ListElement* CMainWnd::SelectedDiskRow() const {
    auto* list = Find<CDiskListUI>(QStringLiteral("DiskList"));
    return list ? list->GetItemAt(list->GetCurSel()) : nullptr;
}

std::vector<ScanTarget*> CMainWnd::TargetsOfRow(skin::ListElement* row, bool withEngineOnly) const {
    std::vector<ScanTarget*> out;
    auto* list = Find<CDiskListUI>(QStringLiteral("DiskList"));
    if (!row || !list) return out;
    auto add = [&](ScanTarget* target) {
        if (target && (!withEngineOnly || target->engine)) out.push_back(target);
    };
    CListExUI::Node* node = list->NodeOf(row);
    if (node && !node->children.isEmpty()) {
        for (CListExUI::Node* child : node->children) add(rows_.value(child->row).target);
    } else {
        add(rows_.value(row).target);
    }
    return out;
}

void CMainWnd::ShowTargetInfo(skin::ListElement* row) {
    auto set = [this](const char* name, const QString& text) {
        if (skin::Control* label = FindControl(QString::fromLatin1(name))) {
            label->SetText(text);
            label->setToolTip(text);
        }
    };
    // An image's whole path may need more than one line: Label1 wraps for images only.
    auto wrapFirst = [this](bool wrap) {
        if (skin::Control* label = FindControl(QStringLiteral("Label1"))) {
            label->SetAttribute(QStringLiteral("multiline"),
                                wrap ? QStringLiteral("true") : QStringLiteral("false"));
            label->SetFixedHeight(wrap ? 62 : 24);
        }
    };
    const RowInfo info = rows_.value(row);
    const bool scannable = row && !TargetsOfRow(row, false).empty();
    if (skin::Control* scan = FindControl(QStringLiteral("BtnScan"))) scan->SetEnabled(scannable);
    if (!row || info.isDisk) return;
    targetChosen_ = true;
    ScanTarget* target = info.target;
    if (!target || target->IsImage()) {
        // An image row (with or without partitions).
        QString path;
        uint64_t bytes = 0;
        if (target)
            path = QString::fromStdString(target->imagePath.string());
        else if (auto parts = TargetsOfRow(row, false); !parts.empty())
            path = QString::fromStdString(parts.front()->imagePath.string());
        std::error_code ec;
        bytes = std::filesystem::file_size(path.toStdString(), ec);
        set("Label1", QStringLiteral("%1 %2").arg(Message("MSG0209"), path));
        // A path has no blanks to break at: each folder may start a new line.
        if (skin::Control* label = FindControl(QStringLiteral("Label1")))
            label->SetText(QStringLiteral("%1 %2").arg(
                Message("MSG0209"), QString(path).replace(u'/', QStringLiteral("/\u200B"))));
        wrapFirst(true);
        set("Label2", QStringLiteral("%1 %2").arg(Message("MSG0210"), SizeText(ec ? 0 : bytes)));
        for (const char* name : {"Label3", "Label4", "Label5", "Label6"}) set(name, QString());
        return;
    }
    wrapFirst(false);
    const VolumeEntry& e = *target->partition;
    set("Label1", QStringLiteral("%1 %2").arg(Message("MSG0203")).arg(e.letter));
    set("Label2", e.label.empty()
                      ? Message("MSG0204")
                      : QStringLiteral("%1 %2").arg(Message("MSG0204"), QString::fromStdString(e.label)));
    set("Label3", QStringLiteral("%1 %2").arg(Message("MSG0205"), QString::fromStdString(e.fileSystemName)));
    set("Label4", QStringLiteral("%1 %2").arg(Message("MSG0206"), SizeText(e.totalBytes)));
    set("Label5", QStringLiteral("%1 %2").arg(Message("MSG0207"), SizeText(e.usedBytes)));
    set("Label6", QStringLiteral("%1 %2").arg(Message("MSG0208"), SizeText(e.freeBytes)));
}

bool CMainWnd::CanReadDisks(const std::vector<ScanTarget*>& targets) {
    for (ScanTarget* target : targets) {
        if (!target->partition || target->IsImagePartition()) continue;
        DiskReader probe;
        const int rc = OpenPhysicalDriveReader(probe, target->partition->diskNumber);
        if (rc != kErrAccessDenied) continue;
        CMessageBox::Show(CMessageBox::kWarning, this, Message("MSG0506"));
        const QString pkexec = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
        if (!pkexec.isEmpty() && CMessageBox::Show(CMessageBox::kQuestion, this, Message("MSG0507")) == 1) {
            // The polkit action shipped with the program lets the window reach the display.
            if (QProcess::startDetached(pkexec, {QCoreApplication::applicationFilePath()})) close();
        }
        return false;
    }
    return true;
}

void CMainWnd::StartScan() {
    // One scan at a time: the engines share the data folder's current scan
    // folder, and a deep scan offered after a quick one runs inside the
    // quick scan's event loop, where another Scan click could still arrive.
    if (scanning_) return;
    skin::ListElement* row = SelectedDiskRow();
    std::vector<ScanTarget*> chosen = TargetsOfRow(row, false);
    if (!targetChosen_ || !row || chosen.empty()) {
        CMessageBox::Show(CMessageBox::kInformation, this, Message("MSG0505"));
        return;
    }
    if (!CanReadDisks(chosen)) return;
    scanFromDiskPage_ = CurrentPage() != kFileTypePage;
    // The earlier scan's engines go; a quick scan's folder is of no further use.
    ForgetThumbnails();
    for (const auto& target : targets_) target->engine.reset();
    if (lastScanMode_ == CScanProcessWnd::kQuick && !lastQuickFolder_.empty()) {
        CScanResumeStore::Instance().DeleteScan(lastQuickFolder_);
        lastQuickFolder_.clear();
    }
    // The search after the scan runs inside the scan window's loop and reads this scan's mode.
    lastScanMode_ = scanMode_;
    scanning_ = true;
    auto* numbers = Find<skin::CheckBox>(QStringLiteral("OptCarvedNumbers"));
    auto* scanWindow = new CScanProcessWnd(chosen, scanMode_, numbers && numbers->IsSelected());
    if (showEarlierResults_) scanWindow->ShowEarlierResults();
    const int code = RunWorker(scanWindow, this, CScanProcessWnd::kWidth, CScanProcessWnd::kHeight);
    scanning_ = false;
    lastQuickFolder_ = scanMode_ == CScanProcessWnd::kQuick ? CScanResumeStore::Instance().CurrentScanFolder()
                                                            : std::filesystem::path();
    if (code == 3) OfferDeepScan("MSG0527", "MSG0504", CMessageBox::kWarning);
}

void CMainWnd::CreateImageCommand() {
    skin::ListElement* row = SelectedDiskRow();
    const RowInfo info = rows_.value(row);
    // Only disks and their partitions are imaged; an image file is one already.
    std::optional<VolumeEntry> partition;
    int disk = -1;
    if (info.isDisk && !info.diskName.empty()) {
        disk = DriveTable::Instance().IndexOfName(info.diskName);
    } else if (info.target && info.target->partition && !info.target->IsImagePartition()) {
        partition = info.target->partition;
        disk = partition->diskNumber;
    }
    if (!row || disk < 0) {
        CMessageBox::Show(CMessageBox::kInformation, this, Message("MSG0216"));
        return;
    }
    const VolumeEntry* entry = partition ? &*partition : nullptr;
    const QString proposed = QString::fromStdString(ProposedImageName(entry, disk)) + QStringLiteral(".img");
    const uint64_t bytes = ImageSizeOf(entry, disk);
    const std::vector<uint64_t> devices = ImagedDeviceNumbers(entry, disk);
    QString path;
    for (;;) {
        path = saveChooser_ ? saveChooser_(proposed)
                            : QFileDialog::getSaveFileName(this, QString(), proposed,
                                                           Message("MSG0215") + QStringLiteral(" (*.img)"));
        if (path.isEmpty()) return;
        if (!path.contains(u'.') || QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".img");
        const char* refusal = MessageIdOf(CheckImageDestination(path.toStdString(), devices, bytes));
        if (*refusal == 0) break;
        CMessageBox::Show(CMessageBox::kWarning, this, Message(refusal));
    }
    CCreateImageProcessWnd::Outcome outcome;
    const int code = RunWorker(new CCreateImageProcessWnd(path.toStdString(), partition, disk, &outcome),
                               this, CCreateImageProcessWnd::kWidth, CCreateImageProcessWnd::kHeight);
    const bool completed = code == 1 && outcome.completed;
    const uint64_t unreadable = outcome.unreadableSectors, copied = outcome.bytesCopied;
    if (code == 3 && !completed) {
        QThread::msleep(100);
        CMessageBox::Show(CMessageBox::kError, this, Message("MSG0217"));
    }
    if (!completed) {
        // A stopped or failed copy leaves a part of the drive under the image's name.
        QString text = Message("MSG2113");
        for (const QString& value : {path, QString::fromStdString(FormatSizeText(copied))}) {
            const qsizetype at = text.indexOf(QStringLiteral("%s"));
            if (at >= 0) text.replace(at, 2, value);
        }
        CMessageBox::Show(CMessageBox::kInformation, this, text);
        return;
    }
    const QString question =
        unreadable == 0
            ? Message("MSG0214")
            : Message("MSG2112")
                  .replace(QStringLiteral("%d"), QString::number(unreadable))
                  .replace(QStringLiteral("%s"),
                           QString::fromStdString(UnreadableMapPath(path.toStdString()).string()));
    if (CMessageBox::Show(CMessageBox::kQuestion, this, question) != 1) return;
    // Scan the new image deeply, as the image rows are scanned.
    if (!OpenImageFile(path.toStdString())) return;
    imageMode_ = false;
    scanMode_ = CScanProcessWnd::kDeep;
    ShowPage(kDiskPage);
    StartScan();
}

}  // namespace sorvane::app

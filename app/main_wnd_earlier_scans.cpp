// The home page's list of earlier scans: the deep scans whose folders stay in
// the data folder, opened again without scanning, or deleted.
#include <QDateTime>
#include <QFileInfo>

#include "app/list_ex.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/scan_process_wnd.h"
#include "platform/path_text.h"

namespace sorvane::app {

void CMainWnd::RefreshEarlierScans() {
    keptScans_ = ListKeptScans(CScanResumeStore::Instance());
    auto* list = Find<skin::List>(QStringLiteral("EarlierScanList"));
    if (!list) return;
    list->RemoveAll();
    for (const KeptScan& scan : keptScans_) {
        auto* row = new skin::ListTextElement;
        const QString target = QString::fromStdString(scan.TargetName());
        row->SetText(0, scan.image ? QFileInfo(target).fileName() : target);
        row->SetText(1, scan.when > 0 ? QDateTime::fromSecsSinceEpoch(scan.when).toString(
                                            QStringLiteral("yyyy-MM-dd HH:mm"))
                                      : QString());
        row->SetText(2, Message("MSG0528"));  // only deep scans keep their folders
        row->SetText(3, scan.filesFound == 1 ? Message("MSG2369")
                                             : Message("MSG2361").replace(QStringLiteral("%d"),
                                                                          QString::number(scan.filesFound)));
        row->SetText(4, Message(scan.finished ? "MSG2362" : "MSG2363"));
        row->setToolTip(target);
        list->Add(row);
    }
    if (!keptScans_.empty()) list->SelectItem(0, false);
    CompactKindCards(!keptScans_.empty());
    if (skin::Control* block = FindControl(QStringLiteral("EarlierScans")))
        block->setVisible(!keptScans_.empty());
}

void CMainWnd::CompactKindCards(bool compact) {
    // With earlier scans listed, the cards of the kinds of files keep their
    // titles and lose their descriptions and half their height: the list, the
    // note and the scan buttons below them must still fit the page.
    static const char* const kCards[] = {"ChkRecoverAllCard", "ChkPhotoCard",  "ChkMusicCard",
                                         "ChkVideoCard",      "ChkOfficeCard", "ChkArchiveCard",
                                         "ChkOtherCard"};
    for (const char* name : kCards) {
        auto* card = Find<skin::Container>(QString::fromLatin1(name));
        if (!card) continue;
        if (auto* row = dynamic_cast<skin::Control*>(card->parentWidget()))
            row->SetFixedHeight(compact ? 48 : 80);
        for (int i = 0; i < card->Count(); ++i) {
            skin::Control* part = card->ItemAt(i);
            if (dynamic_cast<skin::CheckBox*>(part)) {
                part->SetAttribute(QStringLiteral("padding"),
                                   compact ? QStringLiteral("0,16,14,16") : QStringLiteral("0,32,14,32"));
            } else if (auto* words = dynamic_cast<skin::Container*>(part)) {
                words->SetAttribute(QStringLiteral("inset"),
                                    compact ? QStringLiteral("0,12,0,12") : QStringLiteral("0,14,0,10"));
                if (skin::Control* description = words->ItemAt(1)) description->setVisible(!compact);
                words->Relayout();
            } else {
                part->SetAttribute(QStringLiteral("padding"),
                                   compact ? QStringLiteral("0,4,14,4") : QStringLiteral("0,20,14,20"));
            }
        }
        card->Relayout();
    }
}

int CMainWnd::ChosenEarlierScan() const {
    auto* list = const_cast<CMainWnd*>(this)->Find<skin::List>(QStringLiteral("EarlierScanList"));
    const int index = list ? list->GetCurSel() : -1;
    return index >= 0 && index < static_cast<int>(keptScans_.size()) ? index : -1;
}

void CMainWnd::OpenEarlierScan(int index) {
    if (index < 0 || index >= static_cast<int>(keptScans_.size()) || scanning_) return;
    const KeptScan scan = keptScans_[static_cast<size_t>(index)];
    const QString target = QString::fromStdString(scan.TargetName());
    const auto say = [this, &target](int kind, const char* id) {
        CMessageBox::Show(kind, this, Message(id).replace(QStringLiteral("%s"), target));
    };
    if (!scan.image) return OpenEarlierPartitionScan(scan);
    switch (CheckKeptImage(scan)) {
        case KeptTarget::kAbsent:
            return say(CMessageBox::kWarning, "MSG2365");
        case KeptTarget::kOther:
        case KeptTarget::kUnknown:
            return say(CMessageBox::kWarning, "MSG2366");
        case KeptTarget::kSame:
            break;
    }
    // Its results come from the scan folder: the deep scan of the same image
    // finds the finished scan and shows it without searching; an unfinished
    // one is offered for continuing as always.
    scanMode_ = CScanProcessWnd::kDeep;
    imageMode_ = false;
    ShowPage(kDiskPage);
    if (!OpenImageFile(PathFromUtf8(scan.imagePath))) return say(CMessageBox::kWarning, "MSG2365");
    showEarlierResults_ = true;
    StartScan();
    showEarlierResults_ = false;
}

void CMainWnd::OpenEarlierPartitionScan(const KeptScan& scan) {
    const QString target = QString::fromStdString(scan.TargetName());
    const auto say = [this, &target](int kind, const char* id) {
        CMessageBox::Show(kind, this, Message(id).replace(QStringLiteral("%s"), target));
    };
    // The drive numbers are those of the disks plugged in now: the disk is
    // looked for, and its row found, in one and the same drive table.
    RefreshDiskList();
    int drive = -1;
    switch (CheckKeptPartition(scan, drive)) {
        case KeptTarget::kAbsent:
        case KeptTarget::kOther:
            return say(CMessageBox::kWarning, "MSG2370");
        case KeptTarget::kUnknown:
            return say(CMessageBox::kInformation, "MSG2364");
        case KeptTarget::kSame:
            break;
    }
    const skin::ListElement* row = nullptr;
    for (auto it = rows_.cbegin(); it != rows_.cend() && !row; ++it) {
        const ScanTarget* t = it.value().target;
        if (t && t->partition && !t->IsImagePartition() && t->partition->diskNumber == drive &&
            t->partition->start == scan.rangeStart && t->partition->length == scan.rangeLength)
            row = it.key();
    }
    auto* list = Find<CDiskListUI>(QStringLiteral("DiskList"));
    // A disk the list does not offer (an internal one) is scanned from the command line.
    if (!row || !list) return say(CMessageBox::kInformation, "MSG2364");
    if (static_cast<uint32_t>(drive) != scan.driveIndex &&
        MoveKeptScanToDrive(CScanResumeStore::Instance(), scan, static_cast<uint32_t>(drive)) != 0)
        return say(CMessageBox::kWarning, "MSG2364");
    scanMode_ = CScanProcessWnd::kDeep;
    imageMode_ = false;
    ShowPage(kDiskPage);
    SelectDiskRow(list->GetItemIndex(row));
    showEarlierResults_ = true;
    StartScan();
    showEarlierResults_ = false;
    RefreshEarlierScans();
}

void CMainWnd::DeleteEarlierScan(int index) {
    if (index < 0 || index >= static_cast<int>(keptScans_.size()) || scanning_) return;
    const KeptScan& scan = keptScans_[static_cast<size_t>(index)];
    const QString target = QString::fromStdString(scan.TargetName());
    if (CMessageBox::Show(CMessageBox::kQuestion, this,
                          Message("MSG2367").replace(QStringLiteral("%s"), target)) != 1)
        return;
    // Thumbnails may be on their way into that scan's folder.
    ForgetThumbnails();
    // The store deletes only a folder inside its own scan folder, whatever its table says.
    if (DeleteKeptScan(CScanResumeStore::Instance(), scan.id) == 5)
        CMessageBox::Show(CMessageBox::kWarning, this, Message("MSG2368"));
    RefreshEarlierScans();
}

}  // namespace sorvane::app

// The main window: four pages (what to recover, where to look, which file
// types, the results), the step options that switch between them, the assist
// menu with the language choice, and the window buttons; and the workflow
// behind them: the disk list with its scan targets, the scan, the search, the
// type tree and file list of the results, the checked files and their recovery.
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "app/found_files.h"
#include "app/language_service.h"
#include "app/preview/preview_controller.h"
#include "app/process_wnd.h"
#include "app/scan_target.h"
#include "app/skin_framework/list.h"
#include "app/skin_framework/skin_menu.h"
#include "app/skin_framework/window.h"
#include "results/file_filter.h"
#include "results/kept_scans.h"

namespace sorvane::app {

class CWndShadow;
class CDeviceWatcher;
class CDiskListUI;
class CThumbnailMaker;
class CThumbnailGridUI;

class CMainWnd : public skin::Window {
  public:
    enum Page { kHomePage = 0, kDiskPage = 1, kFileTypePage = 2, kResultsPage = 3 };

    CMainWnd();
    ~CMainWnd() override;

    // Builds the layout; false when the skin is unusable.
    bool Create();
    // Shows a page with its banner, title bar and buttons.
    void ShowPage(int page);
    int CurrentPage() const;
    // Re-applies every text of the current language.
    void ApplyTexts();

    void Notify(skin::Notification& notification) override;
    skin::Control* CreateControl(const QString& tag) override;

    // The assist menu as it would open now (entries, language sub-entries).
    skin::PopupMenu& AssistMenu() { return menu_; }
    void PrepareAssistMenu();
    // Acts on a chosen menu entry ("item_about", "language:Deutsch", ...) as the menu does.
    void OnMenuChoice(const QString& name);
    // The user guide shipped with the program, or empty when it is not there.
    static QString UserGuidePath();
    QString AboutText();

    // --- Disk list ---
    // Brings the disk list up to date with the machine's external disks: rows of
    // disks that are gone go (with their targets), disks without a row get one
    // (selected unless a scan runs), and rows of disks still there are kept
    // with their scan results. Opened images stay.
    void RefreshDiskList();
    // Adds an image file as a row (a whole-disk image with its partitions as
    // child rows) and selects it, as "Open image..." does. False when the file
    // cannot be read. Images named before the window is first shown (the
    // program's arguments) are listed when it is, on the disk page.
    bool OpenImageFile(const std::filesystem::path& image);
    // Selects a disk-list row as a click would (itemselect).
    void SelectDiskRow(int index);
    int ScanMode() const { return scanMode_; }
    bool InImageMode() const { return imageMode_; }
    // Follows disks arriving and leaving (started by the program, not by tests).
    void WatchDevices(int settleMs = 5000, bool pollOnly = false, int pollMs = 2000);
    CDeviceWatcher* DeviceWatcher() const { return watcher_.get(); }

    // --- Results ---
    const std::vector<FoundItemRecord>& SearchResults() const { return results_; }
    const ExtensionMap& Extensions() const { return extensions_; }
    const std::map<uint64_t, FoundItemRecord>& CheckedFiles() const { return checked_; }
    std::vector<ScanTarget*> Targets() const;
    // The destination folder recovery asks for; tests answer it without a dialog.
    void SetFolderChooser(std::function<QString()> chooser) { folderChooser_ = std::move(chooser); }
    // The image save dialog (gets the proposed name), likewise.
    void SetSaveChooser(std::function<QString(const QString&)> chooser) { saveChooser_ = std::move(chooser); }
    // The image-open dialog, likewise.
    void SetImageChooser(std::function<QString()> chooser) { imageChooser_ = std::move(chooser); }
    // The preview pane's controller (made on the first preview).
    CPreviewController& Preview();
    // What the buttons do, for the screenshot mode: scan the chosen row, recover the checked files.
    void ScanChosenTarget() { StartScan(); }
    void RecoverCheckedFiles() { StartRecovery(); }
    // Selects a node of the type tree and lists its files, as a click does.
    void ShowFilesOf(skin::TreeNode* node);
    // The results tree by type (false) or by the folders the files were in (true), as the switch chooses.
    void ShowResultsByFolder(bool byFolder);
    bool ResultsByFolder() const { return byFolder_; }
    // The files as a grid of thumbnails (true) or as the list (false), as the
    // switch chooses. The grid is shown only while the chosen node holds
    // pictures; other files keep the list.
    void ShowThumbnails(bool thumbnails);
    bool ThumbnailsChosen() const { return thumbnailsChosen_; }
    bool ThumbnailsShown() const;
    // The maker of the grid's thumbnails; null until the grid first wants one.
    CThumbnailMaker* ThumbnailMaker() const { return thumbs_.get(); }
    // The node of the results tree with this key: a category node's name
    // ("NodePhoto"), else "folder:a/b/", "lost", "carved", "carved:jpg" or "type:jpg|jpeg".
    skin::TreeNode* ResultNode(const QString& key) const;
    // The files the list holds now (all its pages), after the filters and the search box.
    const std::vector<const FoundItemRecord*>& ListedFiles() const { return listed_; }
    // The found files that pass the filter bar (the tree counts these).
    const std::vector<const FoundItemRecord*>& ShownFiles() const { return shown_; }
    const FileFilter& ResultFilter() const { return filter_; }
    // How many files a node of the results tree stands for (its own and all below).
    size_t FilesBelow(const skin::TreeNode* node) const { return RecordsOfNode(node).size(); }

    // --- Earlier scans ---
    // Lists the deep scans kept in the data folder on the home page.
    void RefreshEarlierScans();
    const std::vector<KeptScan>& EarlierScans() const { return keptScans_; }
    // Shows the results of kept scan `index` without scanning, when its image
    // (or the disk it was made of) is here and unchanged; else says plainly
    // what is missing.
    void OpenEarlierScan(int index);
    // Deletes kept scan `index` after asking.
    void DeleteEarlierScan(int index);

  protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    struct RowInfo {
        ScanTarget* target = nullptr;  // null for disk and heading rows
        bool isDisk = false;
        std::string diskName;  // a disk row's kernel name ("sdb"): drive numbers move, names do not
    };

    void OnClick(skin::Control* sender);
    void OnItemSelect(skin::Notification& notification);
    void OnItemDoubleClick(skin::Notification& notification);
    // Disk list.
    skin::ListElement* AddDiskRows(const std::vector<VolumeEntry>& entries, int diskNumber,
                                   const std::string& name);
    skin::ListElement* SelectedDiskRow() const;
    QString PartitionName(const VolumeEntry& entry);
    std::vector<ScanTarget*> TargetsOfRow(skin::ListElement* row, bool withEngineOnly) const;
    void ShowTargetInfo(skin::ListElement* row);
    void ChooseImage();
    void CreateImageCommand();
    // Workflow.
    void StartScan();
    // Runs a progress window. While one runs, its worker holds targets and
    // engines: disks that leave meanwhile are only removed from the list afterwards.
    int RunWorker(CProcessWnd* window, QWidget* parent, int width, int height);
    // False (after telling the user, and offering a restart with rights where
    // possible) when a chosen disk cannot be read for lack of permission.
    bool CanReadDisks(const std::vector<ScanTarget*>& targets);
    void OnScanDone();
    void OnSearchDone();
    TypeChoice ChosenTypes() const;
    void RebuildTypeTree();
    void RebuildFolderTree();
    // Removes the nodes the folder view added and empties the category nodes.
    void ClearResultTree();
    // Reads the filter bar, keeps the files that pass, rebuilds the tree with
    // their counts and lists the node that was chosen before.
    void ApplyFilters();
    // Lists the chosen node's files whose names match the search box.
    void ApplyNameFilter(bool keepPage);
    void FillFileList(skin::TreeNode* node);
    // The files of a node and of every node below it.
    std::vector<const FoundItemRecord*> RecordsOfNode(const skin::TreeNode* node) const;
    QString NodeKey(const skin::TreeNode* node) const;
    // A found file's folder path as the search gave it ("a/b/"), empty when unknown.
    std::string FolderOf(const FoundItemRecord& record) const;
    void OnTextChanged(skin::Control* sender);
    // Tells that nothing was found (or could be read) and, after a quick scan,
    // offers the deep scan of the same target; the messages say which.
    void OfferDeepScan(const char* afterQuick, const char* afterDeep, int afterDeepKind);
    void ShowListedRows();
    // The record of a file-list row (rows show one page of listed_).
    const FoundItemRecord* RecordOfRow(int row) const;
    QStringList RowTexts(const FoundItemRecord& record) const;
    // How far the file's content can be trusted, on the volume it was found on.
    FileCondition ConditionOfRecord(const FoundItemRecord& record) const;
    void SetRecordChecked(const FoundItemRecord& record, bool checked);
    void OnFilesChecked();
    void OnTreeNodeChecked(skin::TreeNode* node);
    void OnListChecked(int index, bool checked);
    // A tick in the grid: `index` is the file's place in listed_.
    void OnGridChecked(int index, bool checked);
    // Shows the list or the grid, as the switch and the chosen node's files say.
    void UpdateFileView();
    // Asks the thumbnail maker for these files' thumbnails; files that have
    // none to make get their answer at once.
    void WantThumbnails(const std::vector<const FoundItemRecord*>& records);
    // Ends the making of thumbnails and forgets those made: the engines or
    // the results they were made of go.
    void ForgetThumbnails();
    void SetUpThumbnailGrid();
    void SortFileList(skin::Control* header);
    void StartRecovery();
    void StartPreview(int row);
    void PreviewRecord(const FoundItemRecord& record);
    void FollowCategoryToOptions(int category, bool selected);
    void OnSelectChanged(skin::Control* sender);
    void UpdateStartButton();
    void SetBanner(const QString& background, const QString& logo, const QColor& color);
    QString Message(const char* id);
    // The row chosen in the list of earlier scans, or -1.
    int ChosenEarlierScan() const;
    void CompactKindCards(bool compact);
    // Opens kept scan `scan` of a disk's partition on the drive that holds the
    // disk now, as its image scan is opened; else says the disk is not connected.
    void OpenEarlierPartitionScan(const KeptScan& scan);

    LanguageService::TextMap messages_;
    skin::PopupMenu menu_;
    std::unique_ptr<CWndShadow> shadow_;
    std::unique_ptr<CDeviceWatcher> watcher_;
    bool scanFromDiskPage_ = true;

    // Scan targets, one per partition row and image row; rows point at them.
    std::vector<std::unique_ptr<ScanTarget>> targets_;
    QHash<const skin::ListElement*, RowInfo> rows_;
    uint16_t nextImageKey_ = kFirstImageKey;
    int scanMode_ = 1;
    bool imageMode_ = false;
    bool targetChosen_ = false;
    bool scanning_ = false;
    bool ready_ = false;  // shown once, texts loaded
    std::vector<std::filesystem::path> pendingImages_;
    int workers_ = 0;
    bool refreshAfterWork_ = false;
    std::function<void()> afterWork_;  // run once no progress window is open
    int lastScanMode_ = 1;
    std::filesystem::path lastQuickFolder_;
    // Search results and what the results page shows of them.
    std::vector<FoundItemRecord> results_;
    std::vector<std::string> resultFolders_;     // the folder path of results_[i]
    std::vector<const FoundItemRecord*> shown_;  // the results that pass filter_
    ExtensionMap extensions_;                    // of shown_
    FileFilter filter_;
    QString nameFilter_;
    bool byFolder_ = false;
    QList<skin::TreeNode*> folderTops_;  // the top nodes of the folder view
    QHash<const skin::TreeNode*, std::vector<const FoundItemRecord*>> nodeRecords_;  // a node's own files
    const skin::TreeNode* currentNode_ = nullptr;
    std::vector<const FoundItemRecord*> nodeFiles_;  // the chosen node's files, in list order
    std::vector<const FoundItemRecord*> listed_;     // those of nodeFiles_ the search box matches
    int page_ = 0;                                   // the page of listed_ the file list shows
    std::map<uint64_t, FoundItemRecord> checked_;
    QHash<QString, int> sortDirections_;
    std::filesystem::path destination_;
    std::function<QString()> folderChooser_, imageChooser_;
    std::function<QString(const QString&)> saveChooser_;
    std::unique_ptr<CPreviewController> preview_;
    // The row a click previewed and when: the double click that follows shows it only once.
    int lastPreviewRow_ = -1;
    QElapsedTimer lastPreview_;
    std::vector<KeptScan> keptScans_;
    bool showEarlierResults_ = false;  // the next deep scan shows a finished earlier scan without asking
    bool thumbnailsChosen_ = false;
    // The scan folder of each engine, where its thumbnails are kept (empty: none).
    std::map<const IFileRecoveryParse*, std::filesystem::path> thumbnailFolders_;
    // Declared last, so it ends (and lets go of the engines) before the targets go.
    std::unique_ptr<CThumbnailMaker> thumbs_;

  public:
    // Rows the file list shows at once; more files are paged.
    static constexpr int kPageRows = 500;
    // Volume keys of image targets start here, clear of the volumes' own numbers.
    static constexpr uint16_t kFirstImageKey = 1001;
};

}  // namespace sorvane::app

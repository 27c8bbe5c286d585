// The results page's grid of found files: a cell per file with its thumbnail
// (or its type icon), its name below, a tick box and the condition badge of a
// file that may not open. Only the cells in sight are drawn and asked for, so
// a grid of 100,000 pictures opens as fast as one of ten.
//
// Notifications: a click on a cell sends "itemselect" (wParam: the file's
// index), a click on its tick box "list_check_click" (wParam: the index,
// lParam: 1 when it is to be ticked now).
#pragma once

#include <QHash>
#include <QImage>
#include <functional>
#include <vector>

#include "app/skin_framework/controls.h"
#include "results/found_item_record.h"

class QScrollBar;

namespace sorvane::app {

class CThumbnailGridUI : public skin::Control {
  public:
    // Size of a cell's picture box; thumbnails are made to fit it.
    static constexpr int kPictureBox = 128;
    static constexpr int kCellWidth = 142;
    static constexpr int kCellHeight = 168;
    // Thumbnails kept in memory at most, besides those in sight.
    static constexpr int kKeptPictures = 400;

    // What a cell shows of its file besides the thumbnail, asked as it is drawn.
    struct Face {
        QString name;
        bool checked = false;
        QString badge;  // the condition of a file that may not open, else empty
        QString icon;   // the skin picture of its type
    };
    using FaceOf = std::function<Face(const FoundItemRecord&)>;
    // Told the files in sight (first to last, then the row below) whose
    // thumbnails are not there yet.
    using Wanted = std::function<void(const std::vector<const FoundItemRecord*>&)>;

    explicit CThumbnailGridUI(QWidget* parent = nullptr);
    QString ClassName() const override { return QStringLiteral("ThumbnailGrid"); }
    bool HasInterface(const QString& name) const override {
        return name == u"ThumbnailGrid" || skin::Control::HasInterface(name);
    }

    void SetFaceOf(FaceOf face) { faceOf_ = std::move(face); }
    // What the cell of file `index` shows besides its picture.
    Face FaceAt(int index) const;
    void SetWanted(Wanted wanted) { wanted_ = std::move(wanted); }

    // The files the grid shows (they must outlive their place in the grid);
    // it scrolls to the top unless `keepPlace`. Thumbnails made before stay.
    void SetFiles(const std::vector<const FoundItemRecord*>& files, bool keepPlace = false);
    const std::vector<const FoundItemRecord*>& Files() const { return files_; }
    // A thumbnail arrived for the file of this key (CheckedFileKey); a null
    // picture means the file has none, and its type icon stays.
    void SetThumbnail(uint64_t key, const QImage& picture);
    // True once a thumbnail (or the answer that there is none) is here.
    bool HasThumbnail(uint64_t key) const { return made_.contains(key); }
    // True when the file of this key shows a picture rather than its icon.
    bool ShowsPicture(uint64_t key) const;
    void ForgetThumbnails();

    // The file shown as chosen (the last one clicked), or -1.
    int Current() const { return current_; }
    void SetCurrent(int index);

    // Geometry, in the grid's coordinates at the present scroll place.
    int Columns() const;
    QRect CellRect(int index) const;
    QRect CheckRect(int index) const;
    // The file under `point`, or -1.
    int IndexAt(const QPoint& point) const;
    // The first and one past the last file with a cell in sight.
    std::pair<int, int> InSight() const;
    int ScrollPos() const { return scrollPos_; }
    void SetScrollPos(int pos);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

  private:
    int ContentHeight() const;
    int AreaWidth() const;
    void UpdateScrollBar();
    void PaintCell(QPainter& painter, int index, const QRect& cell);
    // Asks for the thumbnails in sight, once the events in hand are handled.
    void AskSoon();
    void AskForSight();
    void DropFarPictures();

    std::vector<const FoundItemRecord*> files_;
    QHash<uint64_t, QImage> made_;
    FaceOf faceOf_;
    Wanted wanted_;
    QScrollBar* scrollBar_;
    int scrollPos_ = 0;
    int current_ = -1;
    int hot_ = -1;
    bool askPending_ = false;
};

}  // namespace sorvane::app

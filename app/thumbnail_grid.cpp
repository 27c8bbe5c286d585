#include "app/thumbnail_grid.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QSet>
#include <QTimer>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>

#include "app/found_files.h"
#include "app/skin_framework/picture.h"
#include "app/skin_framework/skin_package.h"

namespace sorvane::app {
namespace {

constexpr int kBarWidth = 9;
constexpr int kInset = 4;   // between the grid's border and its cells
constexpr int kBoxTop = 8;  // from a cell's top to its picture box
constexpr int kNameHeight = 20;
constexpr int kIconSize = 56;  // the type icon of a file without a picture
const QColor kBoxColor(0xF3, 0xF6, 0xF9);
const QColor kNameColor(0x33, 0x3B, 0x45);
const QColor kHotColor(0xEE, 0xF5, 0xFB);
const QColor kCurrentColor(0xD9, 0xEC, 0xF9);
const QColor kCurrentFrame(0x6C, 0xB2, 0xE0);
const QColor kBadgeColor(0xD2, 0x3B, 0x3B);

}  // namespace

CThumbnailGridUI::CThumbnailGridUI(QWidget* parent)
    : skin::Control(parent), scrollBar_(new QScrollBar(Qt::Vertical, this)) {
    setMouseTracking(true);
    scrollBar_->hide();
    scrollBar_->setStyleSheet(
        QStringLiteral("QScrollBar:vertical{background:transparent;width:8px;margin:2px 1px 2px 0;}"
                       "QScrollBar::handle:vertical{background:#C5CED8;border-radius:3px;min-height:24px;}"
                       "QScrollBar::handle:vertical:hover{background:#A9B4C0;}"
                       "QScrollBar::add-line,QScrollBar::sub-line{height:0;}"
                       "QScrollBar::add-page,QScrollBar::sub-page{background:transparent;}"));
    QObject::connect(scrollBar_, &QScrollBar::valueChanged, this, [this](int value) {
        if (value != scrollPos_) SetScrollPos(value);
    });
}

void CThumbnailGridUI::SetFiles(const std::vector<const FoundItemRecord*>& files, bool keepPlace) {
    files_ = files;
    current_ = -1;
    hot_ = -1;
    if (!keepPlace) scrollPos_ = 0;
    UpdateScrollBar();
    update();
    AskSoon();
}

void CThumbnailGridUI::SetThumbnail(uint64_t key, const QImage& picture) {
    made_.insert(key, picture);
    if (made_.size() > kKeptPictures + 100) DropFarPictures();
    update();
}

bool CThumbnailGridUI::ShowsPicture(uint64_t key) const {
    const auto it = made_.constFind(key);
    return it != made_.constEnd() && !it->isNull();
}

void CThumbnailGridUI::ForgetThumbnails() {
    made_.clear();
    update();
    AskSoon();
}

void CThumbnailGridUI::DropFarPictures() {
    // Pictures far out of sight go (their files' thumbnails come back from the
    // scan folder when scrolled to again); the answers "no picture" are small and stay.
    const auto [first, end] = InSight();
    const int margin = 2 * Columns();
    QSet<uint64_t> near;
    for (int i = std::max(0, first - margin); i < std::min<int>(end + margin, int(files_.size())); ++i)
        near.insert(CheckedFileKey(*files_[static_cast<size_t>(i)]));
    for (auto it = made_.begin(); it != made_.end();) {
        if (!it->isNull() && !near.contains(it.key()))
            it = made_.erase(it);
        else
            ++it;
    }
}

CThumbnailGridUI::Face CThumbnailGridUI::FaceAt(int index) const {
    if (index < 0 || index >= static_cast<int>(files_.size())) return {};
    const FoundItemRecord& record = *files_[static_cast<size_t>(index)];
    return faceOf_ ? faceOf_(record) : Face{QString::fromStdString(record.Name()), false, {}, {}};
}

void CThumbnailGridUI::SetCurrent(int index) {
    current_ = index >= 0 && index < static_cast<int>(files_.size()) ? index : -1;
    update();
}

int CThumbnailGridUI::AreaWidth() const {
    return std::max(0, width() - 2 * kInset - 2 * borderSize_ - kBarWidth);
}

int CThumbnailGridUI::Columns() const { return std::max(1, AreaWidth() / kCellWidth); }

int CThumbnailGridUI::ContentHeight() const {
    const int rows = static_cast<int>((files_.size() + Columns() - 1) / Columns());
    return rows * kCellHeight + 2 * kInset;
}

QRect CThumbnailGridUI::CellRect(int index) const {
    const int columns = Columns();
    // The width left over is shared among the cells, so the grid has no ragged right edge.
    const int cellWidth = std::max(kCellWidth, AreaWidth() / columns);
    const int row = index / columns, column = index % columns;
    return QRect(borderSize_ + kInset + column * cellWidth,
                 borderSize_ + kInset + row * kCellHeight - scrollPos_, cellWidth, kCellHeight);
}

QRect CThumbnailGridUI::CheckRect(int index) const {
    const QRect cell = CellRect(index);
    const int boxLeft = cell.left() + (cell.width() - kPictureBox) / 2;
    return QRect(boxLeft + 5, cell.top() + kBoxTop + 5, 18, 18);
}

int CThumbnailGridUI::IndexAt(const QPoint& point) const {
    const auto [first, end] = InSight();
    for (int i = first; i < end; ++i)
        if (CellRect(i).contains(point)) return i;
    return -1;
}

std::pair<int, int> CThumbnailGridUI::InSight() const {
    const int columns = Columns();
    const int top = std::max(0, scrollPos_ - kInset) / kCellHeight;
    const int bottom = (scrollPos_ + height()) / kCellHeight + 1;
    const int count = static_cast<int>(files_.size());
    return {std::min(count, top * columns), std::min(count, bottom * columns)};
}

void CThumbnailGridUI::SetScrollPos(int pos) {
    const int range = std::max(0, ContentHeight() - height());
    pos = std::clamp(pos, 0, range);
    if (pos == scrollPos_) return;
    scrollPos_ = pos;
    const QSignalBlocker block(scrollBar_);
    scrollBar_->setValue(scrollPos_);
    hot_ = -1;
    update();
    AskSoon();
}

void CThumbnailGridUI::UpdateScrollBar() {
    const int range = std::max(0, ContentHeight() - height());
    scrollPos_ = std::clamp(scrollPos_, 0, range);
    scrollBar_->setVisible(range > 0);
    scrollBar_->setGeometry(width() - borderSize_ - kBarWidth, borderSize_, kBarWidth,
                            std::max(0, height() - 2 * borderSize_));
    const QSignalBlocker block(scrollBar_);
    scrollBar_->setRange(0, range);
    scrollBar_->setPageStep(std::max(1, height()));
    scrollBar_->setSingleStep(kCellHeight / 4);
    scrollBar_->setValue(scrollPos_);
}

void CThumbnailGridUI::resizeEvent(QResizeEvent*) {
    UpdateScrollBar();
    AskSoon();
}

void CThumbnailGridUI::wheelEvent(QWheelEvent* event) {
    SetScrollPos(scrollPos_ - event->angleDelta().y() * (kCellHeight / 2) / 120);
    event->accept();
}

void CThumbnailGridUI::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return event->ignore();
    const QPoint point = event->position().toPoint();
    const int index = IndexAt(point);
    if (index < 0) return;
    // The tick box and a few pixels around it: a box this small is easy to miss.
    if (CheckRect(index).adjusted(-4, -4, 4, 4).contains(point)) {
        const bool checked = FaceAt(index).checked;
        SendNotify(QStringLiteral("list_check_click"), index, checked ? 0 : 1);
        update();
        return;
    }
    SetCurrent(index);
    SendNotify(QStringLiteral("itemselect"), index);
}

void CThumbnailGridUI::mouseDoubleClickEvent(QMouseEvent* event) {
    // The first click of a double click has shown the picture already; on the
    // tick box the second click counts as one of its own.
    const int index = IndexAt(event->position().toPoint());
    if (index >= 0 && CheckRect(index).adjusted(-4, -4, 4, 4).contains(event->position().toPoint()))
        mousePressEvent(event);
}

void CThumbnailGridUI::mouseMoveEvent(QMouseEvent* event) {
    const int index = IndexAt(event->position().toPoint());
    if (index == hot_) return;
    hot_ = index;
    update();
}

void CThumbnailGridUI::leaveEvent(QEvent*) {
    hot_ = -1;
    update();
}

void CThumbnailGridUI::showEvent(QShowEvent*) {
    UpdateScrollBar();
    AskSoon();
}

bool CThumbnailGridUI::event(QEvent* event) {
    // A name cut short under its picture is shown whole when the mouse rests on it.
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int index = IndexAt(help->pos());
        if (index >= 0) {
            const Face face = FaceAt(index);
            QToolTip::showText(
                help->globalPos(),
                face.badge.isEmpty() ? face.name : face.name + QStringLiteral(" (") + face.badge + u')', this,
                CellRect(index));
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return skin::Control::event(event);
}

void CThumbnailGridUI::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    PaintBackground(painter);
    painter.save();
    painter.setClipRect(rect().marginsRemoved(QMargins(borderSize_, borderSize_, borderSize_, borderSize_)));
    const auto [first, end] = InSight();
    for (int i = first; i < end; ++i) PaintCell(painter, i, CellRect(i));
    painter.restore();
    PaintBorder(painter);
}

void CThumbnailGridUI::PaintCell(QPainter& painter, int index, const QRect& cell) {
    const FoundItemRecord& record = *files_[static_cast<size_t>(index)];
    const Face face = FaceAt(index);
    const QRect inner = cell.adjusted(3, 3, -3, -3);
    if (index == current_) {
        painter.setPen(QPen(kCurrentFrame, 1));
        painter.setBrush(kCurrentColor);
        painter.drawRoundedRect(QRectF(inner).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    } else if (index == hot_) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(kHotColor);
        painter.drawRoundedRect(inner, 5, 5);
    }
    const QRect box(cell.left() + (cell.width() - kPictureBox) / 2, cell.top() + kBoxTop, kPictureBox,
                    kPictureBox);
    const auto made = made_.constFind(CheckedFileKey(record));
    if (made != made_.constEnd() && !made->isNull()) {
        const QImage& picture = *made;
        const QSize size = picture.size().scaled(box.size(), Qt::KeepAspectRatio).boundedTo(picture.size());
        const QRect place(box.left() + (box.width() - size.width()) / 2,
                          box.top() + (box.height() - size.height()) / 2, size.width(), size.height());
        painter.drawImage(place, picture);
        painter.setPen(QPen(QColor(0, 0, 0, 40), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(place).adjusted(0.5, 0.5, -0.5, -0.5));
    } else {
        painter.setPen(Qt::NoPen);
        painter.setBrush(kBoxColor);
        painter.drawRoundedRect(box, 4, 4);
        const QRect icon(box.center().x() - kIconSize / 2 + 1, box.center().y() - kIconSize / 2 + 1,
                         kIconSize, kIconSize);
        skin::DrawPicture(painter, icon, face.icon, skin::SkinPackage::Instance());
    }
    // The tick box on a white ground, so it shows on any picture.
    const QRect check = CheckRect(index);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 230));
    painter.drawRoundedRect(check.adjusted(-2, -2, 2, 2), 4, 4);
    skin::DrawPicture(painter, check.adjusted(1, 1, -1, -1),
                      face.checked ? QStringLiteral("file='checkbox.png' source='48,0,64,16'")
                                   : QStringLiteral("file='checkbox.png' source='0,0,16,16'"),
                      skin::SkinPackage::Instance());
    if (!face.badge.isEmpty()) {
        QFont font = ControlFont();
        font.setPixelSize(11);
        font.setBold(true);
        painter.setFont(font);
        // Measured as the painter draws, with a pixel to spare for rounding.
        const QFontMetrics metrics = painter.fontMetrics();
        const int textWidth = std::min(metrics.horizontalAdvance(face.badge) + 2, kPictureBox - 16);
        const QRect badge(box.left() + 4, box.bottom() - 4 - 18, textWidth + 12, 18);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kBadgeColor);
        painter.drawRoundedRect(badge, 9, 9);
        painter.setPen(Qt::white);
        painter.drawText(badge.adjusted(6, 0, -6, 0), Qt::AlignCenter,
                         metrics.elidedText(face.badge, Qt::ElideRight, textWidth));
    }
    QFont font = ControlFont();
    font.setPixelSize(12);
    painter.setFont(font);
    painter.setPen(kNameColor);
    const QRect name(inner.left() + 4, box.bottom() + 5, inner.width() - 8, kNameHeight);
    painter.drawText(name, Qt::AlignHCenter | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(face.name, Qt::ElideMiddle, name.width()));
}

void CThumbnailGridUI::AskSoon() {
    if (askPending_ || !wanted_) return;
    askPending_ = true;
    QTimer::singleShot(0, this, [this] {
        askPending_ = false;
        AskForSight();
    });
}

void CThumbnailGridUI::AskForSight() {
    if (!wanted_ || !isVisible()) return;
    const auto [first, end] = InSight();
    // The row below comes next, so scrolling on finds it ready.
    const int last = std::min(static_cast<int>(files_.size()), end + Columns());
    std::vector<const FoundItemRecord*> wanted;
    for (int i = first; i < last; ++i) {
        const FoundItemRecord* record = files_[static_cast<size_t>(i)];
        if (!made_.contains(CheckedFileKey(*record))) wanted.push_back(record);
    }
    wanted_(wanted);
}

}  // namespace sorvane::app

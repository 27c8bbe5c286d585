#include "app/skin_framework/controls.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextBrowser>

#include "app/skin_framework/markup.h"
#include "app/skin_framework/skin_package.h"
#include "app/skin_framework/window.h"

namespace sorvane::skin {

QColor ParseColor(const QString& text) {
    QString value = text.trimmed();
    if (value.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive)) value = u'#' + value.mid(2);
    // #AARRGGBB and #RRGGBB are what QColor reads too.
    return QColor(value);
}

bool ParseBool(const QString& text) {
    return text.trimmed().compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0;
}

namespace {

// "w,h" or a single number for both.
QPair<int, int> ParseSize(const QString& text) {
    const QStringList parts = text.split(u',');
    if (parts.size() == 1) return {parts[0].trimmed().toInt(), parts[0].trimmed().toInt()};
    if (parts.size() != 2) return {0, 0};
    return {parts[0].trimmed().toInt(), parts[1].trimmed().toInt()};
}

Qt::Alignment ParseHAlign(const QString& value) {
    if (value == u"center") return Qt::AlignHCenter;
    if (value == u"right") return Qt::AlignRight;
    return Qt::AlignLeft;
}

Qt::Alignment ParseVAlign(const QString& value) {
    if (value == u"top") return Qt::AlignTop;
    if (value == u"bottom") return Qt::AlignBottom;
    return Qt::AlignVCenter;
}

void RelayoutParent(QWidget* widget) {
    if (auto* container = dynamic_cast<Container*>(widget->parentWidget())) container->Relayout();
}

}  // namespace

// ---- Control

Control::Control(QWidget* parent) : QWidget(parent) {}

Window* Control::OwnerWindow() const {
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (auto* window = dynamic_cast<Window*>(w)) return window;
    }
    return nullptr;
}

void Control::SendNotify(const QString& type, qint64 wParam, qint64 lParam) {
    if (Window* window = OwnerWindow()) window->SendNotify(Notification{type, this, wParam, lParam});
}

void Control::SetText(const QString& text) {
    if (text_ == text) return;
    text_ = text;
    update();
}

QString Control::ShownText() const { return showHtml_ ? StripMarkup(text_) : text_; }

void Control::SetTextColor(const QColor& color) {
    textColor_ = color;
    update();
}

void Control::SetBkColor(const QColor& color) {
    bkColor_ = color;
    update();
}

void Control::SetBkImage(const QString& picture) {
    bkImage_ = picture;
    update();
}

void Control::SetForeImage(const QString& picture) {
    foreImage_ = picture;
    update();
}

void Control::SetFontIndex(int index) {
    font_ = index;
    update();
}

void Control::SetShowHtml(bool on) {
    showHtml_ = on;
    update();
}

void Control::setVisible(bool visible) {
    const bool changed = isHidden() == visible;
    QWidget::setVisible(visible);
    if (changed) RelayoutParent(this);
}

void Control::SetEnabled(bool enabled) {
    setEnabled(enabled);
    update();
}

void Control::SetFixedWidth(int width) {
    fixedWidth_ = width;
    RelayoutParent(this);
}

void Control::SetFixedHeight(int height) {
    fixedHeight_ = height;
    RelayoutParent(this);
}

QString Control::Attribute(const QString& name) const {
    for (const auto& [key, value] : attributes_) {
        if (key == name) return value;
    }
    return {};
}

void Control::SetAttribute(const QString& name, const QString& value) {
    attributes_.push_back({name, value});
    if (name == u"name") {
        SetName(value);
    } else if (name == u"text") {
        SetText(value);
    } else if (name == u"tooltip") {
        setToolTip(value);
    } else if (name == u"width") {
        fixedWidth_ = value.toInt();
    } else if (name == u"height") {
        fixedHeight_ = value.toInt();
    } else if (name == u"minwidth") {
        minSize_.setWidth(value.toInt());
    } else if (name == u"minheight") {
        minSize_.setHeight(value.toInt());
    } else if (name == u"padding") {
        padding_ = ParseMargins(value);
    } else if (name == u"float") {
        float_ = ParseBool(value);
    } else if (name == u"pos") {
        const QMargins m = ParseMargins(value);
        floatPos_ = QRect(QPoint(m.left(), m.top()), QPoint(m.right() - 1, m.bottom() - 1));
        if (m.right() > m.left()) fixedWidth_ = m.right() - m.left();
        if (m.bottom() > m.top()) fixedHeight_ = m.bottom() - m.top();
    } else if (name == u"bkcolor") {
        bkColor_ = ParseColor(value);
    } else if (name == u"bkcolor2") {
        bkColor2_ = ParseColor(value);
    } else if (name == u"bkimage") {
        bkImage_ = value;
    } else if (name == u"foreimage") {
        foreImage_ = value;
    } else if (name == u"bordercolor") {
        borderColor_ = ParseColor(value);
    } else if (name == u"bordersize") {
        borderSize_ = value.toInt();
    } else if (name == u"borderround") {
        borderRound_ = ParseSize(value).first;
    } else if (name == u"textcolor") {
        textColor_ = ParseColor(value);
    } else if (name == u"disabledtextcolor") {
        disabledTextColor_ = ParseColor(value);
    } else if (name == u"font") {
        font_ = value.toInt();
    } else if (name == u"showhtml") {
        showHtml_ = ParseBool(value);
    } else if (name == u"multiline") {
        multiline_ = ParseBool(value);
    } else if (name == u"endellipsis") {
        endEllipsis_ = ParseBool(value);
    } else if (name == u"align") {
        align_ = (align_ & Qt::AlignVertical_Mask) | ParseHAlign(value);
    } else if (name == u"valign") {
        align_ = (align_ & Qt::AlignHorizontal_Mask) | ParseVAlign(value);
    } else if (name == u"textpadding") {
        textPadding_ = ParseMargins(value);
    } else if (name == u"userdata") {
        userData_ = value;
    } else if (name == u"visible") {
        setVisible(ParseBool(value));
    } else if (name == u"enabled") {
        setEnabled(ParseBool(value));
    } else if (name == u"mouse") {
        setAttribute(Qt::WA_TransparentForMouseEvents, !ParseBool(value));
    }
}

QFont Control::ControlFont() const {
    if (Window* window = OwnerWindow()) return window->Font(font_);
    return font();
}

void Control::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    PaintBackground(painter);
    PaintStatusImage(painter);
    PaintText(painter);
    PaintBorder(painter);
}

void Control::PaintBackground(QPainter& painter) {
    if (bkColor_.isValid() && bkColor_.alpha() > 0) {
        QBrush brush(bkColor_);
        if (bkColor2_.isValid()) {
            QLinearGradient gradient(0, 0, 0, height());
            gradient.setColorAt(0, bkColor_);
            gradient.setColorAt(1, bkColor2_);
            brush = QBrush(gradient);
        }
        if (borderRound_ > 0) {
            QPainterPath path;
            path.addRoundedRect(QRectF(rect()), borderRound_, borderRound_);
            painter.fillPath(path, brush);
        } else {
            painter.fillRect(rect(), brush);
        }
    }
    if (!bkImage_.isEmpty()) DrawPicture(painter, rect(), bkImage_, SkinPackage::Instance());
}

void Control::PaintStatusImage(QPainter& painter) {
    if (!foreImage_.isEmpty()) DrawPicture(painter, rect(), foreImage_, SkinPackage::Instance());
}

void Control::PaintText(QPainter& painter) {
    if (text_.isEmpty()) return;
    QColor color = textColor_.isValid() ? textColor_ : QColor(0x33, 0x3B, 0x45);
    if (!isEnabled() && disabledTextColor_.isValid()) color = disabledTextColor_;
    DrawText(painter, TextRect(), text_, color);
}

void Control::DrawText(QPainter& painter, const QRect& box, const QString& text, const QColor& color) {
    const QFont font = ControlFont();
    if (showHtml_) {
        MarkupStyle style;
        Window* window = OwnerWindow();
        style.font = [window, font](int index) { return window ? window->Font(index) : font; };
        style.picture = [](const QString& name) { return SkinPackage::Instance().Picture(name); };
        style.baseFont = font;
        style.color = color;
        style.alignment = align_;
        style.endEllipsis = endEllipsis_;
        DrawMarkup(&painter, box, text, style);
        return;
    }
    painter.setFont(font);
    painter.setPen(color);
    if (multiline_) {
        painter.drawText(box, static_cast<int>(align_) | Qt::TextWordWrap, text);
    } else {
        const QString shown =
            endEllipsis_ ? QFontMetrics(font).elidedText(text, Qt::ElideRight, box.width()) : text;
        painter.drawText(box, static_cast<int>(align_) | Qt::TextSingleLine, shown);
    }
}

void Control::PaintBorder(QPainter& painter) {
    if (borderSize_ <= 0 || !borderColor_.isValid()) return;
    QPen pen(borderColor_, borderSize_);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QRectF box =
        QRectF(rect()).adjusted(borderSize_ / 2.0, borderSize_ / 2.0, -borderSize_ / 2.0, -borderSize_ / 2.0);
    if (borderRound_ > 0)
        painter.drawRoundedRect(box, borderRound_, borderRound_);
    else
        painter.drawRect(box);
}

// ---- Container

Container::Container(Direction direction, QWidget* parent) : Control(parent), direction_(direction) {}

QString Container::ClassName() const {
    switch (direction_) {
        case Direction::Vertical:
            return QStringLiteral("VerticalLayout");
        case Direction::Horizontal:
            return QStringLiteral("HorizontalLayout");
        case Direction::Stack:
            break;
    }
    return QStringLiteral("Container");
}

bool Container::HasInterface(const QString& name) const {
    return name == u"Container" || name == ClassName() || Control::HasInterface(name);
}

void Container::Add(Control* child) { AddAt(child, Count()); }

void Container::AddAt(Control* child, int index) {
    if (child->parentWidget() != this) child->setParent(this);
    items_.insert(qBound(0, index, Count()), child);
    if (!child->isHidden() || !child->testAttribute(Qt::WA_WState_ExplicitShowHide)) child->show();
    Relayout();
}

void Container::Remove(Control* child) {
    if (items_.removeOne(child)) {
        child->hide();
        child->deleteLater();
        child->setParent(nullptr);
        Relayout();
    }
}

void Container::SetAttribute(const QString& name, const QString& value) {
    if (name == u"inset") {
        inset_ = ParseMargins(value);
    } else if (name == u"childpadding") {
        childPadding_ = value.toInt();
    } else if (name == u"childalign") {
        childAlign_ = (childAlign_ & Qt::AlignVertical_Mask) | ParseHAlign(value);
    } else if (name == u"childvalign") {
        childAlign_ = (childAlign_ & Qt::AlignHorizontal_Mask) | ParseVAlign(value);
    }
    Control::SetAttribute(name, value);
}

void Container::resizeEvent(QResizeEvent*) { Relayout(); }

void Container::Relayout() {
    const QRect area = LayoutArea();
    QList<Control*> flowing;
    for (Control* child : items_) {
        if (child->isHidden()) continue;
        if (child->IsFloat()) {
            const QRect pos = child->FloatPos();
            child->setGeometry(rect().left() + pos.left(), rect().top() + pos.top(),
                               child->FixedWidth() ? child->FixedWidth() : pos.width(),
                               child->FixedHeight() ? child->FixedHeight() : pos.height());
            continue;
        }
        flowing.push_back(child);
    }
    if (flowing.isEmpty()) return;

    if (direction_ == Direction::Stack) {
        for (Control* child : flowing) {
            QRect box = area.marginsRemoved(child->Padding());
            if (child->FixedWidth()) box.setWidth(child->FixedWidth());
            if (child->FixedHeight()) box.setHeight(child->FixedHeight());
            child->setGeometry(box);
        }
        return;
    }

    const bool vertical = direction_ == Direction::Vertical;
    auto along = [vertical](Control* c) { return vertical ? c->FixedHeight() : c->FixedWidth(); };
    auto alongPad = [vertical](Control* c) {
        const QMargins p = c->Padding();
        return vertical ? p.top() + p.bottom() : p.left() + p.right();
    };
    const int total = vertical ? area.height() : area.width();
    int fixed = childPadding_ * (static_cast<int>(flowing.size()) - 1);
    int stretchCount = 0;
    for (Control* child : flowing) {
        fixed += alongPad(child);
        if (along(child))
            fixed += along(child);
        else
            ++stretchCount;
    }
    const int stretch = stretchCount ? qMax(0, (total - fixed) / stretchCount) : 0;
    int used = fixed + stretch * stretchCount;
    int cursor = vertical ? area.top() : area.left();
    if (!stretchCount) {
        const Qt::Alignment mainAlign =
            vertical ? (childAlign_ & Qt::AlignVertical_Mask) : (childAlign_ & Qt::AlignHorizontal_Mask);
        if (mainAlign & (Qt::AlignHCenter | Qt::AlignVCenter))
            cursor += (total - used) / 2;
        else if (mainAlign & (Qt::AlignRight | Qt::AlignBottom))
            cursor += total - used;
    }
    for (Control* child : flowing) {
        const QMargins p = child->Padding();
        int length = along(child)
                         ? along(child)
                         : qMax(stretch, vertical ? child->MinSize().height() : child->MinSize().width());
        if (vertical) {
            cursor += p.top();
            int width = child->FixedWidth() ? child->FixedWidth() : area.width() - p.left() - p.right();
            int x = area.left() + p.left();
            if (child->FixedWidth()) {
                if (childAlign_ & Qt::AlignHCenter)
                    x = area.left() + (area.width() - width) / 2;
                else if (childAlign_ & Qt::AlignRight)
                    x = area.right() + 1 - p.right() - width;
            }
            child->setGeometry(x, cursor, width, length);
            cursor += length + p.bottom() + childPadding_;
        } else {
            cursor += p.left();
            int height = child->FixedHeight() ? child->FixedHeight() : area.height() - p.top() - p.bottom();
            int y = area.top() + p.top();
            if (child->FixedHeight()) {
                if (childAlign_ & Qt::AlignVCenter)
                    y = area.top() + (area.height() - height) / 2;
                else if (childAlign_ & Qt::AlignBottom)
                    y = area.bottom() + 1 - p.bottom() - height;
            }
            child->setGeometry(cursor, y, length, height);
            cursor += length + p.right() + childPadding_;
        }
    }
}

// ---- TabLayout

void TabLayout::Add(Control* child) {
    Container::Add(child);
    child->setVisible(Count() - 1 == current_);
}

bool TabLayout::SelectItem(int index) {
    if (index < 0 || index >= Count()) return false;
    current_ = index;
    for (int i = 0; i < Count(); ++i) ItemAt(i)->setVisible(i == index);
    Relayout();
    SendNotify(QStringLiteral("tabselect"), index);
    return true;
}

void TabLayout::SetAttribute(const QString& name, const QString& value) {
    if (name == u"selectedid") {
        current_ = value.toInt();
        for (int i = 0; i < Count(); ++i) ItemAt(i)->setVisible(i == current_);
    }
    Container::SetAttribute(name, value);
}

// ---- Label, Text

Label::Label(QWidget* parent) : Control(parent) {}

Text::Text(QWidget* parent) : Label(parent) {
    multiline_ = true;
    align_ = Qt::AlignLeft | Qt::AlignTop;
}

// ---- Button

Button::Button(QWidget* parent) : Label(parent) {
    align_ = Qt::AlignCenter;
    setCursor(Qt::PointingHandCursor);
}

void Button::SetAttribute(const QString& name, const QString& value) {
    if (name == u"normalimage")
        normalImage_ = value;
    else if (name == u"hotimage")
        hotImage_ = value;
    else if (name == u"pushedimage")
        pushedImage_ = value;
    else if (name == u"disabledimage")
        disabledImage_ = value;
    else if (name == u"hottextcolor")
        hotTextColor_ = ParseColor(value);
    else if (name == u"pushedtextcolor")
        pushedTextColor_ = ParseColor(value);
    else if (name == u"hotbkcolor")
        hotBkColor_ = ParseColor(value);
    Label::SetAttribute(name, value);
}

void Button::SetNormalImage(const QString& picture) {
    normalImage_ = picture;
    update();
}

void Button::enterEvent(QEnterEvent*) {
    hot_ = true;
    update();
}

void Button::leaveEvent(QEvent*) {
    hot_ = false;
    pushed_ = false;
    update();
}

void Button::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return event->ignore();
    pushed_ = true;
    update();
}

void Button::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return event->ignore();
    const bool click = pushed_ && rect().contains(event->position().toPoint());
    pushed_ = false;
    update();
    if (click && isEnabled()) Activate();
}

void Button::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void Button::Activate() { SendNotify(QStringLiteral("click")); }

void Button::PaintStatusImage(QPainter& painter) {
    const SkinPackage& package = SkinPackage::Instance();
    if (hot_ && isEnabled() && hotBkColor_.isValid()) {
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), borderRound_, borderRound_);
        painter.fillPath(path, hotBkColor_);
    }
    const QString* picture = &normalImage_;
    if (!isEnabled() && !disabledImage_.isEmpty())
        picture = &disabledImage_;
    else if (pushed_ && !pushedImage_.isEmpty())
        picture = &pushedImage_;
    else if (hot_ && !hotImage_.isEmpty())
        picture = &hotImage_;
    if (!picture->isEmpty()) DrawPicture(painter, rect(), *picture, package);
    Control::PaintStatusImage(painter);
}

void Button::PaintText(QPainter& painter) {
    if (text_.isEmpty()) return;
    QColor color = textColor_.isValid() ? textColor_ : QColor(0x33, 0x3B, 0x45);
    if (!isEnabled() && disabledTextColor_.isValid())
        color = disabledTextColor_;
    else if (pushed_ && pushedTextColor_.isValid())
        color = pushedTextColor_;
    else if (hot_ && hotTextColor_.isValid())
        color = hotTextColor_;
    DrawText(painter, TextRect(), text_, color);
}

// ---- Option

void Option::SetAttribute(const QString& name, const QString& value) {
    if (name == u"group")
        group_ = value;
    else if (name == u"selected")
        selected_ = ParseBool(value);
    else if (name == u"selectedimage")
        selectedImage_ = value;
    else if (name == u"selectedhotimage")
        selectedHotImage_ = value;
    else if (name == u"selecteddisabledimage")
        selectedDisabledImage_ = value;
    else if (name == u"selectedtextcolor")
        selectedTextColor_ = ParseColor(value);
    else if (name == u"selectedbkcolor")
        selectedBkColor_ = ParseColor(value);
    Button::SetAttribute(name, value);
}

void Option::Selected(bool selected, bool notify) {
    if (selected_ == selected) return;
    selected_ = selected;
    if (selected && !group_.isEmpty()) {
        // The other options of the group (anywhere in the window) give up their selection.
        QWidget* scope = OwnerWindow();
        if (!scope) scope = parentWidget();
        if (scope) {
            for (QWidget* widget : scope->findChildren<QWidget*>()) {
                auto* other = dynamic_cast<Option*>(widget);
                if (other && other != this && other->group_ == group_ && other->selected_)
                    other->Selected(false, notify);
            }
        }
    }
    update();
    if (notify) SendNotify(QStringLiteral("selectchanged"), selected ? 1 : 0);
}

void Option::Activate() {
    if (!group_.isEmpty()) {
        if (!selected_) Selected(true);
    } else {
        Selected(!selected_);
    }
    SendNotify(QStringLiteral("click"));
}

void Option::PaintStatusImage(QPainter& painter) {
    if (!selected_) return Button::PaintStatusImage(painter);
    if (selectedBkColor_.isValid()) {
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), borderRound_, borderRound_);
        painter.fillPath(path, selectedBkColor_);
    }
    const QString* picture = &selectedImage_;
    if (!isEnabled() && !selectedDisabledImage_.isEmpty())
        picture = &selectedDisabledImage_;
    else if (hot_ && !selectedHotImage_.isEmpty())
        picture = &selectedHotImage_;
    if (picture->isEmpty()) return Button::PaintStatusImage(painter);
    DrawPicture(painter, rect(), *picture, SkinPackage::Instance());
    Control::PaintStatusImage(painter);
}

void Option::PaintText(QPainter& painter) {
    if (selected_ && selectedTextColor_.isValid() && isEnabled() && !text_.isEmpty()) {
        DrawText(painter, TextRect(), text_, selectedTextColor_);
        return;
    }
    Button::PaintText(painter);
}

// ---- CheckBox

void CheckBox::SetAttribute(const QString& name, const QString& value) {
    if (name == u"halfimage" || name == u"halfselectedimage") halfImage_ = value;
    Option::SetAttribute(name, value);
}

void CheckBox::Selected(bool selected, bool notify) {
    half_ = false;
    Option::Selected(selected, notify);
    update();
}

void CheckBox::SetHalfSelected(bool half) {
    half_ = half;
    if (half) selected_ = false;
    update();
}

void CheckBox::PaintStatusImage(QPainter& painter) {
    if (half_ && !halfImage_.isEmpty()) {
        DrawPicture(painter, rect(), halfImage_, SkinPackage::Instance());
        return;
    }
    Option::PaintStatusImage(painter);
}

// ---- Progress

void Progress::SetAttribute(const QString& name, const QString& value) {
    if (name == u"min")
        min_ = value.toInt();
    else if (name == u"max")
        max_ = value.toInt();
    else if (name == u"value")
        value_ = value.toInt();
    else if (name == u"forecolor")
        foreColor_ = ParseColor(value);
    Label::SetAttribute(name, value);
}

void Progress::SetValue(int value) {
    value_ = qBound(min_, value, max_);
    update();
}

void Progress::PaintStatusImage(QPainter& painter) {
    if (max_ <= min_) return;
    const int filled = static_cast<int>(static_cast<qint64>(width()) * (value_ - min_) / (max_ - min_));
    if (filled <= 0) return;
    const QRect done(0, 0, filled, height());
    if (!foreImage_.isEmpty()) {
        painter.save();
        painter.setClipRect(done);
        DrawPicture(painter, rect(), foreImage_, SkinPackage::Instance());
        painter.restore();
    } else if (foreColor_.isValid()) {
        QPainterPath path;
        path.addRoundedRect(QRectF(done), borderRound_, borderRound_);
        painter.fillPath(path, foreColor_);
    }
}

// ---- RichEdit

RichEdit::RichEdit(QWidget* parent) : Control(parent), browser_(new QTextBrowser(this)) {
    browser_->setReadOnly(true);
    browser_->setFrameShape(QFrame::NoFrame);
    browser_->setOpenLinks(false);
}

void RichEdit::SetText(const QString& text) {
    Control::SetText(text);
    browser_->setPlainText(text);
}

void RichEdit::SetAttribute(const QString& name, const QString& value) {
    if (name == u"readonly") browser_->setReadOnly(ParseBool(value));
    Control::SetAttribute(name, value);
    if (name == u"text") browser_->setPlainText(value);
}

void RichEdit::resizeEvent(QResizeEvent*) { browser_->setGeometry(rect().marginsRemoved(textPadding_)); }

}  // namespace sorvane::skin

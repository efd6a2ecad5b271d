#include "vcl/Controls.h"

#include <QCursor>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QStyleOption>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int Int16Min = std::numeric_limits<std::int16_t>::min();
constexpr int Int16Max = std::numeric_limits<std::int16_t>::max();

int ToInt16(int value) {
    return std::clamp(value, Int16Min, Int16Max);
}

} // namespace

TLabel::TLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setMargin(0);
    setIndent(0);
}

void TLabel::SetCaption(const QString& caption) {
    setText(caption);
    // Only the width follows the text; the height stays as laid out.
    resize(sizeHint().width(), height());
}

TButton::TButton(QWidget* parent) : QPushButton(parent) {
    setAutoDefault(false);
    setFocusPolicy(Qt::StrongFocus);
}

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) {}

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {
    // The keyboard stays in the buddy, whose arrow keys step this control.
    setFocusPolicy(Qt::NoFocus);
}

void TUpDown::SetAssociate(TEdit* buddy) {
    if (buddy_)
        buddy_->removeEventFilter(this);
    buddy_ = buddy;
    if (buddy_) {
        buddy_->installEventFilter(this);
        buddy_->setText(QString::number(position_));
    }
}

std::optional<int> TUpDown::TypedNumber() const {
    if (!buddy_)
        return std::nullopt;
    bool ok = false;
    const int typed = buddy_->text().trimmed().toInt(&ok);
    return ok ? std::optional(typed) : std::nullopt;
}

int TUpDown::Position() const {
    // The buddy's text is the truth: a number typed there is the position.
    if (const auto typed = TypedNumber())
        position_ = std::clamp(*typed, std::min(min_, max_), std::max(min_, max_));
    return position_;
}

void TUpDown::SetPosition(int position) {
    position_ = std::clamp(ToInt16(position), std::min(min_, max_), std::max(min_, max_));
    if (buddy_)
        buddy_->setText(QString::number(position_));
}

void TUpDown::SetMin(int value) {
    min_ = ToInt16(value);
}

void TUpDown::SetMax(int value) {
    max_ = ToInt16(value);
}

void TUpDown::StepBy(int steps) {
    int from = Position();
    // "Up" goes towards Max, also when the range is reversed; no wrapping.
    int to = from + (max_ >= min_ ? steps : -steps);
    to = std::clamp(to, std::min(min_, max_), std::max(min_, max_));
    if (to != from || (buddy_ && buddy_->text() != QString::number(to)))
        SetPosition(to);
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == buddy_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            StepBy(key->key() == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TUpDown::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int half = height() / 2;
    const QRect halves[2] = {QRect(0, 0, width(), half), QRect(0, half, width(), height() - half)};
    const QStyle::PrimitiveElement arrows[2] = {QStyle::PE_IndicatorArrowUp,
                                                QStyle::PE_IndicatorArrowDown};
    for (int i = 0; i < 2; ++i) {
        QStyleOptionButton button;
        button.initFrom(this);
        button.rect = halves[i];
        button.state |= QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &button, &painter, this);
        QStyleOption arrow;
        arrow.initFrom(this);
        arrow.rect = halves[i].adjusted(2, 2, -2, -2);
        style()->drawPrimitive(arrows[i], &arrow, &painter, this);
    }
}

void TUpDown::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    StepBy(event->position().y() < height() / 2 ? 1 : -1);
}

void TUpDown::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up)
        StepBy(1);
    else if (event->key() == Qt::Key_Down)
        StepBy(-1);
    else
        QWidget::keyPressEvent(event);
}

TImage::TImage(QWidget* parent) : QWidget(parent) {
    // The keys work wherever the focus is in the control's window.
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const Qt::KeyboardModifiers keypad = Qt::ControlModifier | Qt::KeypadModifier;
    const std::pair<QKeySequence, int> keys[] = {
        {QKeyCombination(ctrl, Qt::Key_Plus), 1},     {QKeyCombination(ctrl, Qt::Key_Equal), 1},
        {QKeyCombination(keypad, Qt::Key_Plus), 1},   {QKeyCombination(ctrl, Qt::Key_Minus), -1},
        {QKeyCombination(keypad, Qt::Key_Minus), -1}, {QKeyCombination(ctrl, Qt::Key_0), 0},
        {QKeyCombination(keypad, Qt::Key_0), 0},
    };
    for (const auto& [sequence, step] : keys) {
        auto* shortcut = new QShortcut(sequence, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, step = step] {
            if (step != 0)
                return SetZoom(zoom_ + step);
            SetZoom(1);
            ShowTopLeft();
        });
    }
}

void TImage::UpdateToolTip() {
    // Only a control given a hint has a tooltip.
    if (!hint_.isEmpty())
        setToolTip(QString::number(zoom_) + QStringLiteral("x, ") + hint_);
}

void TImage::SetHint(const QString& hint) {
    hint_ = hint;
    UpdateToolTip();
}

void TImage::SetGrid(bool grid) {
    grid_ = grid;
    update();
}

QPoint TImage::PixelAt(QPointF point) const {
    const QPointF enlarged = point + QPointF(offset_);
    return QPoint(static_cast<int>(std::floor(enlarged.x() / zoom_)),
                  static_cast<int>(std::floor(enlarged.y() / zoom_)));
}

void TImage::UpdatePixels(const QRect& pixels) {
    update(QRect(pixels.topLeft() * zoom_ - offset_, pixels.size() * zoom_));
}

void TImage::mousePressEvent(QMouseEvent* event) {
    emit MouseDown(event->button(), PixelAt(event->position()));
}

void TImage::mouseMoveEvent(QMouseEvent* event) {
    emit MouseMove(event->buttons(), PixelAt(event->position()));
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
    emit MouseUp(event->button(), PixelAt(event->position()));
}

void TImage::mouseDoubleClickEvent(QMouseEvent* event) {
    event->ignore();
    emit DblClick(event, PixelAt(event->position()));
    if (!event->isAccepted())
        mousePressEvent(event);
}

void TImage::keyPressEvent(QKeyEvent* event) {
    event->ignore();
    emit KeyDown(event);
    if (!event->isAccepted())
        QWidget::keyPressEvent(event);
}

void TImage::SetPicture(const kiv::Image& picture) {
    picture_ = picture;
    update();
}

void TImage::SetPicture(kiv::Image&& picture) {
    picture_ = std::move(picture);
    update();
}

void TImage::Repaint() {
    repaint();
}

QScrollArea* TImage::ScrollBox() const {
    QWidget* viewport = parentWidget();
    auto* box = viewport ? qobject_cast<QScrollArea*>(viewport->parentWidget()) : nullptr;
    return box && box->widget() == this ? box : nullptr;
}

QRect TImage::VisibleRect() const {
    if (QScrollArea* box = ScrollBox())
        return QRect(mapFrom(box->viewport(), QPoint(0, 0)), box->viewport()->size());
    return rect();
}

void TImage::SetZoom(int zoom) {
    const QRect visible = VisibleRect();
    const QPoint pointer = mapFromGlobal(QCursor::pos());
    SetZoom(zoom, visible.contains(pointer) ? pointer : visible.center());
}

void TImage::SetZoom(int zoom, QPoint anchor) {
    zoom = std::clamp(zoom, 1, MaxZoom);
    if (zoom == zoom_)
        return;
    if (zoom_ == 1)
        naturalSize_ = size();
    // The enlarged picture's point under the anchor, before and after.
    const QPoint before = anchor + offset_;
    const QPoint after(before.x() * zoom / zoom_, before.y() * zoom / zoom_);
    zoom_ = zoom;
    UpdateToolTip();
    if (QScrollArea* box = ScrollBox()) {
        const QPoint inView = anchor - VisibleRect().topLeft();
        zooming_ = true;
        resize(naturalSize_ * zoom_);
        zooming_ = false;
        box->horizontalScrollBar()->setValue(after.x() - inView.x());
        box->verticalScrollBar()->setValue(after.y() - inView.y());
    } else {
        const QSize room = naturalSize_ * zoom_ - size();
        offset_ = QPoint(std::clamp(after.x() - anchor.x(), 0, std::max(room.width(), 0)),
                         std::clamp(after.y() - anchor.y(), 0, std::max(room.height(), 0)));
    }
    update();
}

void TImage::ShowTopLeft() {
    if (QScrollArea* box = ScrollBox()) {
        box->horizontalScrollBar()->setValue(0);
        box->verticalScrollBar()->setValue(0);
    }
    offset_ = QPoint(0, 0);
    update();
}

void TImage::resizeEvent(QResizeEvent*) {
    if (zoom_ == 1 || zooming_)
        return;
    if (!ScrollBox()) {
        naturalSize_ = size();
        const QSize room = naturalSize_ * zoom_ - size();
        offset_ = QPoint(std::min(offset_.x(), room.width()), std::min(offset_.y(), room.height()));
        return;
    }
    if (size() == naturalSize_ * zoom_)
        return;
    naturalSize_ = size();
    zooming_ = true;
    resize(naturalSize_ * zoom_);
    zooming_ = false;
}

void TImage::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier))
        return QWidget::wheelEvent(event); // the scroll box scrolls
    wheelAngle_ += event->angleDelta().y();
    const int steps = wheelAngle_ / 120;
    wheelAngle_ -= steps * 120;
    if (steps != 0)
        SetZoom(zoom_ + steps, event->position().toPoint());
    event->accept();
}

void TImage::paintEvent(QPaintEvent* event) {
    if (picture_.Empty())
        return;
    const int z = zoom_;
    // The enlarged picture, as placed in this control, clipped to the enlarged control.
    QRect placed(-offset_, QSize(picture_.Width(), picture_.Height()) * z);
    if (z > 1)
        placed &= QRect(-offset_, naturalSize_ * z);
    const QRect area = event->rect().intersected(placed);
    if (area.isEmpty())
        return;
    QPainter painter(this);
    if (z == 1) {
        // The picture's fourth byte is 0, which Qt would take as transparent: only the
        // exposed part is viewed in place and made opaque for drawing.
        const std::uint8_t* first = picture_.Bits() +
                                    static_cast<std::size_t>(area.top()) * picture_.BytesPerLine() +
                                    static_cast<std::size_t>(area.left()) * 4;
        const QImage view(first, area.width(), area.height(), picture_.BytesPerLine(),
                          QImage::Format_RGBX8888);
        painter.drawImage(area.topLeft(), view.convertToFormat(QImage::Format_RGB32));
        return;
    }
    // Each screen pixel takes the colour of the picture pixel it falls in; the grid's screen
    // pixels are drawn a quarter of the way to grey.
    const bool grid = grid_ && z >= GridMinZoom;
    const auto faint = [](unsigned c) { return (3 * c + 128) / 4; };
    QImage enlarged(area.size(), QImage::Format_RGB32);
    for (int y = 0; y < area.height(); ++y) {
        const int atY = area.top() + y + offset_.y();
        const kiv::TColor* in = picture_.Row(atY / z);
        const bool lineRow = grid && atY % z == 0;
        auto* out = reinterpret_cast<QRgb*>(enlarged.scanLine(y));
        for (int x = 0; x < area.width(); ++x) {
            const int atX = area.left() + x + offset_.x();
            const kiv::TColor c = in[atX / z];
            if (lineRow || (grid && atX % z == 0))
                out[x] = qRgb(faint(kiv::RedOf(c)), faint(kiv::GreenOf(c)), faint(kiv::BlueOf(c)));
            else
                out[x] = qRgb(kiv::RedOf(c), kiv::GreenOf(c), kiv::BlueOf(c));
        }
    }
    painter.drawImage(area.topLeft(), enlarged);
}

TScrollBox::TScrollBox(QWidget* parent) : QScrollArea(parent) {
    setWidgetResizable(false);
    setFocusPolicy(Qt::NoFocus);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
}

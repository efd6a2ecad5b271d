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
#include <QToolTip>
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
                return SetZoom(zoom_ + step, ViewCentre());
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

QString TImage::ToolTipAt(QPoint point) const {
    const QPoint pixel = PixelAt(point);
    QString text = QString::number(zoom_) + QStringLiteral("x, ");
    const bool over = pixel.x() >= 0 && pixel.y() >= 0 && pixel.x() < picture_.Width() &&
                      pixel.y() < picture_.Height() &&
                      QRect(QPoint(0, 0), ContentSize()).contains(point + offset_);
    if (over && PixelHint) {
        const QString about = PixelHint(pixel);
        if (!about.isEmpty())
            text += about + (hint_.isEmpty() ? QString() : QStringLiteral("\n"));
    }
    return text + hint_;
}

bool TImage::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip && !hint_.isEmpty()) {
        const auto* help = static_cast<QHelpEvent*>(event);
        QToolTip::showText(help->globalPos(), ToolTipAt(help->pos()), this);
        return true;
    }
    return QWidget::event(event);
}

void TImage::SetGrid(bool grid) {
    grid_ = grid;
    update();
}

void TImage::SetUnderlays(std::vector<kiv::Image> underlays, kiv::TColor key) {
    underlays_ = std::move(underlays);
    underlayKey_ = key;
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
    PictureChanged();
}

void TImage::SetPicture(kiv::Image&& picture) {
    picture_ = std::move(picture);
    PictureChanged();
}

void TImage::Repaint() {
    PictureChanged();
    repaint();
}

void TImage::PictureChanged() {
    if (TScrollBox* box = ScrollBox())
        box->FitRanges();
    update();
}

QSize TImage::ContentSize() const {
    const QSize natural = NaturalSize();
    return QSize(std::min(natural.width(), picture_.Width()),
                 std::min(natural.height(), picture_.Height())) *
           zoom_;
}

TScrollBox* TImage::ScrollBox() const {
    QWidget* viewport = parentWidget();
    auto* box = viewport ? qobject_cast<TScrollBox*>(viewport->parentWidget()) : nullptr;
    return box && box->widget() == this ? box : nullptr;
}

QPoint TImage::ViewCentre() const {
    const QRect visible = VisibleRect();
    const QRect shown = visible & QRect(-offset_, ContentSize());
    return shown.isEmpty() ? visible.center() : shown.center();
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
    if (TScrollBox* box = ScrollBox()) {
        const QPoint inView = anchor - VisibleRect().topLeft();
        zooming_ = true;
        resize(naturalSize_ * zoom_);
        zooming_ = false;
        box->FitRanges(); // the new ranges, before the view is placed in them
        box->horizontalScrollBar()->setValue(after.x() - inView.x());
        box->verticalScrollBar()->setValue(after.y() - inView.y());
    } else {
        const QSize room = naturalSize_ * zoom_ - size();
        offset_ = QPoint(std::clamp(after.x() - anchor.x(), 0, std::max(room.width(), 0)),
                         std::clamp(after.y() - anchor.y(), 0, std::max(room.height(), 0)));
    }
    update();
    emit ZoomChanged(zoom_);
}

void TImage::ShowTopLeft() {
    if (TScrollBox* box = ScrollBox()) {
        box->FitRanges();
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
    if (z == 1 && underlays_.empty()) {
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
    const kiv::TColor key = underlayKey_;
    const auto under = [&](kiv::TColor c, int x, int y) {
        if (c != key)
            return c;
        for (const kiv::Image& layer : underlays_) {
            if (x >= layer.Width() || y >= layer.Height())
                continue;
            const kiv::TColor u = layer.Pixel(x, y);
            if (u == key)
                continue;
            const auto third = [](unsigned k, unsigned v) { return (2 * k + v + 1) / 3; };
            c = kiv::RGB(third(kiv::RedOf(key), kiv::RedOf(u)),
                         third(kiv::GreenOf(key), kiv::GreenOf(u)),
                         third(kiv::BlueOf(key), kiv::BlueOf(u)));
        }
        return c;
    };
    QImage enlarged(area.size(), QImage::Format_RGB32);
    for (int y = 0; y < area.height(); ++y) {
        const int atY = area.top() + y + offset_.y();
        const kiv::TColor* in = picture_.Row(atY / z);
        const bool lineRow = grid && atY % z == 0;
        auto* out = reinterpret_cast<QRgb*>(enlarged.scanLine(y));
        for (int x = 0; x < area.width(); ++x) {
            const int atX = area.left() + x + offset_.x();
            kiv::TColor c = in[atX / z];
            if (!underlays_.empty())
                c = under(c, atX / z, atY / z);
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

void TScrollBox::FitRanges() {
    auto* image = qobject_cast<TImage*>(widget());
    if (!image)
        return;
    const QSize content = image->ContentSize();
    const QSize view = viewport()->size();
    QScrollBar* bars[] = {horizontalScrollBar(), verticalScrollBar()};
    const int room[] = {content.width() - view.width(), content.height() - view.height()};
    const int page[] = {view.width(), view.height()};
    for (int i = 0; i < 2; ++i) {
        bars[i]->setRange(0, std::max(room[i], 0));
        bars[i]->setPageStep(page[i]);
    }
}

// The scroll area sets its ranges from the child's whole size at each of these; they are
// fitted to the picture again right after.
bool TScrollBox::event(QEvent* event) {
    const bool done = QScrollArea::event(event);
    if (event->type() == QEvent::LayoutRequest)
        FitRanges();
    return done;
}

bool TScrollBox::eventFilter(QObject* watched, QEvent* event) {
    const bool done = QScrollArea::eventFilter(watched, event);
    if (watched == widget() && event->type() == QEvent::Resize)
        FitRanges();
    return done;
}

void TScrollBox::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    FitRanges();
}

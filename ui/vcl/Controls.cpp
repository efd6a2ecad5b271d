#include "vcl/Controls.h"

#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>
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

TImage::TImage(QWidget* parent) : QWidget(parent) {}

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

void TImage::paintEvent(QPaintEvent* event) {
    if (picture_.Empty())
        return;
    const QRect area = event->rect().intersected(QRect(0, 0, picture_.Width(), picture_.Height()));
    if (area.isEmpty())
        return;
    // The picture's fourth byte is 0, which Qt would take as transparent: only the exposed
    // part is viewed in place and made opaque for drawing.
    const std::uint8_t* first = picture_.Bits() +
                                static_cast<std::size_t>(area.top()) * picture_.BytesPerLine() +
                                static_cast<std::size_t>(area.left()) * 4;
    const QImage view(first, area.width(), area.height(), picture_.BytesPerLine(),
                      QImage::Format_RGBX8888);
    QPainter painter(this);
    painter.drawImage(area.topLeft(), view.convertToFormat(QImage::Format_RGB32));
}

TScrollBox::TScrollBox(QWidget* parent) : QScrollArea(parent) {
    setWidgetResizable(false);
    setFocusPolicy(Qt::NoFocus);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
}

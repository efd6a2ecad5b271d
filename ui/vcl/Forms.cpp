#include "vcl/Forms.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace {

// The tool window that was active last; boxes and dialogs are not tool windows.
TForm* LastActiveForm = nullptr;

// The layout values are given for this display resolution.
constexpr int LayoutPixelsPerInch = 120;
// ...and for a window font whose text is this high.
constexpr int LayoutTextHeight = 20;

int ScreenPixelsPerInch() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return LayoutPixelsPerInch;
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? static_cast<int>(std::lround(screen->logicalDotsPerInchY()))
                  : LayoutPixelsPerInch;
}

// The sans fonts with the metrics closest to the layout's own, best first.
QString SansFamily() {
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families();
        for (const char* candidate : {"Liberation Sans", "Arimo", "Arial", "DejaVu Sans"})
            if (installed.contains(QLatin1String(candidate), Qt::CaseInsensitive))
                return QString::fromLatin1(candidate);
        return QString::fromLatin1("Sans Serif");
    }();
    return family;
}

} // namespace

TForm::TForm(QWidget* parent) : QMainWindow(parent) {
    const QFont font = WindowFont(-17);
    setFont(font);
    const int textHeight = QFontMetrics(font).height();
    if (textHeight > 0 && textHeight != LayoutTextHeight)
        scale_ = static_cast<double>(textHeight) / LayoutTextHeight;

    // Controls keep their places when the window is resized; a window smaller than its
    // controls scrolls over them.
    auto* area = new QScrollArea(this);
    area->setObjectName(QStringLiteral("ClientScroller"));
    area->setFrameShape(QFrame::NoFrame);
    area->setFocusPolicy(Qt::NoFocus);
    area->setWidgetResizable(true);
    client_ = new QWidget(area);
    client_->setObjectName(QStringLiteral("Client"));
    area->setWidget(client_);
    setCentralWidget(area);
}

TForm::~TForm() {
    if (LastActiveForm == this)
        LastActiveForm = nullptr;
}

int TForm::Scaled(int value) const {
    return static_cast<int>(std::lround(static_cast<double>(value) * scale_));
}

void TForm::SetBounds(QWidget* control, int left, int top, int width, int height) const {
    const QRect bounds(Scaled(left), Scaled(top), Scaled(width), Scaled(height));
    control->setGeometry(bounds);
    if (control->parentWidget() == client_) {
        const QSize extent =
            client_->minimumSize().expandedTo(QSize(bounds.right() + 1, bounds.bottom() + 1));
        client_->setMinimumSize(extent);
    }
}

void TForm::SetWindowBounds(int left, int top, int width, int height) {
    // The frame's size is known only once the window is on screen; before that the frame
    // is taken as nothing, which is what it is on frameless platforms.
    move(left, top);
    requestedOuter_ = QSize(width, height);
    outerPending_ = !isVisible();
    const QSize frame = isVisible() ? frameGeometry().size() - geometry().size() : QSize(0, 0);
    resize(std::max(width - frame.width(), 1), std::max(height - frame.height(), 1));
}

std::optional<QSize> TForm::FittedClientSize(QSize outer, QSize frame) {
    if (frame.width() == 0 && frame.height() == 0)
        return std::nullopt;
    return QSize(std::max(outer.width() - frame.width(), 1),
                 std::max(outer.height() - frame.height(), 1));
}

void TForm::FitOuterSize() {
    const auto client =
        FittedClientSize(requestedOuter_, frameGeometry().size() - geometry().size());
    if (!client)
        return; // not known yet, or no frame at all
    outerPending_ = false;
    resize(*client);
}

int TForm::OuterWidth() const {
    return frameGeometry().width();
}

int TForm::OuterHeight() const {
    return frameGeometry().height();
}

QFont TForm::WindowFont(int characterHeight) {
    QFont font(SansFamily());
    // The character height follows the display's resolution, rounded to a whole pixel.
    const int pixels = static_cast<int>(
        std::lround(std::abs(characterHeight) * static_cast<double>(ScreenPixelsPerInch()) /
                    LayoutPixelsPerInch));
    font.setPixelSize(std::max(pixels, 1));
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

bool TForm::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        const bool fromElsewhereInTool = LastActiveForm != this;
        LastActiveForm = this;
        const bool handled = QMainWindow::event(event);
        if (fromElsewhereInTool && OnActivate)
            OnActivate(this);
        return handled;
    }
    const bool handled = QMainWindow::event(event);
    if (outerPending_ && isVisible() &&
        (event->type() == QEvent::Show || event->type() == QEvent::Move ||
         event->type() == QEvent::Resize))
        FitOuterSize();
    return handled;
}

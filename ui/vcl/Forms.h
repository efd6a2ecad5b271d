#pragma once
// The window class both windows derive from: absolute layout in the window's client area,
// scaled by the measured font height, scroll bars when the window is smaller than its
// controls.

#include <QFont>
#include <QMainWindow>
#include <functional>
#include <optional>

class TForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm(QWidget* parent = nullptr);

    // The client area below the menu bar, where controls are placed.
    QWidget* Client() const { return client_; }
    // Layout values are given for a 120-ppi display with a 20-pixel text height; this scales
    // one of them for the font in use.
    int Scaled(int value) const;
    // Places a control at layout coordinates (scaled).
    void SetBounds(QWidget* control, int left, int top, int width, int height) const;
    // The window's own position and outer size (frame included), not scaled.
    void SetWindowBounds(int left, int top, int width, int height);
    int OuterWidth() const;
    int OuterHeight() const;
    // The client size that makes the outer size `outer` inside a frame whose extents add up
    // to `frame`; nothing while the frame is not known (no extent at all). A frame may have
    // a caption bar and no side borders.
    static std::optional<QSize> FittedClientSize(QSize outer, QSize frame);

    // The stand-in for the layout font at the given character height (-17, -13...).
    static QFont WindowFont(int characterHeight);

    // Raised when this window becomes the tool's active window: when first activated, and
    // each time the user comes to it from the tool's other window; not when the user comes
    // back from another program, nor when one of the tool's boxes or dialogs closes.
    std::function<void(QObject* sender)> OnActivate;

    ~TForm() override;

protected:
    bool event(QEvent* event) override;

    QWidget* client_ = nullptr;
    double scale_ = 1.0;

private:
    // The outer size asked for before the window's frame was known; it is applied again once
    // the frame is there.
    void FitOuterSize();
    QSize requestedOuter_;
    bool outerPending_ = false;
};

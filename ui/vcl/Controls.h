#pragma once
// The plain controls of the windows, with the behaviour the handlers rely on.

#include "image/Image.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

// A label that sizes itself to its caption.
class TLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLabel(QWidget* parent = nullptr);
    QString Caption() const { return text(); }
    void SetCaption(const QString& caption);
};

class TButton : public QPushButton {
    Q_OBJECT
public:
    explicit TButton(QWidget* parent = nullptr);
    QString Caption() const { return text(); }
    void SetCaption(const QString& caption) { setText(caption); }
};

class TEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TEdit(QWidget* parent = nullptr);
    QString Text() const { return text(); }
    void SetText(const QString& value) { setText(value); }
};

// An up-down with its buddy edit. Position, Min and Max are 16-bit signed; the buddy's text
// follows every change of position, and the position is taken from a number typed in the
// buddy whenever it is asked for (clamped to Min..Max).
class TUpDown : public QWidget {
    Q_OBJECT
public:
    explicit TUpDown(QWidget* parent = nullptr);
    void SetAssociate(TEdit* buddy);
    TEdit* Associate() const { return buddy_; }
    int Position() const;
    void SetPosition(int position);
    // The number typed in the buddy as it stands, unclamped; nothing when it is no number.
    std::optional<int> TypedNumber() const;
    int Min() const { return min_; }
    int Max() const { return max_; }
    void SetMin(int value);
    void SetMax(int value);
    // One step up or down, as the arrows and the arrow keys do.
    void StepBy(int steps);

protected:
    // The buddy's arrow keys step the position.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    TEdit* buddy_ = nullptr;
    int min_ = 0;
    int max_ = 100;
    mutable int position_ = 0;
};

class TScrollBox;

// Shows a picture from its top-left corner, clipped, without copying the pixels for painting
// at natural size. The control holds its own copy of the picture.
//
// Zoom: Ctrl + mouse wheel and Ctrl + "+" / "-" / "0" show the picture enlarged by a whole
// factor, 1 to 16, each pixel a square of that many screen pixels (never smoothed), keeping
// the pixel under the pointer in place. Inside a scroll box the control grows with the
// factor so the box scrolls over it; elsewhere it keeps its size and shows the part of the
// enlarged picture around the pointer. The picture itself never changes. Ctrl + "0" also
// brings the picture's top-left corner into view.
//
// The pointer's presses, drags and releases, and the keys while the control has focus, come
// out as signals; pointer positions are given as picture pixels, whatever the zoom.
class TImage : public QWidget {
    Q_OBJECT
public:
    static constexpr int MaxZoom = 16;
    // The pixel grid shows from this zoom on.
    static constexpr int GridMinZoom = 4;

    explicit TImage(QWidget* parent = nullptr);
    const kiv::Image& Picture() const { return picture_; }
    // Changes to the held picture show at the next Repaint().
    kiv::Image& Picture() { return picture_; }
    void SetPicture(const kiv::Image& picture);
    void SetPicture(kiv::Image&& picture);
    // Paints now, synchronously. Also after a change made through Picture().
    void Repaint();
    // After a change made through Picture(): shows it at the next paint, and a scroll box
    // holding the control fits its ranges to the picture's new size.
    void PictureChanged();
    // The part of the control, enlarged, that shows the picture: the picture clipped to the
    // control's size at 1x. A scroll box scrolls over this and nothing more.
    QSize ContentSize() const;

    int Zoom() const { return zoom_; }
    // Clamped to 1..MaxZoom. `anchor`, in this control's coordinates, is the point whose
    // pixel stays in place; by default the pointer when it is over the view, else the view's
    // centre.
    void SetZoom(int zoom);
    void SetZoom(int zoom, QPoint anchor);
    // Scrolls the picture's top-left corner into view, at any zoom.
    void ShowTopLeft();

    // The picture pixel under a point of this control (it may lie outside the picture).
    QPoint PixelAt(QPointF point) const;
    // Repaints the part of the control that shows these picture pixels.
    void UpdatePixels(const QRect& pixels);

    // A faint line along every pixel's top and left edge, on screen only, from GridMinZoom on.
    bool Grid() const { return grid_; }
    void SetGrid(bool grid);

    // Faint pictures under the picture, on screen only: where the picture shows `key`, a
    // pixel of an underlay in another colour shows a third of the way from `key` to it (the
    // later underlays over the earlier ones). None by default.
    void SetUnderlays(std::vector<kiv::Image> underlays, kiv::TColor key);
    bool HasUnderlays() const { return !underlays_.empty(); }

    // The tooltip: the zoom factor, then this ("4x, " and the hint). While the pointer is over
    // the picture, what PixelHint says of the pixel under it comes between the two.
    void SetHint(const QString& hint);
    std::function<QString(QPoint pixel)> PixelHint;
    // The tooltip for the pointer at this point of the control.
    QString ToolTipAt(QPoint point) const;

signals:
    void MouseDown(Qt::MouseButton button, QPoint pixel);
    void MouseMove(Qt::MouseButtons buttons, QPoint pixel);
    void MouseUp(Qt::MouseButton button, QPoint pixel);
    // A receiver that acts on the double click accepts the event; otherwise it is taken as
    // another press.
    void DblClick(QMouseEvent* event, QPoint pixel);
    // A receiver that acts on the key accepts the event; any other key goes on to the parent.
    void KeyDown(QKeyEvent* event);
    // The zoom factor changed, by the keys, the wheel or SetZoom.
    void ZoomChanged(int zoom);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // A size given while zoomed is the new size at 1x.
    void resizeEvent(QResizeEvent* event) override;

private:
    TScrollBox* ScrollBox() const;
    // The part of the control that shows: the scroll box's view, or the control itself.
    QRect VisibleRect() const;
    // The zoom keys keep the middle of what shows of the picture in place.
    QPoint ViewCentre() const;
    QSize NaturalSize() const { return zoom_ == 1 ? size() : naturalSize_; }
    void UpdateToolTip();

    kiv::Image picture_;
    int zoom_ = 1;
    QSize naturalSize_;  // the control's size at 1x
    QPoint offset_;      // of the enlarged picture, when no scroll box holds the control
    int wheelAngle_ = 0; // wheel turns not yet worth a whole step
    bool zooming_ = false;
    bool grid_ = false;
    std::vector<kiv::Image> underlays_;
    kiv::TColor underlayKey_ = 0;
    QString hint_;
};

// Scrolls over a larger child control. A picture control is scrolled over only as far as it
// shows its picture, so a picture that fits the box shows no scroll bar.
class TScrollBox : public QScrollArea {
    Q_OBJECT
public:
    explicit TScrollBox(QWidget* parent = nullptr);
    void FitRanges();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};

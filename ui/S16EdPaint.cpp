// The editor's painting on the picture: strokes, picking a colour, undo and redo, the grid,
// the onion skin and what the label and tooltip say of the picture.
#include "S16Ed.h"

#include "base/FileStream.h"
#include "sprite/IconPictures.h"

#include <QKeyEvent>
#include <algorithm>
#include <any>
#include <utility>

using namespace S16Ed;

namespace {

// Ctrl+Z or Ctrl+Y on the picture and, with it, the page's tiles and the origin.
void UndoOrRedo(TImage& image, bool undo) {
    std::any note = PictureNote{std::move(PageTiles), Origin};
    const bool done =
        undo ? History.Undo(image.Picture(), &note) : History.Redo(image.Picture(), &note);
    if (auto* kept = std::any_cast<PictureNote>(&note)) {
        PageTiles = std::move(kept->Tiles);
        Origin = std::move(kept->Origin);
    } else {
        PageTiles.clear();
    }
    if (done)
        image.PictureChanged();
}

kiv::PixelPoint ToPixelPoint(QPoint pixel) {
    return {pixel.x(), pixel.y()};
}

} // namespace

void TEditForm::Image1MouseDown(QObject*, Qt::MouseButton Button, QPoint Pixel) {
    const kiv::Image& picture = Image1->Picture();
    ClickPainted = false;
    if (Button == Qt::LeftButton) {
        History.BeginStroke(Image1->Picture(), ToPixelPoint(Pixel), PaintColor);
        Image1->UpdatePixels(QRect(Pixel, QSize(1, 1)));
    } else if (Button == Qt::RightButton && !History.Stroking() && Pixel.x() >= 0 &&
               Pixel.y() >= 0 && Pixel.x() < picture.Width() && Pixel.y() < picture.Height()) {
        PaintColor = picture.Pixel(Pixel.x(), Pixel.y());
        ShowPictureState();
    }
}

void TEditForm::Image1MouseMove(QObject*, Qt::MouseButtons, QPoint Pixel) {
    if (!History.Stroking())
        return;
    const kiv::PixelPoint from = History.StrokeEnd();
    History.StrokeTo(Image1->Picture(), ToPixelPoint(Pixel));
    Image1->UpdatePixels(QRect(QPoint(std::min(from.X, Pixel.x()), std::min(from.Y, Pixel.y())),
                               QPoint(std::max(from.X, Pixel.x()), std::max(from.Y, Pixel.y()))));
}

void TEditForm::Image1MouseUp(QObject* Sender, Qt::MouseButton Button, QPoint Pixel) {
    if (Button != Qt::LeftButton)
        return;
    Image1MouseMove(Sender, Qt::NoButton, Pixel);
    ClickPainted = History.EndStroke();
    ShowPictureState();
}

void TEditForm::Image1KeyDown(QObject*, QKeyEvent* Key) {
    const auto mods = Key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier |
                                          Qt::AltModifier | Qt::MetaModifier);
    const bool ctrl = mods == Qt::ControlModifier;
    const bool ctrlShift = mods == (Qt::ControlModifier | Qt::ShiftModifier);
    ClickPainted = false;
    if (Key->key() == Qt::Key_Z && (ctrl || ctrlShift)) {
        UndoPicture(ctrl);
    } else if (Key->key() == Qt::Key_Y && ctrl) {
        UndoPicture(false);
    } else if (Key->key() == Qt::Key_G && (mods & ~Qt::ShiftModifier) == 0 &&
               Image1->Zoom() >= TImage::GridMinZoom) {
        Image1->SetGrid(!Image1->Grid());
    } else {
        return;
    }
    Key->accept();
}

void TEditForm::UndoPicture(bool undo) {
    ClickPainted = false;
    UndoOrRedo(*Image1, undo);
    if (Onion != OnionSkin::Off)
        ShowOnionSkin();
    ShowPictureState();
}

void TEditForm::ToggleOnionSkin(bool next) {
    const OnionSkin asked = next ? OnionSkin::PreviousAndNext : OnionSkin::Previous;
    Onion = Onion == asked ? OnionSkin::Off : asked;
    ShowOnionSkin();
    ShowPictureState();
}

void TEditForm::ShowOnionSkin() {
    std::vector<kiv::Image> layers;
    // Around the icon the picture is, or the icon number a loaded picture is meant for.
    int number = 0;
    if (Origin.What == PictureOrigin::Kind::Icon && SameSprite(Origin.Sprite, LoadedSprite()))
        number = Origin.First;
    else if (Origin.What == PictureOrigin::Kind::File)
        number = IconUpDown->Position();
    auto file =
        Onion == OnionSkin::Off || number == 0 ? nullptr : kiv::InFile::Open(IconTable.Path);
    if (file) {
        const int wanted[] = {number - 1, Onion == OnionSkin::PreviousAndNext ? number + 1 : 0};
        for (const int n : wanted)
            if (const auto i = IconIndex(n)) {
                try {
                    layers.push_back(kiv::ShowPicture(*file, IconTable, *i));
                } catch (const std::exception&) {
                    // an icon that cannot be drawn is left out of the faint image
                }
            }
    }
    Image1->SetUnderlays(std::move(layers), kiv::BackColor);
}

void TEditForm::ShowPictureState() {
    QString status = OriginStatus(Origin, Image1->Picture());
    if (!WatchFault.isEmpty())
        status += (status.isEmpty() ? QString() : QStringLiteral("; ")) + WatchFault;
    PictureLbl->setText(status); // wrapped in the label's laid-out box
    QString hint =
        QStringLiteral("paint ") + QString::fromStdString(kiv::PixelColorText(PaintColor));
    if (!status.isEmpty())
        hint += QStringLiteral("; ") + status;
    if (Onion == OnionSkin::Previous)
        hint += QStringLiteral("; onion skin: previous icon");
    else if (Onion == OnionSkin::PreviousAndNext)
        hint += QStringLiteral("; onion skin: previous and next icons");
    Image1->SetHint(hint);
}

#pragma once
// The sprite editor window.

#include "vcl/Controls.h"
#include "vcl/Dialogs.h"
#include "vcl/Forms.h"

#include "PictureOrigin.h"

#include "image/PaintHistory.h"
#include "sprite/IconPictures.h"
#include "sprite/S16Format.h"

#include <optional>
#include <string>
#include <vector>

class QTimer;

class TEditForm : public TForm {
    Q_OBJECT
public:
    explicit TEditForm(QWidget* owner = nullptr);
    ~TEditForm() override;

    TScrollBox* ImageSB = nullptr;
    TImage* Image1 = nullptr; // its picture is the editor's working picture
    TOpenDialog* OpenDialog1 = nullptr;
    TButton* Loads16Btn = nullptr;
    TEdit* IconNumEdit = nullptr;
    TUpDown* IconUpDown = nullptr;
    TLabel* IconLbl = nullptr;
    TLabel* NameLbl = nullptr;
    TLabel* IconsLbl = nullptr;
    TButton* CollageBtn = nullptr;
    TButton* ShowBtn = nullptr;
    TButton* BmpSaveBtn = nullptr;
    TSaveDialog* SaveDialog1 = nullptr;
    TButton* BmpLoadBtn = nullptr;
    TButton* ReplaceBtn = nullptr;
    TLabel* PictureLbl = nullptr; // where the picture came from, and whether it is painted
    TButton* ExternalEditBtn = nullptr;
    TButton* PlayBtn = nullptr;
    QTimer* WatchTimer = nullptr; // looks at the picture file an outside editor works on

    void Loads16BtnClick(QObject* Sender);
    void FormResize(QObject* Sender);
    void CollageBtnClick(QObject* Sender);
    void ShowBtnClick(QObject* Sender);
    void BmpSaveBtnClick(QObject* Sender);
    void BmpLoadBtnClick(QObject* Sender);
    void ReplaceBtnClick(QObject* Sender);
    // External Edit (Ctrl+E): the picture as a PNG work file, opened in the user's image
    // editor; each complete save of it becomes the picture, one step of the history.
    void ExternalEditBtnClick(QObject* Sender);
    void WatchTimerTimer(QObject* Sender);
    // Play (Ctrl+P): the Animation window on the loaded file, from the icon number on.
    void PlayBtnClick(QObject* Sender);
    // What the Animation window plays in place of icon `index` of `spritePath`: the picture,
    // while it is that icon and holds paint or an outside edit not yet written.
    const kiv::Image* LiveIcon(const QString& spritePath, int index) const;
    // Painting on the picture: the left button paints, the right one picks the paint colour;
    // Ctrl+Z, Ctrl+Y (Ctrl+Shift+Z) and G anywhere in the window but the icon number box.
    void Image1MouseDown(QObject* Sender, Qt::MouseButton Button, QPoint Pixel);
    void Image1MouseMove(QObject* Sender, Qt::MouseButtons Buttons, QPoint Pixel);
    void Image1MouseUp(QObject* Sender, Qt::MouseButton Button, QPoint Pixel);
    void Image1KeyDown(QObject* Sender, QKeyEvent* Key);
    // A double click on a collage page shows the icon clicked, as the up-down and Show would.
    void Image1DblClick(QObject* Sender, QMouseEvent* Event, QPoint Pixel);

    // Load S16 after its dialog: reads the icon table of `path`; false when it did not open.
    bool LoadS16File(const QString& path);
    // Undo (or redo) a step of the picture's history.
    void UndoPicture(bool undo);
    // O: a faint image of the previous icon under the picture, on screen only; with
    // `next`, of the next one too. Pressed again, off.
    void ToggleOnionSkin(bool next);

    // Before the program ends: true unless the picture holds paint not yet written and the
    // user, asked with the editor shown, keeps the program running.
    bool MayQuit();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildLayout(); // S16EdLayout.cpp
    // The picture's origin and painting in PictureLbl and the picture's tooltip.
    void ShowPictureState();
    // The faint icons under the picture, as the onion skin asks.
    void ShowOnionSkin();
    // The picture is replaced by other means: a later save of the work file is not loaded.
    void EndExternalEdit();
};

extern TEditForm* EditForm;

// The editor's module state.
namespace S16Ed {
extern kiv::TIconTable IconTable; // the one table: the loaded sprite file's headers
// The picture's strokes and replacements (Show, Collage, Bmp Load), to undo and redo.
extern kiv::PaintHistory History;
extern kiv::TColor PaintColor; // black until a colour is picked
// The tiles of the collage page the picture holds; empty once anything else replaced it.
extern std::vector<kiv::CollageTile> PageTiles;
extern PictureOrigin Origin; // where the picture came from
enum class OnionSkin { Off, Previous, PreviousAndNext };
extern OnionSkin Onion;
extern QString WatchFault; // the outside editor's work file stayed unreadable
// The last click on the picture painted: the first click of a double click that shows an
// icon takes its paint back.
extern bool ClickPainted;
// What a replaced picture takes with it into the history: its page's tiles and its origin.
struct PictureNote {
    std::vector<kiv::CollageTile> Tiles;
    PictureOrigin Origin;
};
// The 0-based index of the icon `number` selects in the loaded file, or nothing when the
// file has no such icon.
std::optional<int> IconIndex(int number);
QString FromLocalPath(const std::string& path);
// The loaded sprite file as the picture's origin names it, whatever the folder becomes.
QString LoadedSprite();
void ResetModuleState();
} // namespace S16Ed

#include "S16Ed.h"

#include "AnimFm.h"

#include "vcl/Application.h"

#include "base/ExternalEditor.h"
#include "base/FileStream.h"
#include "image/Png.h"
#include "sprite/IconEncoder.h"
#include "sprite/IconPictures.h"
#include "sprite/PictureFiles.h"
#include "sprite/PictureWatch.h"
#include "sprite/SpriteDiff.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

TEditForm* EditForm = nullptr;

namespace S16Ed {
kiv::TIconTable IconTable;
kiv::PaintHistory History;
kiv::TColor PaintColor = kiv::clBlack;
std::vector<kiv::CollageTile> PageTiles;
PictureOrigin Origin;
OnionSkin Onion = OnionSkin::Off;
// The outside image editor's work file, while its saves come back into the picture.
std::optional<kiv::PictureWatch> Watch;
kiv::EditorProcess OutsideEditor;
QString WatchFault;
bool ClickPainted = false;

void ResetModuleState() {
    IconTable = kiv::TIconTable();
    History.Clear();
    PaintColor = kiv::clBlack;
    PageTiles.clear();
    Origin = PictureOrigin();
    Origin.Written = PictureDigest(kiv::Image());
    Onion = OnionSkin::Off;
    Watch.reset();
    OutsideEditor = kiv::EditorProcess();
    WatchFault.clear();
    ClickPainted = false;
}

std::optional<int> IconIndex(int number) {
    const int i = number - 1;
    if (i < 0 || i >= IconTable.Count)
        return std::nullopt;
    return i;
}

QString FromLocalPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QString LoadedSprite() {
    return QFileInfo(FromLocalPath(IconTable.Path)).absoluteFilePath();
}

} // namespace S16Ed

using namespace S16Ed;

namespace {

// Show and Collage lay their pictures out on a display of this size.
constexpr int DisplayWidth = kiv::CollagePageWidth;
constexpr int DisplayHeight = kiv::CollagePageHeight;

const QString S16Filter = QStringLiteral("S16 files (*.s16)|*.s16|S17 files (*.s17)|*.s17|"
                                         "All files (*.*)|*.*");
const QString BmpSaveFilter = QStringLiteral("Windows bitmap (*.bmp)|*.bmp|All files (*.*)|*.*");
const QString BmpLoadFilter = QStringLiteral("Windows bitmap (*.bmp)|*.bmp|All filese (*.*)|*.*");

std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// A long path shows as ".." and its last 14 characters, so the file name stays readable.
QString DisplayName(const QString& path) {
    return path.size() > 13 ? QStringLiteral("..") + path.right(14) : path;
}

bool FileLoaded() {
    return !IconTable.Path.empty();
}

// The icon number as the edit box shows it. A typed number outside the up-down's range is
// taken as typed, so that it is refused instead of being clamped to another icon; a text
// that is no number is replaced by the position that stays in force.
int IconNumber(TUpDown& upDown) {
    if (const auto typed = upDown.TypedNumber())
        return *typed;
    upDown.SetPosition(upDown.Position());
    return upDown.Position();
}

void ReportNoSuchIcon(int number) {
    if (IconTable.Count <= 0)
        ShowMessageBox(QStringLiteral("The loaded sprite file holds no icons."));
    else
        ShowMessageBox(QStringLiteral("Icon %1 is not in the loaded sprite file.").arg(number));
}

// The icon the up-down names in the loaded file; a number it does not hold is reported.
std::optional<int> SelectedIndex(TUpDown& upDown) {
    const int number = IconNumber(upDown);
    const auto i = IconIndex(number);
    if (!i)
        ReportNoSuchIcon(number);
    return i;
}

// What Show and Collage start from: the loaded file, opened, and the index of the icon the
// up-down names. Either failure is reported and gives no file, so that the picture (which may
// hold an edit loaded from a bitmap) is touched only once both are known.
std::unique_ptr<kiv::InFile> OpenSelectedIcon(TUpDown& upDown, int& index) {
    auto file = kiv::InFile::Open(IconTable.Path);
    if (!file) {
        ShowMessageBox(QString::fromLatin1(kiv::SpriteFileNotFound));
        return nullptr;
    }
    const auto i = SelectedIndex(upDown);
    if (!i)
        return nullptr;
    index = *i;
    return file;
}

// Show, Collage and Bmp Load replace the picture as one step of its history, taken when the
// handler ends, so that a page drawn only in part (a tile that fails) can still be undone.
// A collage page's tiles and the picture's origin come back with it.
class PictureStep {
public:
    explicit PictureStep(TImage& image)
        : image_(image), before_(image.Picture()), noteBefore_{PageTiles, Origin} {}
    PictureStep(const PictureStep&) = delete;
    PictureStep& operator=(const PictureStep&) = delete;
    ~PictureStep() {
        try {
            History.PictureReplaced(std::move(before_), image_.Picture(), std::move(noteBefore_));
        } catch (...) {
            History.Clear(); // no memory for the step: the history cannot follow the picture
        }
    }

private:
    TImage& image_;
    kiv::Image before_;
    PictureNote noteBefore_;
};

// The file name a picture of a sprite's icons gets, as export names them: "hero_0003.bmp",
// a page's "hero_0001-0031.bmp"; empty for a picture of no icons.
std::string IconsFileName(const std::string& extension) {
    const std::string stem = QFileInfo(Origin.Sprite).completeBaseName().toStdString();
    if (Origin.What == PictureOrigin::Kind::Icon)
        return kiv::IconFileName(stem, Origin.First, extension);
    if (Origin.What == PictureOrigin::Kind::Collage && Origin.First > 0)
        return kiv::IconFileName(stem, Origin.First, "") + "-" +
               kiv::IconFileName("", Origin.Last, extension).substr(1);
    return std::string();
}

// The name Bmp Save offers: the icons' name in their sprite's folder, or the picture file
// the picture came from.
QString SuggestedPictureName(const QString& lastChosen) {
    const bool png = lastChosen.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive);
    const std::string name = IconsFileName(png ? ".png" : ".bmp");
    if (!name.empty())
        return QFileInfo(Origin.Sprite).dir().filePath(QString::fromStdString(name));
    if (Origin.What == PictureOrigin::Kind::File)
        return Origin.File;
    return lastChosen;
}

// The work file's name, after what the picture is, so the image editor's title says it.
std::string WorkPictureName() {
    std::string name = IconsFileName(".png");
    if (name.empty() && Origin.What == PictureOrigin::Kind::File)
        name = QFileInfo(Origin.File).completeBaseName().toStdString() + ".png";
    return name.empty() ? std::string("picture.png") : name;
}

// Replace writes the twin from the loaded file. A twin it would not rewrite in place may hold
// edits of its own (the loaded ".s16" was loaded again after an earlier Replace): unless the
// user says so, those are kept and nothing is written. A Replace that cannot go ahead asks
// nothing; it says why itself.
bool MayReplaceTwin(const kiv::Image& picture, int index) {
    const std::string twin = kiv::TwinName(IconTable.Path);
    if (!kiv::IsRegularFile(twin) || kiv::SameFile(twin, IconTable.Path) ||
        !kiv::ReencodeFileFault(IconTable).empty() || !kiv::ReencodePictureFault(picture).empty())
        return true;
    kiv::SpriteRebuildReport report;
    {
        HourGlassCursor hourGlass;
        report = kiv::SpriteRebuildCheck(IconTable.Path, twin, {index + 1});
    }
    if (!report.SourceReadable || report.NothingDropped())
        return true;
    QStringList icons;
    for (const std::int32_t icon : report.DroppedIcons)
        icons << QString::number(icon);
    QStringList changes;
    if (!icons.isEmpty())
        changes << (icons.size() == 1 ? QStringLiteral("icon ") : QStringLiteral("icons ")) +
                       ListedNames(icons);
    else if (report.CountDiffers)
        changes << QStringLiteral("its icon count");
    if (report.OutsideDiffers)
        changes << QStringLiteral("bytes outside its icons");
    const QString name = QFileInfo(QFile::decodeName(QByteArray::fromStdString(twin))).fileName();
    return AskToDropChanges(name, report.Readable ? ListedNames(changes) : QString(),
                            QStringLiteral("sprite file"));
}

} // namespace

void TEditForm::Loads16BtnClick(QObject*) {
    OpenDialog1->Filter = S16Filter;
    OpenDialog1->DefaultExt.clear();
    if (!OpenDialog1->Execute())
        return;
    LoadS16File(OpenDialog1->FileName);
}

bool TEditForm::LoadS16File(const QString& path) {
    // Read into a table of its own: a file that does not open leaves the label, the icon
    // number and the table all naming the file loaded before. The picture stays, and so
    // does what it is: a Replace into this file asks first when it came from elsewhere.
    kiv::TIconTable table;
    switch (kiv::ReadIconTable(LocalPath(path), table)) {
    case kiv::ReadTableResult::CannotOpen:
        ShowMessageBox(QStringLiteral("Could not open ") + path);
        return false;
    case kiv::ReadTableResult::CountExceeded:
        ShowMessageBox(QString::fromLatin1(kiv::MaxIconsExceeded));
        break;
    case kiv::ReadTableResult::Loaded:
        break;
    }
    IconTable = std::move(table);
    PageTiles.clear(); // a page's icon numbers belong to the file loaded before

    NameLbl->SetCaption(DisplayName(path));
    IconsLbl->SetCaption(QStringLiteral("Icons ") + QString::number(IconTable.Count));
    // A file without icons still leaves the up-down a valid range; Show, Collage and
    // Replace then refuse icon 1 with a message.
    IconUpDown->SetMax(std::max(IconTable.Count, 1));
    IconUpDown->SetPosition(1);
    EndExternalEdit();
    if (Onion != OnionSkin::Off)
        ShowOnionSkin();
    return true;
}

void TEditForm::ShowBtnClick(QObject*) {
    HourGlassCursor hourGlass;
    int i = 0;
    const auto file = OpenSelectedIcon(*IconUpDown, i);
    if (!file)
        return;
    PictureStep step(*Image1);
    Image1->SetPicture(kiv::ShowPicture(*file, IconTable, i));
    EndExternalEdit();
    PageTiles.clear();
    Origin = PictureOrigin::OfIcon(LoadedSprite(), i + 1);
    Origin.Written = PictureDigest(Image1->Picture());
    Image1->resize(DisplayWidth, DisplayHeight);
    Image1->ShowTopLeft();
    ShowOnionSkin();
    Image1->Repaint();
    ShowPictureState();
}

void TEditForm::CollageBtnClick(QObject*) {
    HourGlassCursor hourGlass;
    int first = 0;
    auto file = OpenSelectedIcon(*IconUpDown, first);
    if (!file)
        return;
    PictureStep step(*Image1);
    EndExternalEdit();
    Image1->SetPicture(kiv::BlankCollagePage());
    PageTiles.clear();
    std::vector<kiv::CollageTile> tiles = kiv::CollageTiles(IconTable, first);
    Origin = PictureOrigin::OfCollage(LoadedSprite(), tiles.empty() ? 0 : tiles.front().Index + 1,
                                      tiles.empty() ? 0 : tiles.back().Index + 1);
    Image1->resize(DisplayWidth, DisplayHeight);
    // Each tile shows as soon as it is drawn. A tile that fails leaves the page as far as
    // it was drawn, which is what the page is then.
    const auto drawn = [this] {
        Origin.Written = PictureDigest(Image1->Picture());
        ShowPictureState();
    };
    int next = 0;
    try {
        next = kiv::DrawCollage(*file, IconTable, first, Image1->Picture(),
                                [this] { Image1->Repaint(); });
    } catch (...) {
        drawn();
        throw;
    }
    drawn();
    file.reset();
    PageTiles = std::move(tiles);
    IconUpDown->SetPosition(next);
    ShowOnionSkin();
}

void TEditForm::Image1DblClick(QObject*, QMouseEvent* Event, QPoint Pixel) {
    if (Event->button() != Qt::LeftButton)
        return;
    const auto icon = kiv::CollageIconAt(PageTiles, Pixel.x(), Pixel.y());
    if (!icon)
        return;
    Event->accept();
    if (std::exchange(ClickPainted, false))
        UndoPicture(true);
    IconUpDown->SetPosition(*icon + 1);
    ShowBtnClick(ShowBtn);
}

void TEditForm::BmpSaveBtnClick(QObject*) {
    SaveDialog1->Filter = BmpSaveFilter;
    SaveDialog1->DefaultExt = QStringLiteral("bmp");
    SaveDialog1->FileName = SuggestedPictureName(SaveDialog1->FileName);
    if (!SaveDialog1->Execute())
        return;
    // A name ending in ".png" (chosen through "All files") is written as PNG, every pixel of
    // the background's 16-bit value transparent.
    const QString chosen = SaveDialog1->FileName;
    const std::string path = LocalPath(chosen);
    // The dialog offers the name chosen last, so one Enter would overwrite an edited
    // picture: a file that holds anything else is replaced only when the user says so.
    if (QFileInfo(chosen).isFile()) {
        bool same = false;
        {
            HourGlassCursor hourGlass;
            same = kiv::PictureFileHolds(Image1->Picture(), path, kiv::BackKey);
        }
        if (same || !AskYesNoBox(
                        QStringLiteral("%1 exists. Replace it?").arg(QFileInfo(chosen).fileName())))
            return;
    }
    {
        HourGlassCursor hourGlass;
        kiv::SavePictureFile(Image1->Picture(), path, kiv::BackKey);
    }
    Origin.Written = PictureDigest(Image1->Picture());
    ShowPictureState();
}

void TEditForm::BmpLoadBtnClick(QObject*) {
    OpenDialog1->Filter = BmpLoadFilter;
    OpenDialog1->DefaultExt.clear();
    if (!OpenDialog1->Execute())
        return;
    // Read as PNG when the file begins with the PNG signature.
    kiv::Image loaded = kiv::LoadPictureFile(LocalPath(OpenDialog1->FileName), kiv::BackColor);
    PictureStep step(*Image1);
    EndExternalEdit();
    Image1->Picture() = std::move(loaded);
    PageTiles.clear();
    Origin = PictureOrigin::OfFile(QFileInfo(OpenDialog1->FileName).absoluteFilePath());
    Origin.Written = PictureDigest(Image1->Picture());
    ShowOnionSkin();
    Image1->Repaint();
    ShowPictureState();
}

void TEditForm::ReplaceBtnClick(QObject*) {
    // The re-encoder is only ever given an icon of the loaded file.
    if (!FileLoaded()) {
        ShowMessageBox(QString::fromLatin1(kiv::CannotOpenSpriteFile));
        return;
    }
    const auto i = SelectedIndex(*IconUpDown);
    if (!i)
        return;
    const int number = *i + 1;
    // A picture from another icon, sprite or a whole page goes in only when the user says so.
    if (const auto question = ReplaceQuestion(Origin, FromLocalPath(IconTable.Path), number))
        if (!AskYesNoBox(*question))
            return;
    if (!MayReplaceTwin(Image1->Picture(), *i))
        return;
    kiv::ReencodeResult result;
    {
        // A second writer of the same file is waited for, up to two seconds.
        HourGlassCursor hourGlass;
        result = kiv::ReencodeIcon(Image1->Picture(), *i, IconTable);
    }
    if (!result.Ok) {
        ShowMessageBox(QString::fromStdString(kiv::WithFault(result.Message, result.Fault)));
        return;
    }
    // The editor goes on from the file just written, so a further Replace rewrites it in
    // place and keeps this edit; Show and Collage see the file as it now is.
    if (kiv::ReadIconTable(result.OutputPath, IconTable) != kiv::ReadTableResult::CannotOpen)
        NameLbl->SetCaption(DisplayName(FromLocalPath(result.OutputPath)));
    // The picture is now that icon of the twin, as written.
    Origin = PictureOrigin::OfIcon(LoadedSprite(), number);
    Origin.Written = PictureDigest(Image1->Picture());
    ShowPictureState();
}

void TEditForm::ExternalEditBtnClick(QObject*) {
    const std::string path = kiv::WriteWorkPicture(Image1->Picture(), WorkPictureName());
    kiv::EditorStart start = kiv::StartImageEditor(path);
    if (!start.Ok()) {
        QFile::remove(FromLocalPath(path));
        ShowMessageBox(QString::fromStdString(start.Message));
        return;
    }
    // At most one file is watched: this one from now on.
    Watch.emplace(path);
    OutsideEditor = std::move(start.Process);
    WatchFault.clear();
    WatchTimer->start();
}

void TEditForm::WatchTimerTimer(QObject*) {
    if (!Watch)
        return WatchTimer->stop();
    // The desktop's opener answers a moment after it started: a failure is said once.
    if (OutsideEditor.ViaDesktop() && OutsideEditor.Ended()) {
        const std::string fault = OutsideEditor.OpenFault();
        OutsideEditor = kiv::EditorProcess();
        if (!fault.empty())
            ShowMessageBox(QString::fromStdString(fault));
    }
    kiv::PictureWatch::Event event = Watch->Poll();
    if (event.What == kiv::PictureWatch::Event::Kind::Unreadable) {
        WatchFault = QString::fromStdString(event.Message);
        ShowPictureState();
        return;
    }
    if (event.What != kiv::PictureWatch::Event::Kind::Saved)
        return;
    WatchFault.clear();
    // A save is one step of the history; the picture is still what it came from, now edited
    // outside. Nothing is written into a sprite file: Replace stays the user's act.
    if (event.Picture.Picture != Image1->Picture()) {
        ClickPainted = false;
        PictureStep step(*Image1);
        if (event.Picture.Picture.Width() != Image1->Picture().Width() ||
            event.Picture.Picture.Height() != Image1->Picture().Height())
            PageTiles.clear();
        Image1->Picture() = std::move(event.Picture.Picture);
        Origin.EditedOutside = true;
    }
    Image1->PictureChanged();
    ShowPictureState();
}

void TEditForm::PlayBtnClick(QObject*) {
    if (!FileLoaded()) {
        ShowMessageBox(QString::fromLatin1(kiv::SpriteFileNotFound));
        return;
    }
    const auto i = SelectedIndex(*IconUpDown);
    if (!i)
        return;
    TAnimForm* form = AnimFormInstance();
    form->OpenSprite(FromLocalPath(IconTable.Path), *i);
    if (form->isMinimized())
        form->setWindowState(form->windowState() & ~Qt::WindowMinimized);
    form->show();
    form->raise();
    form->activateWindow();
}

const kiv::Image* TEditForm::LiveIcon(const QString& spritePath, int index) const {
    if (Origin.What != PictureOrigin::Kind::Icon || Origin.First != index + 1 ||
        !SameSprite(Origin.Sprite, spritePath) || !HoldsUnwrittenPaint(Origin, Image1->Picture()))
        return nullptr;
    return &Image1->Picture();
}

void TEditForm::EndExternalEdit() {
    Watch.reset();
    OutsideEditor = kiv::EditorProcess();
    WatchFault.clear();
    if (WatchTimer)
        WatchTimer->stop();
}

bool TEditForm::MayQuit() {
    if (!HoldsUnwrittenPaint(Origin, Image1->Picture()))
        return true;
    show();
    raise();
    activateWindow();
    const QString text = Origin.Text();
    return AskYesNoBox(QStringLiteral("The S16 Editor's picture holds painting not yet written%1. "
                                      "Quit anyway?")
                           .arg(text.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(text)));
}

void TEditForm::FormResize(QObject*) {
    // The scroll box follows the window's outer size.
    ImageSB->resize(OuterWidth() - 135, OuterHeight() - 31);
}

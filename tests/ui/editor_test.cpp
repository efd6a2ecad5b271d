// The sprite editor window driven through its buttons, with scripted file dialogs.

#include "AnimFm.h"
#include "S16Ed.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"
#include "vcl/Application.h"

#include "base/ExternalEditor.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "image/Bitmap.h"
#include "image/Png.h"
#include "sprite/IconDecoder.h"
#include "sprite/IconEncoder.h"
#include "sprite/PictureFiles.h"

#include <QGuiApplication>
#include <QScrollBar>
#include <QtTest>
#include <filesystem>
#include <map>
#include <optional>

using kivtest::Bytes;
using kivtest::SpriteBuilder;

namespace {

// Records the override cursor in force when each box is shown.
class CursorDialogs : public ScriptedDialogs {
public:
    void ShowMessage(const QString& text, const QString& caption) override {
        cursors.push_back(CurrentCursor());
        ScriptedDialogs::ShowMessage(text, caption);
    }
    static std::optional<Qt::CursorShape> CurrentCursor() {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        return cursor ? std::optional(cursor->shape()) : std::nullopt;
    }
    std::vector<std::optional<Qt::CursorShape>> cursors;
};

// One editor window on a fresh module state, inside its own scratch folder.
struct Editor {
    kivtest::ScratchDir dir;
    CursorDialogs dialogs;
    TEditForm form;

    Editor() { S16Ed::ResetModuleState(); }
    ~Editor() { S16Ed::ResetModuleState(); }

    void Load(const QString& path) {
        dialogs.Choose(path);
        form.Loads16Btn->click();
    }
    void LoadFile(const std::string& name, const Bytes& bytes) {
        kivtest::WriteFile(name, bytes);
        Load(QString::fromStdString(name));
    }
    void SetIcon(int number) { form.IconUpDown->SetPosition(number); }
    const kiv::Image& Picture() const { return form.Image1->Picture(); }
};

// A sprite file of `count` icons, each a frame of `frameOf(k)` with one pixel at (0, 0)
// whose colour names the icon.
std::uint16_t IconMark(int k) {
    return static_cast<std::uint16_t>(0x1000 + k);
}

template <typename FrameOf> Bytes MarkedSprite(int count, FrameOf frameOf) {
    SpriteBuilder sprite;
    for (int k = 0; k < count; ++k) {
        const auto [fw, fh] = frameOf(k);
        sprite.Raw(1, 1, 0, 0, fw, fh, {IconMark(k)});
    }
    return sprite.Build();
}

// The icon whose mark sits at (x, y) of the picture, or -1.
int MarkAt(const kiv::Image& picture, int x, int y) {
    const kiv::TColor c = picture.Pixel(x, y);
    for (int k = 0; k < 1000; ++k)
        if (c == kiv::UnpackPixel(IconMark(k) & 0xFF, IconMark(k) >> 8))
            return k;
    return -1;
}

bool AllAqua(const kiv::Image& picture) {
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x)
            if (picture.Pixel(x, y) != kiv::clAqua)
                return false;
    return true;
}

// The frame the decoder gives for icon `index` of the sprite file at `path`.
kiv::Image DecodeFromFile(const std::string& path, int index) {
    kiv::TIconTable table;
    kiv::ReadIconTable(path, table);
    auto file = kiv::InFile::Open(path);
    const kiv::TIconHeader& header = table.Headers[index];
    return kiv::DecodeIcon(*file, kiv::IconDataOffset(table.Count, header), header);
}

} // namespace

class EditorTest : public QObject {
    Q_OBJECT
private slots:
    void NameLabelShowsLongPathsByTheirLast14Characters();
    void LoadingCountsIconsAndWarnsAbove1000();
    void FailedLoadKeepsThePreviousFileAndItsName();
    void ShowMakesThePictureTheWholeFrame();
    void CollageFillsPagesAndMovesTheIconNumberOn();
    void CollageRowDeepensBeforeAnIconWraps();
    void CollagePlacesIconsTooLargeForThePageAsTheRowsAllow();
    void ShowAndCollageThatCannotOpenTheFileKeepThePicture();
    void IconNumbersOutsideTheLoadedFileAreRefused();
    void BmpLoadTakesTheFilesPictureOrShowsTheError();
    void ReplaceOfALoadedS17RewritesItInPlace();
    void ReplaceAsksBeforeDroppingEditsTheTwinHolds();
    void ZoomPaintsWholePixelsAndKeepsThePictureAtNaturalSize();
    void ACollageIconDoubleClickedIsShownFromItsTopLeftCorner();
    void PaintedStrokesUndoAndRedoAndReachTheTwinAsTheReencoderWritesThem();
    void ReplaceAsksBeforeWritingAPictureFromElsewhere();
    void UnwrittenPaintIsNamedAndAskedAboutBeforeQuitting();
    void KeysWorkAnywhereInTheWindowAndZoomStaysOnThePicture();
    void AnOutsideEditorsSavesComeBackIntoThePicture();
};

void EditorTest::NameLabelShowsLongPathsByTheirLast14Characters() {
    Editor ed;
    ed.dialogs.Cancel();
    ed.form.Loads16Btn->click();
    QCOMPARE(ed.form.NameLbl->Caption(), QStringLiteral("None"));
    QVERIFY(ed.dialogs.boxes.empty());
    QCOMPARE(int(ed.dialogs.requests.size()), 1);
    QCOMPARE(ed.dialogs.requests[0].Filter,
             QStringLiteral("S16 files (*.s16)|*.s16|S17 files (*.s17)|*.s17|All files (*.*)|*.*"));
    QCOMPARE(ed.dialogs.requests[0].DefaultExt, QString());

    const struct {
        QString path;
        QString shown;
    } cases[] = {
        {QStringLiteral("abcdefghi.s16"), QStringLiteral("abcdefghi.s16")},
        {QStringLiteral("abcdefghij.s16"), QStringLiteral("..abcdefghij.s16")},
        {QStringLiteral("C:\\data\\sprites\\walk.s16"), QStringLiteral("..rites\\walk.s16")},
    };
    for (const auto& c : cases) {
        ed.SetIcon(5);
        ed.LoadFile(c.path.toStdString(), MarkedSprite(7, [](int) { return std::pair{1, 1}; }));
        QCOMPARE(ed.form.NameLbl->Caption(), c.shown);
        QCOMPARE(ed.form.IconUpDown->Position(), 1);
    }
    QVERIFY(ed.dialogs.boxes.empty());
}

void EditorTest::LoadingCountsIconsAndWarnsAbove1000() {
    Editor ed;
    const auto frame = [](int) { return std::pair{2, 2}; };
    ed.LoadFile("thousand.s16", MarkedSprite(1000, frame));
    QVERIFY(ed.dialogs.boxes.empty());
    QCOMPARE(ed.form.IconsLbl->Caption(), QStringLiteral("Icons 1000"));
    QCOMPARE(ed.form.IconUpDown->Max(), 1000);

    ed.LoadFile("toomany.s16", MarkedSprite(1001, frame));
    QCOMPARE(ed.dialogs.Texts(),
             QStringList{QStringLiteral("Maximum icons exceeded! Do NOT edit")});
    QCOMPARE(ed.form.IconsLbl->Caption(), QStringLiteral("Icons 1000"));
    QCOMPARE(ed.form.IconUpDown->Max(), 1000);
    QCOMPARE(S16Ed::IconTable.Count, 1000);

    // The kept icons still decode from their own data, which follows all 1001 headers.
    ed.SetIcon(1000);
    ed.form.ShowBtn->click();
    QCOMPARE(MarkAt(ed.Picture(), 0, 0), 999);
    QCOMPARE(ed.Picture().Pixel(1, 1), kiv::BackColor);

    // The re-encoder refuses such a file rather than write a shifted copy.
    ed.dialogs.Clear();
    ed.form.ReplaceBtn->click();
    QCOMPARE(int(ed.dialogs.boxes.size()), 1);
    QVERIFY(!kivtest::FileExists("toomany.s17"));
}

void EditorTest::FailedLoadKeepsThePreviousFileAndItsName() {
    Editor ed;
    const auto frame = [](int) { return std::pair{3, 3}; };
    ed.LoadFile("first.s16", MarkedSprite(3, frame));
    ed.SetIcon(3);
    ed.Load(QStringLiteral("missing.s16"));
    QCOMPARE(ed.dialogs.Texts(), QStringList{QStringLiteral("Could not open missing.s16")});
    QCOMPARE(ed.dialogs.boxes[0].Caption, QStringLiteral("Error"));
    QCOMPARE(ed.form.NameLbl->Caption(), QStringLiteral("first.s16"));
    QCOMPARE(ed.form.IconUpDown->Position(), 3);
    QCOMPARE(ed.form.IconsLbl->Caption(), QStringLiteral("Icons 3"));
    QCOMPARE(ed.form.IconUpDown->Max(), 3);

    ed.SetIcon(2);
    ed.form.ShowBtn->click();
    QCOMPARE(ed.Picture().Width(), 3);
    QCOMPARE(MarkAt(ed.Picture(), 0, 0), 1);
}

void EditorTest::ShowMakesThePictureTheWholeFrame() {
    Editor ed;
    SpriteBuilder sprite;
    sprite.Raw(1, 1, 0, 0, 4, 3, {0x1234});
    sprite.Runs(3, 2, 650, 590, 700, 600, {{6, 0xF800}});
    ed.LoadFile("big.s16", sprite.Build());
    ed.SetIcon(2);
    ed.form.ShowBtn->click();
    QVERIFY(ed.dialogs.boxes.empty());
    QCOMPARE(ed.Picture(), DecodeFromFile("big.s16", 1));
    QCOMPARE(ed.Picture().Width(), 700);
    QCOMPARE(ed.Picture().Height(), 600);
    QCOMPARE(ed.form.Image1->size(), QSize(642, 482));
    QVERIFY(!CursorDialogs::CurrentCursor());

    ed.dialogs.Choose(QStringLiteral("frame.bmp"));
    ed.form.BmpSaveBtn->click();
    const FileDialogRequest& save = ed.dialogs.requests.back();
    QVERIFY(save.Save);
    QCOMPARE(save.Filter, QStringLiteral("Windows bitmap (*.bmp)|*.bmp|All files (*.*)|*.*"));
    QCOMPARE(save.DefaultExt, QStringLiteral("bmp"));
    QCOMPARE(kiv::LoadBitmapFile("frame.bmp"), ed.Picture());

    // Saved again: the same picture without a word; another one only on Yes.
    const Bytes saved = kivtest::ReadFile("frame.bmp");
    for (int k = 0; k < 3; ++k) {
        if (k == 1)
            ed.form.Image1->Picture().SetPixel(0, 0, 0x00010203);
        ed.dialogs.Clear();
        if (k == 2)
            ed.dialogs.Answer(true);
        ed.dialogs.Choose(QStringLiteral("frame.bmp"));
        ed.form.BmpSaveBtn->click();
        QCOMPARE(ed.dialogs.Texts().size(), k == 0 ? 0 : 1);
        QCOMPARE(kivtest::ReadFile("frame.bmp") == saved, k < 2);
    }
    QCOMPARE(ed.dialogs.Texts(), QStringList{QStringLiteral("frame.bmp exists. Replace it?")});
}

void EditorTest::CollageFillsPagesAndMovesTheIconNumberOn() {
    Editor ed;
    ed.LoadFile("hundred.s16", MarkedSprite(100, [](int) { return std::pair{100, 50}; }));
    ed.form.CollageBtn->click();
    QVERIFY(ed.dialogs.boxes.empty());
    QCOMPARE(ed.Picture().Width(), 642);
    QCOMPARE(ed.Picture().Height(), 482);
    int k = 0;
    for (int row = 0; row < 9; ++row)
        for (int col = 0; col < 6; ++col, ++k) {
            const int x = 1 + 101 * col;
            const int y = 1 + 51 * row;
            QCOMPARE(MarkAt(ed.Picture(), x, y), k);
            QCOMPARE(ed.Picture().Pixel(x + 99, y + 49), kiv::BackColor);
            QCOMPARE(ed.Picture().Pixel(x + 100, y), kiv::clAqua); // the gap
            QCOMPARE(ed.Picture().Pixel(x, y + 50), kiv::clAqua);
        }
    QCOMPARE(ed.Picture().Pixel(0, 0), kiv::clAqua);
    QCOMPARE(ed.Picture().Pixel(607, 1), kiv::clAqua); // no seventh tile in a row
    QCOMPARE(ed.Picture().Pixel(1, 460), kiv::clAqua); // no tenth row
    QCOMPARE(ed.form.IconUpDown->Position(), 55);
    QVERIFY(!CursorDialogs::CurrentCursor());

    // The second page starts at icon 55; the 46 left all fit, so the number stops at 100.
    ed.form.CollageBtn->click();
    QCOMPARE(MarkAt(ed.Picture(), 1, 1), 54);
    QCOMPARE(MarkAt(ed.Picture(), 1 + 101 * 3, 1 + 51 * 7), 99);
    QCOMPARE(ed.Picture().Pixel(1 + 101 * 4, 1 + 51 * 7), kiv::clAqua);
    QCOMPARE(ed.form.IconUpDown->Position(), 100);

    // Then the last icon alone.
    ed.form.CollageBtn->click();
    QCOMPARE(MarkAt(ed.Picture(), 1, 1), 99);
    QCOMPARE(ed.Picture().Pixel(102, 1), kiv::clAqua);
    QCOMPARE(ed.form.IconUpDown->Position(), 100);
}

void EditorTest::CollageRowDeepensBeforeAnIconWraps() {
    Editor ed;
    ed.LoadFile("tall.s16", MarkedSprite(12, [](int k) {
                    return k == 6 ? std::pair{100, 200} : std::pair{100, 50};
                }));
    ed.form.CollageBtn->click();
    QCOMPARE(MarkAt(ed.Picture(), 506, 1), 5);
    QCOMPARE(ed.Picture().Pixel(1, 52), kiv::clAqua); // the first row still ends at y = 50
    QCOMPARE(MarkAt(ed.Picture(), 1, 202), 6);
    QCOMPARE(MarkAt(ed.Picture(), 102, 202), 7);
    QCOMPARE(ed.form.IconUpDown->Position(), 12);
}

void EditorTest::CollagePlacesIconsTooLargeForThePageAsTheRowsAllow() {
    Editor ed;
    // Too tall for any page, and too wide and tall for a row below an empty one.
    for (const auto& [fw, fh] : {std::pair{10, 482}, std::pair{641, 241}}) {
        ed.LoadFile("huge.s16", MarkedSprite(2, [&](int) { return std::pair{fw, fh}; }));
        ed.SetIcon(1);
        ed.form.CollageBtn->click();
        QVERIFY(AllAqua(ed.Picture()));
        QCOMPARE(ed.form.IconUpDown->Position(), 1);
    }

    // A frame wider than the page starts a row of its own, cut off at the right edge.
    ed.LoadFile("wide.s16", MarkedSprite(2, [](int k) {
                    return k == 0 ? std::pair{700, 50} : std::pair{10, 10};
                }));
    ed.form.CollageBtn->click();
    QCOMPARE(ed.Picture().Pixel(1, 1), kiv::clAqua);
    QCOMPARE(MarkAt(ed.Picture(), 1, 52), 0);
    QCOMPARE(ed.Picture().Pixel(641, 101), kiv::BackColor);
    QCOMPARE(MarkAt(ed.Picture(), 1, 103), 1);
    QCOMPARE(ed.form.IconUpDown->Position(), 2);
    QVERIFY(ed.dialogs.boxes.empty());

    // A frame no picture could hold is refused before anything is allocated for it.
    ed.LoadFile("absurd.s16", MarkedSprite(1, [](int) {
                    return std::pair{2000000000, 2000000000};
                }));
    ed.form.ShowBtn->click();
    QCOMPARE(int(ed.dialogs.boxes.size()), 1);
    QVERIFY(ed.dialogs.boxes[0].Error);
    QVERIFY(!CursorDialogs::CurrentCursor());
}

void EditorTest::ShowAndCollageThatCannotOpenTheFileKeepThePicture() {
    Editor ed;
    const QString notFound = QStringLiteral("S16 file not found.");
    kiv::Image edited(30, 20);
    edited.Fill(0x00123456);
    kiv::SaveBitmapFile(edited, "edited.bmp");
    ed.dialogs.Choose(QStringLiteral("edited.bmp"));
    ed.form.BmpLoadBtn->click();
    const QSize layoutSize = ed.form.Image1->size();

    // Before any load, and after the loaded file has gone.
    ed.SetIcon(100);
    for (int pass = 0; pass < 2; ++pass) {
        ed.dialogs.Clear();
        ed.form.ShowBtn->click();
        ed.form.CollageBtn->click();
        QCOMPARE(ed.dialogs.Texts(), (QStringList{notFound, notFound}));
        QCOMPARE(ed.Picture(), edited);
        QCOMPARE(ed.form.Image1->size(), layoutSize);
        QCOMPARE(ed.form.IconUpDown->Position(), pass == 0 ? 100 : 1);
        ed.LoadFile("gone.s16", MarkedSprite(2, [](int) { return std::pair{5, 5}; }));
        std::filesystem::remove("gone.s16");
    }

    // The hourglass was up while each box was shown and is gone afterwards.
    QCOMPARE(ed.dialogs.cursors.size(), std::size_t(4));
    for (const auto& cursor : ed.dialogs.cursors)
        QCOMPARE(cursor, std::optional(Qt::WaitCursor));
    QVERIFY(!CursorDialogs::CurrentCursor());

    // Nothing to re-encode into: no file is read or written.
    Editor fresh;
    fresh.form.ReplaceBtn->click();
    QCOMPARE(fresh.dialogs.Texts(), QStringList{QStringLiteral("Couldn't open S16 file.")});
    QVERIFY(kivtest::ListFolder(fresh.dir.Path().string()).empty());
}

void EditorTest::IconNumbersOutsideTheLoadedFileAreRefused() {
    Editor ed;
    ed.LoadFile("some.s16", MarkedSprite(2, [](int) { return std::pair{5, 5}; }));
    // A text that is no number shows the icon number in force.
    ed.SetIcon(2);
    ed.form.IconNumEdit->SetText(QStringLiteral("x"));
    ed.form.ShowBtn->click();
    QCOMPARE(ed.form.IconNumEdit->Text(), QStringLiteral("2"));
    QCOMPARE(MarkAt(ed.Picture(), 0, 0), 1);
    const kiv::Image shown = ed.Picture();

    // A typed number is acted on as typed, never clamped to another icon.
    for (const QString& typed : {QStringLiteral("99"), QStringLiteral("0")}) {
        ed.dialogs.Clear();
        ed.form.IconNumEdit->SetText(typed);
        ed.form.ShowBtn->click();
        ed.form.CollageBtn->click();
        ed.form.ReplaceBtn->click();
        const QString refused =
            QStringLiteral("Icon %1 is not in the loaded sprite file.").arg(typed);
        QCOMPARE(ed.dialogs.Texts(), (QStringList{refused, refused, refused}));
        QCOMPARE(ed.form.IconNumEdit->Text(), typed);
        QCOMPARE(ed.Picture(), shown);
        QVERIFY(!kivtest::FileExists("some.s17"));
    }

    for (const std::int32_t count : {0, -7}) {
        ed.LoadFile("empty.s16", SpriteBuilder().StoredCount(count).Build());
        QCOMPARE(ed.form.IconsLbl->Caption(), QStringLiteral("Icons %1").arg(count));
        QCOMPARE(ed.form.IconUpDown->Max(), 1);
        ed.dialogs.Clear();
        ed.form.ShowBtn->click();
        ed.form.CollageBtn->click();
        ed.form.ReplaceBtn->click();
        const QString none = QStringLiteral("The loaded sprite file holds no icons.");
        QCOMPARE(ed.dialogs.Texts(), (QStringList{none, none, none}));
        QCOMPARE(ed.Picture(), shown);
        QCOMPARE(ed.form.IconUpDown->Position(), 1);
        QVERIFY(!kivtest::FileExists("empty.s17"));
    }
}

void EditorTest::BmpLoadTakesTheFilesPictureOrShowsTheError() {
    Editor ed;
    const QSize layoutSize = ed.form.Image1->size();
    kiv::Image drawn(30, 20);
    drawn.Fill(0x00123456);
    drawn.SetPixel(29, 19, 0x00010203);
    kiv::SaveBitmapFile(drawn, "drawn.bmp");
    kivtest::WriteFile("empty.bmp", {});
    kivtest::WriteFile("short.bmp", {'B', 'M', 0, 0, 0});

    ed.Load(QStringLiteral("gone.s16"));
    ed.dialogs.Clear();
    ed.dialogs.Choose(QStringLiteral("drawn.bmp"));
    ed.form.BmpLoadBtn->click();
    QVERIFY(ed.dialogs.boxes.empty());
    QCOMPARE(ed.Picture(), drawn);
    QCOMPARE(ed.form.Image1->size(), layoutSize);
    const FileDialogRequest& open = ed.dialogs.requests.back();
    QVERIFY(!open.Save);
    QCOMPARE(open.Filter, QStringLiteral("Windows bitmap (*.bmp)|*.bmp|All filese (*.*)|*.*"));
    QCOMPARE(open.DefaultExt, QString());
    QCOMPARE(open.FileName, QStringLiteral("gone.s16")); // shared with Load S16

    ed.dialogs.Choose(QStringLiteral("short.bmp"));
    ed.form.BmpLoadBtn->click();
    QCOMPARE(int(ed.dialogs.boxes.size()), 1);
    QVERIFY(ed.dialogs.boxes[0].Error);
    QCOMPARE(ed.dialogs.boxes[0].Text, QStringLiteral("Stream read error."));
    QCOMPARE(ed.dialogs.boxes[0].Caption, TApplication::Title());
    QCOMPARE(ed.Picture(), drawn);

    ed.dialogs.Choose(QStringLiteral("nowhere.bmp"));
    ed.form.BmpLoadBtn->click();
    QCOMPARE(ed.dialogs.boxes.back().Text,
             QStringLiteral("Cannot open file nowhere.bmp (No such file or directory)."));
    QCOMPARE(ed.Picture(), drawn);

    ed.dialogs.Clear();
    ed.dialogs.Choose(QStringLiteral("empty.bmp"));
    ed.form.BmpLoadBtn->click();
    QVERIFY(ed.dialogs.boxes.empty());
    QVERIFY(ed.Picture().Empty());
    QCOMPARE(ed.dialogs.requests[0].FileName, QStringLiteral("nowhere.bmp"));

    // A PNG chosen through "All files" loads as PNG, its key colour as the background.
    kiv::Image keyed = drawn;
    keyed.SetPixel(0, 0, kiv::BackColor);
    kiv::SavePngFile(keyed, "keyed.png", kiv::BackColor);
    ed.dialogs.Choose(QStringLiteral("keyed.png"));
    ed.form.BmpLoadBtn->click();
    QCOMPARE(ed.Picture(), keyed);

    // After a Show the display keeps its 642 x 482 whatever the bitmap's size.
    ed.LoadFile("one.s16", MarkedSprite(1, [](int) { return std::pair{2, 2}; }));
    ed.form.ShowBtn->click();
    ed.dialogs.Choose(QStringLiteral("drawn.bmp"));
    ed.form.BmpLoadBtn->click();
    QCOMPARE(ed.Picture(), drawn);
    QCOMPARE(ed.form.Image1->size(), QSize(642, 482));
}

void EditorTest::ReplaceOfALoadedS17RewritesItInPlace() {
    Editor ed;
    SpriteBuilder sprite;
    sprite.Raw(2, 1, 1, 1, 4, 3, {0xF800, 0x07E0}, 0x42);
    sprite.Runs(3, 1, 0, 0, 3, 1, {{3, 0x001F}});
    ed.LoadFile("hero.s17", sprite.Build());

    ed.form.ShowBtn->click();
    // A colour that survives packing, and no background left inside the new box.
    ed.form.Image1->Picture().SetPixel(0, 1, 0x00F8FCF8);
    const kiv::Image edited = ed.Picture();
    ed.form.ReplaceBtn->click();
    QVERIFY(ed.dialogs.boxes.empty());
    QCOMPARE(kivtest::ListFolder(ed.dir.Path().string()), std::vector<std::string>{"hero.s17"});

    // The same file now holds the edited icon and the untouched second one.
    QCOMPARE(DecodeFromFile("hero.s17", 0), edited);
    ed.SetIcon(2);
    ed.form.ShowBtn->click();
    QCOMPARE(ed.Picture().Pixel(2, 0), kiv::UnpackPixel(0x1F, 0x00));

    // The table follows the rewritten file, so a second Replace works on it too.
    ed.form.Image1->Picture().SetPixel(1, 0, 0x00000000);
    const kiv::Image second = ed.Picture();
    ed.form.ReplaceBtn->click();
    QVERIFY(ed.dialogs.boxes.empty());
    QCOMPARE(DecodeFromFile("hero.s17", 0), edited);
    QCOMPARE(DecodeFromFile("hero.s17", 1), second);

    // An output that cannot be made: the window's text first, then the output and why.
    std::string lock;
    {
        const kiv::OutputLock held("hero.s17");
        for (const std::string& name : kivtest::ListFolder(ed.dir.Path().string()))
            if (name.ends_with(".lock"))
                lock = name;
    }
    std::filesystem::create_directory(ed.dir.Path() / lock);
    const Bytes kept = kivtest::ReadFile("hero.s17");
    ed.form.ReplaceBtn->click();
    QCOMPARE(ed.dialogs.Texts().size(), 1);
    const QString text = ed.dialogs.Texts().front();
    QVERIFY2(text.startsWith(QStringLiteral("Could not open output file! (")) &&
                 text.endsWith(QString::fromStdString(
                     lock + " where its lock file goes is a folder, not a lock file this tool "
                            "made; remove it and write again)")),
             qPrintable(text));
    QCOMPARE(kivtest::ReadFile("hero.s17"), kept);
}

void EditorTest::ReplaceAsksBeforeDroppingEditsTheTwinHolds() {
    Editor ed;
    ed.LoadFile("hero.s16", MarkedSprite(3, [](int) { return std::pair{4, 4}; }));
    const auto edit = [&](int icon) {
        ed.SetIcon(icon);
        ed.form.ShowBtn->click();
        ed.form.Image1->Picture().SetPixel(3, 3, 0);
        ed.form.ReplaceBtn->click();
    };
    edit(1); // writes hero.s17, which the editor goes on from
    const Bytes twin = kivtest::ReadFile("hero.s17");

    // Loaded again, the ".s16" would drop the twin's edit of icon 1: No writes nothing, Yes
    // writes. The twin then differs in icon 3 alone, which Replace rewrites without asking.
    const QString dropping =
        QStringLiteral("hero.s17 also holds changes to icon 1 that this Replace would drop. "
                       "Replace hero.s17 anyway?");
    for (int k = 0; k < 3; ++k) {
        ed.Load(QStringLiteral("hero.s16"));
        ed.dialogs.Clear();
        ed.dialogs.Answer(k == 1);
        edit(3);
        QCOMPARE(ed.dialogs.Texts(), k < 2 ? QStringList{dropping} : QStringList());
        QCOMPARE(kivtest::ReadFile("hero.s17") == twin, k == 0);
    }
}

void EditorTest::ZoomPaintsWholePixelsAndKeepsThePictureAtNaturalSize() {
    Editor ed;
    SpriteBuilder sprite;
    sprite.Raw(3, 2, 1, 1, 300, 300, {0xF800, 0x07E0, 0x001F, 0xFFFF, 0x0000, 0xFEFB});
    ed.LoadFile("zoom.s16", sprite.Build());
    ed.form.ShowBtn->click();
    ed.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&ed.form));
    TImage* image = ed.form.Image1;
    const kiv::Image picture = ed.Picture();
    QCOMPARE(image->Zoom(), 1);

    // Three turns of the wheel with Ctrl held, the pointer over the picture's pixel (5, 3):
    // the same pixel stays under it.
    const QWidget* view = ed.form.ImageSB->viewport();
    const QPoint pointer(5, 3);
    for (int turn = 0; turn < 3; ++turn) {
        const QPoint at = image->mapFrom(view, pointer);
        QWheelEvent wheel(at, image->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(image, &wheel);
        const QPoint under = image->mapFrom(view, pointer);
        QCOMPARE(QPoint(under.x() / image->Zoom(), under.y() / image->Zoom()), QPoint(5, 3));
    }
    QCOMPARE(image->Zoom(), 4);
    QCOMPARE(image->size(), QSize(642, 482) * 4);
    const QImage shot = image->grab(QRect(0, 0, 24, 20)).toImage();
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 24; ++x) {
            const kiv::TColor c = picture.Pixel(x / 4, y / 4);
            QCOMPARE(shot.pixel(x, y), qRgb(kiv::RedOf(c), kiv::GreenOf(c), kiv::BlueOf(c)));
        }

    // The pictures' pixels stay as they were: Bmp Save writes them at 1:1, as PNG by the name,
    // where the box's pixel of the background's 16-bit value is transparent too.
    QCOMPARE(ed.Picture(), picture);
    ed.dialogs.Choose(QStringLiteral("zoomed.png"));
    ed.form.BmpSaveBtn->click();
    QVERIFY(ed.dialogs.boxes.empty());
    const Bytes png = kivtest::ReadFile("zoomed.png");
    QVERIFY(kiv::IsPngData(png.data(), png.size()));
    kiv::Image keyed = picture;
    keyed.SetPixel(3, 2, kiv::BackColor);
    QCOMPARE(kiv::LoadPictureFile("zoomed.png", kiv::BackColor), keyed);

    // Ctrl + "-" steps back, Ctrl + "0" returns to 1x.
    ed.form.activateWindow();
    QTest::keyClick(&ed.form, Qt::Key_Minus, Qt::ControlModifier);
    QCOMPARE(image->Zoom(), 3);
    QTest::keyClick(&ed.form, Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(image->Zoom(), 1);
    QCOMPARE(image->size(), QSize(642, 482));
}

void EditorTest::ACollageIconDoubleClickedIsShownFromItsTopLeftCorner() {
    Editor ed;
    ed.LoadFile("hundred.s16", MarkedSprite(100, [](int) { return std::pair{100, 50}; }));
    ed.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&ed.form));
    TImage* image = ed.form.Image1;
    QScrollBar* down = ed.form.ImageSB->verticalScrollBar();

    // At 4x, scrolled down: a double click on a gap shows nothing; one on the second row's
    // second tile shows icon 8, from the picture's top-left corner.
    ed.form.CollageBtn->click();
    image->SetZoom(4, QPoint(600, 400));
    QVERIFY(image->toolTip().startsWith(QStringLiteral("4x, ")));
    QTest::mouseDClick(image, Qt::LeftButton, {}, QPoint(4 * 101, 4 * 51));
    QCOMPARE(ed.form.IconUpDown->Position(), 55);
    const kiv::Image page = ed.Picture();
    QTest::mouseDClick(image, Qt::LeftButton, {}, QPoint(4 * 102, 4 * 52));
    QCOMPARE(ed.form.IconUpDown->Position(), 8);
    QCOMPARE(MarkAt(ed.Picture(), 0, 0), 7);
    QCOMPARE(down->value(), 0);

    // Undo brings back the page, whose icons a double click still shows; the click before a
    // double click leaves no paint on it.
    QTest::keyClick(image, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(ed.Picture(), page);
    QTest::mouseClick(image, Qt::LeftButton, {}, QPoint(4 * 102, 4 * 52));
    QVERIFY(ed.Picture() != page);
    QTest::mouseDClick(image, Qt::LeftButton, {}, QPoint(4 * 102, 4 * 52));
    QCOMPARE(MarkAt(ed.Picture(), 0, 0), 7);
    QTest::keyClick(image, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(ed.Picture(), page);
    QTest::keyClick(image, Qt::Key_Y, Qt::ControlModifier);

    // Ctrl + "0" returns to 1x at the corner, wherever the view was.
    image->SetZoom(2, QPoint(300, 200));
    down->setValue(300);
    ed.form.activateWindow();
    QTest::keyClick(&ed.form, Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(image->Zoom(), 1);
    QCOMPARE(down->value(), 0);
}

void EditorTest::PaintedStrokesUndoAndRedoAndReachTheTwinAsTheReencoderWritesThem() {
    Editor ed;
    SpriteBuilder sprite;
    sprite.Runs(4, 3, 2, 2, 12, 10, {{12, 0xF800}}).Raw(1, 1, 0, 0, 2, 2, {0x07E0});
    const Bytes original = sprite.Build();
    ed.LoadFile("hero.s16", original);
    ed.form.ShowBtn->click();
    const kiv::Image shown = ed.Picture();
    TImage* image = ed.form.Image1;
    // A press on the first pixel, one move to each further pixel however far, a release.
    const auto drag = [&](Qt::MouseButton button, std::vector<QPoint> pixels) {
        for (std::size_t k = 0; k < pixels.size(); ++k) {
            const QPointF at = (QPointF(pixels[k]) + QPointF(0.5, 0.5)) * image->Zoom();
            const bool last = k + 1 == pixels.size();
            QMouseEvent event(k == 0 ? QEvent::MouseButtonPress : QEvent::MouseMove, at,
                              image->mapToGlobal(at), k == 0 ? button : Qt::NoButton, button,
                              Qt::NoModifier);
            QApplication::sendEvent(image, &event);
            if (last) {
                QMouseEvent up(QEvent::MouseButtonRelease, at, image->mapToGlobal(at), button,
                               Qt::NoButton, Qt::NoModifier);
                QApplication::sendEvent(image, &up);
            }
        }
    };
    QCOMPARE(image->toolTip(),
             QStringLiteral("1x, paint R 0 G 0 B 0, 5-6-5 0000; icon 1 of hero.s16"));
    drag(Qt::LeftButton, {{0, 0}, {5, 5}});
    kiv::Image expected = shown;
    for (int k = 0; k <= 5; ++k)
        expected.SetPixel(k, k, kiv::clBlack);
    const kiv::Image firstStroke = expected;
    drag(Qt::RightButton, {{4, 2}});
    image->SetZoom(8, QPoint(0, 0));
    QCOMPARE(image->toolTip(),
             QStringLiteral("8x, paint R 248 G 0 B 0, 5-6-5 F800; icon 1 of hero.s16, painted"));
    QCOMPARE(image->ToolTipAt(QPoint(8 * 4 + 3, 8 * 2 + 3)),
             QStringLiteral("8x, x 4 y 2, R 248 G 0 B 0, 5-6-5 F800\n") +
                 QStringLiteral("paint R 248 G 0 B 0, 5-6-5 F800; icon 1 of hero.s16, painted"));
    drag(Qt::LeftButton, {{1, 9}, {9, 9}, {9, 1}});
    for (int k = 1; k <= 9; ++k) {
        expected.SetPixel(k, 9, kiv::RGB(248, 0, 0));
        expected.SetPixel(9, k, kiv::RGB(248, 0, 0));
    }
    QCOMPARE(ed.Picture(), expected);

    // Whole strokes go and come back; a Show is a step of the same history.
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {
        {Qt::Key_Z, Qt::ControlModifier}, {Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier},
        {Qt::Key_Z, Qt::ControlModifier}, {Qt::Key_Z, Qt::ControlModifier},
        {Qt::Key_Y, Qt::ControlModifier}, {Qt::Key_Y, Qt::ControlModifier}};
    const kiv::Image* after[] = {&firstStroke, &expected,    &firstStroke,
                                 &shown,       &firstStroke, &expected};
    for (int k = 0; k < 6; ++k) {
        QTest::keyClick(image, keys[k].first, keys[k].second);
        QCOMPARE(ed.Picture(), *after[k]);
    }
    ed.SetIcon(2);
    ed.form.ShowBtn->click();
    QCOMPARE(ed.Picture().Width(), 2);
    QTest::keyClick(image, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(ed.Picture(), expected);

    // The grid is drawn on screen only.
    QTest::keyClick(image, Qt::Key_G);
    QVERIFY(image->Grid());
    const QImage shot = image->grab(QRect(0, 0, 8, 8)).toImage();
    QVERIFY(shot.pixel(0, 4) != shot.pixel(4, 4));
    QCOMPARE(ed.Picture(), expected);

    // Replace writes what the re-encoder makes of the same picture.
    ed.SetIcon(1);
    ed.form.ReplaceBtn->click();
    QVERIFY(ed.dialogs.boxes.empty());
    kivtest::WriteFile("same.s16", original);
    kiv::TIconTable table;
    kiv::ReadIconTable("same.s16", table);
    QVERIFY(kiv::ReencodeIcon(expected, 0, table).Ok);
    QCOMPARE(kivtest::ReadFile("hero.s17"), kivtest::ReadFile("same.s17"));
}

void EditorTest::ReplaceAsksBeforeWritingAPictureFromElsewhere() {
    Editor ed;
    const Bytes hero = MarkedSprite(100, [](int) { return std::pair{100, 50}; });
    const Bytes coins = MarkedSprite(2, [](int) { return std::pair{4, 4}; });
    kivtest::WriteFile("coins.s16", coins);
    ed.LoadFile("hero.s16", hero);
    ed.SetIcon(3);
    ed.form.ShowBtn->click();
    ed.form.Image1MouseDown(ed.form.Image1, Qt::LeftButton, QPoint(1, 1));
    ed.form.Image1MouseUp(ed.form.Image1, Qt::LeftButton, QPoint(1, 1));
    QCOMPARE(ed.form.PictureLbl->text(), QStringLiteral("icon 3 of hero.s16, painted"));
    const kiv::Image painted = ed.Picture();

    // Another sprite loaded, or the icon number moved: asked first, No writes nothing.
    ed.Load(QStringLiteral("coins.s16"));
    QCOMPARE(ed.Picture(), painted);
    ed.form.ReplaceBtn->click();
    ed.SetIcon(2);
    ed.Load(QStringLiteral("hero.s16"));
    ed.form.ReplaceBtn->click();
    QCOMPARE(ed.dialogs.Texts(),
             (QStringList{QStringLiteral("The picture is icon 3 of hero.s16. Replace icon 1 of "
                                         "coins.s16 with it?"),
                          QStringLiteral("The picture is icon 3 of hero.s16. Replace icon 1 of "
                                         "hero.s16 with it?")}));
    QVERIFY(!QFileInfo::exists(QStringLiteral("coins.s17")));
    QVERIFY(!QFileInfo::exists(QStringLiteral("hero.s17")));

    // Yes writes what Replace writes; the icon it came from, in the twin too, asks nothing.
    ed.dialogs.Clear();
    ed.dialogs.Answer(true);
    ed.Load(QStringLiteral("coins.s16"));
    ed.form.ReplaceBtn->click();
    QCOMPARE(ed.dialogs.Texts().size(), 1);
    kivtest::WriteFile("same.s16", coins);
    kiv::TIconTable table;
    kiv::ReadIconTable("same.s16", table);
    QVERIFY(kiv::ReencodeIcon(painted, 0, table).Ok);
    QCOMPARE(kivtest::ReadFile("coins.s17"), kivtest::ReadFile("same.s17"));
    QCOMPARE(ed.form.PictureLbl->text(), QStringLiteral("icon 1 of coins.s17"));
    ed.dialogs.Clear();
    ed.Load(QStringLiteral("coins.s16")); // its twin holds this icon already: nothing dropped
    ed.form.ReplaceBtn->click();
    QVERIFY(ed.dialogs.boxes.empty());

    // A collage page is not one icon; a picture from a file goes where it is told.
    ed.Load(QStringLiteral("hero.s16"));
    ed.form.CollageBtn->click();
    QCOMPARE(ed.form.PictureLbl->text(),
             QStringLiteral("a collage page of icons 1 to 54 of hero.s16"));
    ed.form.ReplaceBtn->click();
    QCOMPARE(ed.dialogs.Texts(),
             QStringList{QStringLiteral("The picture is a collage page of icons 1 to 54, not one "
                                        "icon. Replace icon 55 of hero.s16 with the whole page?")});
    QVERIFY(!QFileInfo::exists(QStringLiteral("hero.s17")));
    ed.dialogs.Clear();
    ed.SetIcon(2);
    ed.form.ShowBtn->click();
    ed.dialogs.Choose(QStringLiteral("hero2.bmp"));
    ed.form.BmpSaveBtn->click();
    QCOMPARE(ed.dialogs.requests.back().FileName,
             QString::fromStdString(ed.dir.File("hero_0002.bmp")));
    ed.dialogs.Choose(QStringLiteral("hero2.bmp"));
    ed.form.BmpLoadBtn->click();
    ed.SetIcon(5);
    ed.form.ReplaceBtn->click();
    QCOMPARE(ed.dialogs.Texts(), QStringList());
    QCOMPARE(DecodeFromFile("hero.s17", 4), DecodeFromFile("hero.s16", 1));

    // Undo brings back the page with what it is (the bitmap held the shown icon: no step).
    ed.form.UndoPicture(true);
    QCOMPARE(ed.form.PictureLbl->text(),
             QStringLiteral("a collage page of icons 1 to 54 of hero.s16"));
}

void EditorTest::UnwrittenPaintIsNamedAndAskedAboutBeforeQuitting() {
    Editor ed;
    ed.LoadFile("hero.s16", MarkedSprite(3, [](int) { return std::pair{4, 4}; }));
    QVERIFY(ed.form.MayQuit()); // nothing shown
    ed.SetIcon(3);
    ed.form.ShowBtn->click();
    QVERIFY(ed.form.MayQuit()); // shown, not painted
    ed.form.Image1MouseDown(ed.form.Image1, Qt::LeftButton, QPoint(2, 2));
    ed.form.Image1MouseUp(ed.form.Image1, Qt::LeftButton, QPoint(2, 2));
    const QString question = QStringLiteral("The S16 Editor's picture holds painting not yet "
                                            "written (icon 3 of hero.s16). Quit anyway?");
    // Played from the icon number, the painted icon plays in place of icon 3.
    ed.form.PlayBtn->click();
    QCOMPARE(AnimForm->ShownIndex(), 2);
    QCOMPARE(TAnimForm::LiveFrame(AnimForm->SpritePath(), 2), &ed.form.Image1->Picture());
    QVERIFY(!TAnimForm::LiveFrame(AnimForm->SpritePath(), 1));
    AnimForm->close();

    ed.dialogs.Answer(true);
    QVERIFY(ed.form.MayQuit());
    QVERIFY(!ed.form.MayQuit());
    QVERIFY(ed.form.isVisible());
    QCOMPARE(ed.dialogs.Texts(), (QStringList{question, question}));

    // Written by Bmp Save, or undone back to the icon: nothing to ask.
    ed.dialogs.Clear();
    ed.dialogs.Choose(QStringLiteral("saved.png"));
    ed.form.BmpSaveBtn->click();
    QVERIFY(ed.form.MayQuit());
    ed.form.Image1MouseDown(ed.form.Image1, Qt::LeftButton, QPoint(0, 0));
    ed.form.Image1MouseUp(ed.form.Image1, Qt::LeftButton, QPoint(0, 0));
    QVERIFY(!ed.form.MayQuit());
    ed.form.UndoPicture(true);
    QVERIFY(ed.form.MayQuit());
}

void EditorTest::KeysWorkAnywhereInTheWindowAndZoomStaysOnThePicture() {
    Editor ed;
    ed.LoadFile("hero.s16", MarkedSprite(2, [](int k) { return std::pair{48 + 600 * k, 64}; }));
    ed.form.show();
    ed.form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&ed.form));
    ed.form.ShowBtn->click();
    const kiv::Image shown = ed.Picture();
    TImage* image = ed.form.Image1;
    QScrollBar* across = ed.form.ImageSB->horizontalScrollBar();
    QScrollBar* down = ed.form.ImageSB->verticalScrollBar();
    QCOMPARE(across->maximum(), 0); // 48 x 64 fits: no scroll range
    QCOMPARE(down->maximum(), 0);

    // Painted, then undone and redone with the focus on a button.
    ed.form.Image1MouseDown(image, Qt::LeftButton, QPoint(5, 5));
    ed.form.Image1MouseUp(image, Qt::LeftButton, QPoint(5, 5));
    const kiv::Image painted = ed.Picture();
    ed.form.ShowBtn->setFocus();
    QTest::keyClick(ed.form.ShowBtn, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(ed.Picture(), shown);
    QTest::keyClick(ed.form.ShowBtn, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(ed.Picture(), painted);
    // The icon number box keeps its own keys.
    ed.form.IconNumEdit->setFocus();
    QTest::keyClick(ed.form.IconNumEdit, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(ed.Picture(), painted);

    // Zoomed by the keys, the scroll range covers the enlarged picture and no more.
    ed.form.ShowBtn->setFocus();
    for (int k = 0; k < 3; ++k)
        QTest::keyClick(ed.form.ShowBtn, Qt::Key_Plus, Qt::ControlModifier);
    QCOMPARE(image->Zoom(), 4);
    const QSize view = ed.form.ImageSB->viewport()->size();
    QCOMPARE(across->maximum(), std::max(0, 48 * 4 - view.width()));
    QCOMPARE(down->maximum(), std::max(0, 64 * 4 - view.height()));
    QTest::keyClick(ed.form.ShowBtn, Qt::Key_G);
    QVERIFY(image->Grid());

    // A wide icon at 4x, scrolled to its end: Show brings the corner back.
    ed.SetIcon(2);
    ed.form.ShowBtn->click();
    QCOMPARE(across->maximum(), 642 * 4 - ed.form.ImageSB->viewport()->width());
    across->setValue(across->maximum());
    ed.form.ShowBtn->click();
    QCOMPARE(across->value(), 0);

    // O lays icon 1 faintly under icon 2, on screen only; O again takes it away.
    const kiv::Image second = ed.Picture();
    QTest::keyClick(ed.form.ShowBtn, Qt::Key_O);
    QVERIFY(image->HasUnderlays());
    QVERIFY(image->toolTip().endsWith(QStringLiteral("; onion skin: previous icon")));
    QCOMPARE(ed.Picture(), second);
    QTest::keyClick(ed.form.ShowBtn, Qt::Key_O);
    QVERIFY(!image->HasUnderlays());
}

void EditorTest::AnOutsideEditorsSavesComeBackIntoThePicture() {
    Editor ed;
    ed.LoadFile("hero.s16", MarkedSprite(4, [](int) { return std::pair{6, 4}; }));
    ed.SetIcon(3);
    ed.form.ShowBtn->click();
    const kiv::Image shown = ed.Picture();
    std::vector<kiv::Image> edits;
    for (int k = 0; k < 3; ++k) {
        kiv::Image edit = shown;
        edit.SetPixel(k + 1, 2, kiv::RGB(8 * k, 252, 0));
        kiv::SavePictureFile(edit, "edit" + std::to_string(k) + ".png", kiv::BackKey);
        edits.push_back(edit);
    }
    // The "image editor": saves by rename, by truncate and write, in two parts with a pause,
    // each when the test says go, then once more after the watch has ended.
    const std::string dir = ed.dir.Path().string();
    const std::string script = R"(#!/bin/sh
d=$(dirname "$0"); f="$1"; echo "$f" > "$d/path.txt"
go() { n=0; until [ -e "$d/go$1" ] || [ $n -gt 600 ]; do sleep 0.05; n=$((n+1)); done; }
go 0; cp "$d/edit0.png" "$f.new" && mv "$f.new" "$f"
go 1; cat "$d/edit1.png" > "$f"
go 2; head -c 70 "$d/edit2.png" > "$f"; sleep 0.5; tail -c +71 "$d/edit2.png" >> "$f"
go 3; cp "$d/edit0.png" "$f"; touch "$d/done"
)";
    kivtest::WriteFile("editor.sh", Bytes(script.begin(), script.end()));
    qputenv(kiv::kImageEditorVariable, QByteArray::fromStdString("sh " + dir + "/editor.sh"));
    ed.form.ExternalEditBtn->click();
    QVERIFY(ed.dialogs.boxes.empty());
    QTRY_VERIFY(QFileInfo::exists(QStringLiteral("path.txt")));
    const Bytes named = kivtest::ReadFile("path.txt");
    QVERIFY(std::string(named.begin(), named.end()).find("/hero_0003.png\n") != std::string::npos);
    for (int k = 0; k < 3; ++k) {
        kivtest::WriteFile("go" + std::to_string(k), {});
        QTRY_COMPARE_WITH_TIMEOUT(ed.Picture(), edits[k], 10000);
    }
    QCOMPARE(ed.form.PictureLbl->text(), QStringLiteral("icon 3 of hero.s16, edited outside"));
    QVERIFY(ed.dialogs.boxes.empty());
    QVERIFY(!QFileInfo::exists(QStringLiteral("hero.s17"))); // nothing written by a reload

    // Undo steps back through the reloads to the icon.
    for (int k = 1; k >= 0; --k) {
        ed.form.UndoPicture(true);
        QCOMPARE(ed.Picture(), edits[k]);
    }
    ed.form.UndoPicture(true);
    QCOMPARE(ed.Picture(), shown);

    // After Show of another icon, a save of the work file changes nothing.
    ed.SetIcon(1);
    ed.form.ShowBtn->click();
    const kiv::Image first = ed.Picture();
    kivtest::WriteFile("go3", {});
    QTRY_VERIFY(QFileInfo::exists(QStringLiteral("done")));
    QTest::qWait(300);
    QCOMPARE(ed.Picture(), first);

    // An image editor that cannot start is named, and nothing else changes.
    qputenv(kiv::kImageEditorVariable, "no-such-image-editor-here");
    ed.form.ExternalEditBtn->click();
    QCOMPARE(ed.dialogs.Texts(), QStringList{QStringLiteral(
                                     "Cannot start no-such-image-editor-here: no such program.")});
    QCOMPARE(ed.Picture(), first);
    qunsetenv(kiv::kImageEditorVariable);
}

QTEST_MAIN(EditorTest)
#include "editor_test.moc"

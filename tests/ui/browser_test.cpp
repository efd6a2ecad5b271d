// The archive browser window driven through its menu, grids and buttons, with scripted file
// dialogs, on archives built in a scratch folder.

#include "KivUt1.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"
#include "vcl/Application.h"

#include "archive/ArchiveDirectory.h"
#include "mod/ModCreate.h"
#include "sprite/S16Format.h"

#include <QGuiApplication>
#include <QtTest>
#include <filesystem>
#include <optional>

using kivtest::ArchiveBuilder;
using kivtest::Bytes;
using kivtest::SpriteBuilder;
using kivtest::SpriteIcon;

namespace {

// One browser window on a fresh module state, inside its own scratch folder.
struct Browser {
    kivtest::ScratchDir dir;
    ScriptedDialogs dialogs;
    TMainForm form;

    Browser() { KivUt1::ResetModuleState(); }
    ~Browser() { KivUt1::ResetModuleState(); }

    void Load(const QString& path) {
        dialogs.Choose(path);
        form.LoadDataFile1->trigger();
    }
    void LoadArchive(const std::string& name, const ArchiveBuilder& archive) {
        kivtest::WriteFile(name, archive.Build());
        Load(QString::fromStdString(name));
    }
    // A click on the cell: the grid raises its select-cell event, bound to the handler.
    static void Click(TStringGrid* grid, int col, int row) {
        if (grid->Col() == col && grid->Row() == row) {
            bool canSelect = true;
            grid->OnSelectCell(grid, col, row, canSelect);
        } else {
            grid->SelectCell(col, row);
        }
    }
    void SelectMember(int row, int col = 0) { Click(form.InfoGrid, col, row); }
    void Preview(int icon) { Click(form.HeaderGrid, icon, 1); }
    QString Header(int icon, int row) const { return form.HeaderGrid->Cells(icon, row); }
    const kiv::Image& Picture() const { return form.IconImage->Picture(); }
};

kiv::TColor Color(std::uint16_t pixel) {
    return kiv::UnpackPixel(static_cast<std::uint8_t>(pixel),
                            static_cast<std::uint8_t>(pixel >> 8));
}

SpriteIcon IconWithHeader(const kiv::TIconHeader& header, const Bytes& data = {}) {
    return {header, data, true};
}

// A BackColor frame with the given pixels painted.
struct Painted {
    int X, Y;
    std::uint16_t Pixel;
};
kiv::Image Frame(int width, int height, const std::vector<Painted>& pixels) {
    kiv::Image frame(width, height);
    frame.Fill(kiv::BackColor);
    for (const Painted& p : pixels)
        frame.SetPixel(p.X, p.Y, Color(p.Pixel));
    return frame;
}

QString Hex(std::uint32_t offset) {
    return QString::fromStdString(kiv::OffsetText(offset));
}

// Three members: a raw and a run-length icon, a member with no icons (or `middle`), two
// icons again.
ArchiveBuilder ThreeMembers(const Bytes& middle = SpriteBuilder().Build(),
                            std::optional<Bytes> last = std::nullopt) {
    ArchiveBuilder archive;
    archive.Member("a.s16", SpriteBuilder()
                                .Raw(2, 2, 1, 0, 4, 3, {0x1234, 0xABCD, 0x0001, 0xFFFF}, 255)
                                .Runs(2, 2, 0, 0, 2, 2, {{3, 0xF800}, {1, 0x07E0}}, 0x12345678)
                                .Build());
    archive.Member("empty.s16", middle);
    archive.Member(
        "c.s16",
        last.value_or(
            SpriteBuilder().Raw(1, 1, 0, 0, 1, 1, {1}).Raw(1, 1, 0, 0, 1, 1, {2}).Build()));
    return archive;
}

} // namespace

class BrowserTest : public QObject {
    Q_OBJECT
private slots:
    void firstActivationListsOnceAndSilently();
    void loadDataFileKeepsTheOldListingWhenCancelledOrFailing();
    void aShorterArchiveLeavesExactlyItsOwnRows();
    void memberSelectionShowsEveryHeaderWord();
    void memberWithNoIconsKeepsPixelBaseAndPicture();
    void bytesAboveTheLimitShowErrorAndEndThePixelCount();
    void damagedCountFillsOnlyTheHeadersPresent();
    void previewDecodesTheSelectedColumn();
    void previewZoomsInPlaceWithWholePixels();
    void shrinkingHeaderGridPreviewsNothing();
    void extractWritesTheSelectedMember();
    void testShowsOneBoxPerBadMember();
    void replaceWritesNewgenWithTheTwin();
    void applyModWritesNewgenOrSaysWhyNot();
};

void BrowserTest::firstActivationListsOnceAndSilently() {
    {
        Browser b;
        kivtest::WriteFile("Modgen.dat", ThreeMembers().Build());
        b.form.FormActivate(&b.form);
        QCOMPARE(b.form.GridLbl->Caption(), QString("3 Files"));
        QCOMPARE(b.form.InfoGrid->RowCount(), 4);
        QCOMPARE(KivUt1::MemberCount, 3);
        const QStringList titles{b.form.InfoGrid->Cells(0, 0), b.form.InfoGrid->Cells(1, 0),
                                 b.form.InfoGrid->Cells(2, 0)};
        QCOMPARE(titles, (QStringList{"File Name", "Start", "Finish"}));
        QCOMPARE(b.form.InfoGrid->Cells(0, 2), QString("empty.s16"));
        QCOMPARE(b.form.InfoGrid->Cells(1, 1), Hex(ThreeMembers().StartOf(0)));
        QCOMPARE(b.form.InfoGrid->Cells(2, 3), Hex(ThreeMembers().FinishOf(2)));

        kivtest::WriteFile("Modgen.dat", ArchiveBuilder().Member("x", {}).Build());
        b.form.FormActivate(&b.form);
        QCOMPARE(b.form.GridLbl->Caption(), QString("3 Files"));
    }
    {
        Browser b; // no archive: nothing is said, and the flag is spent
        b.form.FormActivate(&b.form);
        QVERIFY(b.dialogs.boxes.empty());
        QCOMPARE(b.form.GridLbl->Caption(), QString("???"));
        kivtest::WriteFile("Modgen.dat", ThreeMembers().Build());
        b.form.FormActivate(&b.form);
        QCOMPARE(KivUt1::MemberCount, 0);
    }
}

void BrowserTest::loadDataFileKeepsTheOldListingWhenCancelledOrFailing() {
    Browser b;
    b.dialogs.Cancel();
    b.form.LoadDataFile1->trigger();
    QCOMPARE(b.dialogs.requests.at(0).Filter, QString("Data (*.dat)|*.dat|All files (*.*)|*.*"));
    QCOMPARE(KivUt1::DataFileName, std::string("Modgen.dat"));
    QCOMPARE(b.form.GridLbl->Caption(), QString("???"));

    // A path longer than 127 characters is used whole.
    const std::string folder = std::string(70, 'd') + "/" + std::string(70, 'e');
    std::filesystem::create_directories(folder);
    const std::string path = b.dir.File(folder + "/other.dat");
    b.LoadArchive(path, ThreeMembers());
    QCOMPARE(KivUt1::DataFileName, path);
    QCOMPARE(b.form.GridLbl->Caption(), QString("3 Files"));
    QVERIFY(b.dialogs.boxes.empty());

    b.Load("missing.dat");
    QCOMPARE(KivUt1::DataFileName, std::string("missing.dat"));
    QCOMPARE(b.dialogs.boxes.size(), size_t(1));
    QVERIFY(!b.dialogs.boxes[0].Error);
    QCOMPARE(b.dialogs.boxes[0].Text, QString("Main data file not found."));
    QCOMPARE(b.dialogs.boxes[0].Caption, QString("Error"));
    QCOMPARE(b.form.InfoGrid->RowCount(), 4);
    QCOMPARE(KivUt1::MemberCount, 3);
}

void BrowserTest::aShorterArchiveLeavesExactlyItsOwnRows() {
    Browser b;
    b.LoadArchive("three.dat", ThreeMembers());
    b.SelectMember(3);
    b.Preview(2);

    // The current row vanishes, and nothing of the member shown before stays: the member
    // panel is as a fresh window has it.
    b.LoadArchive("one.dat", ArchiveBuilder().Member(
                                 "z.s16", SpriteBuilder().Raw(1, 1, 0, 0, 1, 1, {3}).Build()));
    QCOMPARE(b.form.InfoGrid->RowCount(), 2);
    QCOMPARE(b.form.InfoGrid->Cells(0, 1), QString("z.s16"));
    const TMainForm fresh;
    QCOMPARE(KivUt1::SelectedRow, 0);
    QCOMPARE(KivUt1::PixelBase, 0);
    QCOMPARE(b.form.FileLbl->Caption(), fresh.FileLbl->Caption());
    QCOMPARE(b.form.IconsNumberLbl->Caption(), fresh.IconsNumberLbl->Caption());
    QVERIFY(b.Picture().Empty());
    const TStringGrid& grid = *b.form.HeaderGrid;
    QCOMPARE(grid.ColCount(), fresh.HeaderGrid->ColCount());
    QCOMPARE(grid.FixedCols(), fresh.HeaderGrid->FixedCols());
    QCOMPARE(QPoint(grid.Col(), grid.Row()),
             QPoint(fresh.HeaderGrid->Col(), fresh.HeaderGrid->Row()));
    for (int col = 0; col < grid.ColCount(); ++col) {
        QCOMPARE(grid.ColWidths(col), fresh.HeaderGrid->ColWidths(col));
        for (int row = 0; row < grid.RowCount(); ++row)
            QCOMPARE(grid.Cells(col, row), QString());
    }
    QVERIFY(b.dialogs.boxes.empty());
    b.SelectMember(1);
    QCOMPARE(b.form.FileLbl->Caption(), QString("File: z.s16"));

    b.LoadArchive("none.dat", ArchiveBuilder());
    QCOMPARE(b.form.GridLbl->Caption(), QString("0 Files"));
    QCOMPARE(b.form.InfoGrid->RowCount(), 1);

    // A directory cut short: only whole entries are listed; the label gives the count word,
    // as kivtool's list does.
    Bytes cut = ThreeMembers().Build();
    cut.resize(8 + 17 * 2 + 5);
    kivtest::WriteFile("cut.dat", cut);
    b.Load("cut.dat");
    QCOMPARE(b.form.GridLbl->Caption(), QString("3 Files"));
    QCOMPARE(b.form.InfoGrid->RowCount(), 3);
    QCOMPARE(KivUt1::MemberCount, 2);
}

void BrowserTest::memberSelectionShowsEveryHeaderWord() {
    Browser b;
    const ArchiveBuilder archive = ThreeMembers();
    b.LoadArchive("a.dat", archive);
    b.SelectMember(1, 2); // any column of the row
    QCOMPARE(KivUt1::SelectedRow, 1);
    QCOMPARE(b.form.FileLbl->Caption(), QString("File: a.s16"));
    QCOMPARE(b.form.IconsNumberLbl->Caption(), QString("Icons: 2"));
    QCOMPARE(b.form.HeaderGrid->ColCount(), 3);
    QCOMPARE(b.form.HeaderGrid->ColWidths(0), b.form.Scaled(80));
    QCOMPARE(b.form.HeaderGrid->ColWidths(2), b.form.Scaled(60));
    QCOMPARE(b.Header(2, 0), QString(" 2"));
    QStringList labels, first, second;
    for (int row = 1; row <= 11; ++row) {
        labels << b.Header(0, row);
        first << b.Header(1, row);
        second << b.Header(2, row);
    }
    QCOMPARE(labels, (QStringList{"Width", "Height", "Start X", "Start Y", "FWidth", "FHeight",
                                  "Starts", "Bytes", "Compress", "???????", "Pix Count"}));
    // Raw data 34 12 CD AB 01 00 FF FF: every third byte summed, 0x34 + 0xAB + 0xFF.
    QCOMPARE(first, (QStringList{"2", "2", "1", "0", "4", "3", "0", "8", "0", "0000FF", "478"}));
    // Runs of 3 and 1: the pixel count.
    QCOMPARE(second, (QStringList{"2", "2", "0", "0", "2", "2", "8", "6", "1", "12345678", "4"}));
    QCOMPARE(KivUt1::PixelBase, std::int32_t(archive.StartOf(0) + 4 + 80));
    QVERIFY(b.dialogs.boxes.empty());
}

void BrowserTest::memberWithNoIconsKeepsPixelBaseAndPicture() {
    Browser b;
    b.LoadArchive("a.dat", ThreeMembers());
    b.SelectMember(1);
    b.Preview(1);
    const kiv::Image picture = b.Picture();
    const std::int32_t pixelBase = KivUt1::PixelBase;

    b.SelectMember(2);
    QCOMPARE(b.form.FileLbl->Caption(), QString("File: empty.s16"));
    QCOMPARE(b.form.IconsNumberLbl->Caption(), QString("Icons: 0"));
    QCOMPARE(b.form.HeaderGrid->ColCount(), 1);
    QCOMPARE(KivUt1::PixelBase, pixelBase);
    QVERIFY(b.Picture() == picture);
    QVERIFY(b.dialogs.boxes.empty());
}

void BrowserTest::bytesAboveTheLimitShowErrorAndEndThePixelCount() {
    Browser b;
    kiv::TIconHeader header;
    header.Bytes = 614400;
    SpriteBuilder sprite;
    sprite.Icon(IconWithHeader(header, {7, 0, 0, 9}));
    header.Bytes = 614401;
    sprite.Icon(IconWithHeader(header));
    header.Bytes = -7; // top bit set
    sprite.Icon(IconWithHeader(header));
    SpriteBuilder negative;
    negative.Icon(IconWithHeader(header, {200, 200, 200}));
    b.LoadArchive(
        "a.dat",
        ArchiveBuilder().Member("neg.s16", negative.Build()).Member("big.s16", sprite.Build()));

    b.SelectMember(1);
    QCOMPARE(b.Header(1, 8), QString("-7"));
    QCOMPARE(b.Header(1, 11), QString("0"));

    b.SelectMember(2);
    QCOMPARE(b.Header(1, 8), QString("614400"));
    QCOMPARE(b.Header(2, 8), QString("Error"));
    QCOMPARE(b.Header(3, 8), QString("-7"));
    QCOMPARE(b.Header(3, 10), QString("000000")); // the header pass is complete
    QCOMPARE(b.Header(1, 11), QString("16"));     // only the bytes the archive holds
    QCOMPARE(b.Header(2, 11), QString(""));       // the pass ended here
    QCOMPARE(b.dialogs.boxes.size(), size_t(1));
    QVERIFY(b.dialogs.boxes[0].Error);
    QCOMPARE(b.dialogs.boxes[0].Text, QString("'Error' is not a valid integer value."));
    QCOMPARE(b.dialogs.boxes[0].Caption, TApplication::Title());
}

void BrowserTest::damagedCountFillsOnlyTheHeadersPresent() {
    Browser b;
    const Bytes huge =
        SpriteBuilder().Raw(1, 1, 0, 0, 2, 2, {0x1234}).StoredCount(0x7FFFFFFF).Build();
    ArchiveBuilder archive;
    archive.Member("huge.s16", huge);
    b.LoadArchive("a.dat", archive);
    b.SelectMember(1);
    QCOMPARE(b.form.IconsNumberLbl->Caption(), QString("Icons: 2147483647"));
    QCOMPARE(b.form.HeaderGrid->ColCount(), 2);
    QCOMPARE(b.Header(1, 1), QString("1"));
    QCOMPARE(b.Header(1, 11), QString("0")); // its data would lie far beyond the file

    // The data area lies beyond the end of the file: the frame stays bare.
    b.Preview(1);
    QCOMPARE(b.Picture().Width(), 2);
    QCOMPARE(b.Picture().Pixel(0, 0), kiv::BackColor);

    // A member whose count word lies past the end of the archive shows no icons.
    Bytes past;
    kivtest::PutLE32(past, 1);
    kivtest::PutLE32(past, 1000);
    past.resize(8 + 13, 'f');
    kivtest::PutLE32(past, 1010);
    kivtest::WriteFile("past.dat", past);
    b.Load("past.dat");
    b.SelectMember(1);
    QCOMPARE(b.form.IconsNumberLbl->Caption(), QString("Icons: 0"));
    QCOMPARE(b.form.HeaderGrid->ColCount(), 1);
    QVERIFY(b.dialogs.boxes.empty());
}

void BrowserTest::previewDecodesTheSelectedColumn() {
    Browser b;
    kiv::TIconHeader compress2;
    compress2.Width = 1, compress2.Height = 1, compress2.FWidth = 1, compress2.FHeight = 1;
    compress2.Compress = 2;
    kiv::TIconHeader noWidth;
    noWidth.Height = 5, noWidth.FWidth = 3, noWidth.FHeight = 2, noWidth.Compress = 1;
    SpriteBuilder sprite;
    sprite.Raw(2, 2, 1, 0, 4, 3, {0x1234, 0xABCD, 0x0001, 0xFFFF})
        .Runs(3, 2, 0, 1, 3, 3, {{5, 0xF800}, {1, 0x07E0}})
        .Icon({compress2, {0x1F, 0x00}})
        .Icon({noWidth, {9, 0xFF, 0xFF}});
    b.LoadArchive("a.dat",
                  ArchiveBuilder().Member("x.s16", {1, 2, 3}).Member("i.s16", sprite.Build()));
    b.SelectMember(2);

    b.Preview(1);
    QVERIFY(b.Picture() ==
            Frame(4, 3, {{1, 0, 0x1234}, {2, 0, 0xABCD}, {1, 1, 1}, {2, 1, 0xFFFF}}));
    b.Preview(2); // runs cross the row end
    QVERIFY(b.Picture() == Frame(3, 3,
                                 {{0, 1, 0xF800},
                                  {1, 1, 0xF800},
                                  {2, 1, 0xF800},
                                  {0, 2, 0xF800},
                                  {1, 2, 0xF800},
                                  {2, 2, 0x07E0}}));
    b.Preview(3);
    QVERIFY(b.Picture() == Frame(1, 1, {{0, 0, 0x001F}}));
    b.Preview(4);
    QVERIFY(b.Picture() == Frame(3, 2, {}));

    // Selecting another cell of the same column shows the same icon again.
    b.Click(b.form.HeaderGrid, 3, 5);
    QCOMPARE(b.Picture().Pixel(0, 0), Color(0x001F));

    std::filesystem::remove("a.dat");
    b.Preview(1);
    QCOMPARE(b.dialogs.Texts(), QStringList{"Main data file not found."});
    QCOMPARE(b.Picture().Pixel(0, 0), Color(0x001F));
}

void BrowserTest::previewZoomsInPlaceWithWholePixels() {
    Browser b;
    b.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&b.form));
    b.LoadArchive("a.dat", ThreeMembers());
    b.SelectMember(1);
    b.Preview(1);
    QCOMPARE(b.Picture().Width(), 4);
    TImage* image = b.form.IconImage;
    const QSize size = image->size();
    const kiv::Image picture = b.Picture();
    auto wheel = [&](QPoint at, int turns) {
        for (int k = 0; k < turns; ++k) {
            QWheelEvent event(at, image->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                              Qt::ControlModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(image, &event);
        }
    };
    auto rgb = [](kiv::TColor c) { return qRgb(kiv::RedOf(c), kiv::GreenOf(c), kiv::BlueOf(c)); };

    // Zoomed from the corner: each picture pixel is a 4 x 4 square; the control keeps its size.
    wheel(QPoint(0, 0), 3);
    QCOMPARE(image->Zoom(), 4);
    QCOMPARE(image->size(), size);
    const QImage shot = image->grab(QRect(0, 0, 16, 12)).toImage();
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x)
            QCOMPARE(shot.pixel(x, y), rgb(picture.Pixel(x / 4, y / 4)));

    // Back to 1x, then zoomed with the pointer over pixel (2, 1): it stays under the pointer.
    b.form.activateWindow();
    QTest::keyClick(&b.form, Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(image->Zoom(), 1);
    wheel(QPoint(2, 1), 5);
    QCOMPARE(image->Zoom(), 6);
    QCOMPARE(image->grab(QRect(2, 1, 1, 1)).toImage().pixel(0, 0), rgb(picture.Pixel(2, 1)));
    QCOMPARE(b.Picture(), picture);
}

void BrowserTest::shrinkingHeaderGridPreviewsNothing() {
    Browser b;
    SpriteBuilder four;
    for (std::uint16_t k = 1; k <= 4; ++k)
        four.Raw(1, 1, 0, 0, 1, 1, {k});
    b.LoadArchive("a.dat",
                  ArchiveBuilder()
                      .Member("four.s16", four.Build())
                      .Member("c.s16", SpriteBuilder().Raw(1, 1, 0, 0, 2, 1, {9}).Build()));
    b.SelectMember(1);
    b.Preview(4);
    QCOMPARE(b.form.HeaderGrid->Col(), 4);
    QCOMPARE(b.Picture().Pixel(0, 0), Color(4));

    b.SelectMember(2); // the current cell moves to column 1 of the narrower grid
    QCOMPARE(b.form.HeaderGrid->ColCount(), 2);
    QCOMPARE(b.form.HeaderGrid->Col(), 1);
    QCOMPARE(b.Picture().Width(), 1);
    QCOMPARE(b.Picture().Pixel(0, 0), Color(4));
    QVERIFY(b.dialogs.boxes.empty());

    b.Preview(1);
    QCOMPARE(b.Picture().Width(), 2);
    QCOMPARE(b.Picture().Pixel(0, 0), Color(9));
}

void BrowserTest::extractWritesTheSelectedMember() {
    Browser b;
    const ArchiveBuilder archive = ThreeMembers();
    b.LoadArchive("a.dat", archive);

    // Nothing selected yet: the title row, whose "Start" is no number.
    b.form.ExtractBtn->click();
    QCOMPARE(b.dialogs.boxes.size(), size_t(1));
    QVERIFY(b.dialogs.boxes[0].Error);
    QCOMPARE(b.dialogs.boxes[0].Text, QString("'$Start' is not a valid integer value."));
    QCOMPARE(b.dialogs.boxes[0].Caption, TApplication::Title());
    b.dialogs.Clear();

    b.SelectMember(3);
    b.form.ExtractBtn->click();
    const Bytes whole = archive.Build();
    QCOMPARE(kivtest::ReadFile("c.s16"),
             Bytes(whole.begin() + archive.StartOf(2), whole.begin() + archive.FinishOf(2)));
    QVERIFY(b.dialogs.boxes.empty());

    std::filesystem::remove("a.dat");
    b.form.ExtractBtn->click();
    QCOMPARE(b.dialogs.Texts(), QStringList{"Main data file not found."});
    QCOMPARE(b.dialogs.boxes[0].Caption, QString("Error"));
}

void BrowserTest::testShowsOneBoxPerBadMember() {
    Browser b;
    const auto sprite = [](std::int32_t aux) {
        return SpriteBuilder().Raw(1, 1, 0, 0, 1, 1, {1}).Raw(1, 1, 0, 0, 1, 1, {2}, aux).Build();
    };
    ArchiveBuilder archive;
    archive.Member("ok.s16", sprite(0x00FFFFFF))
        .Member("bad1.s16", sprite(0x01000000))
        .Member("ok2.s16", SpriteBuilder().Build())
        .Member("bad2.s16", sprite(-1));
    b.LoadArchive("a.dat", archive);
    b.form.TestBtn->click();
    QCOMPARE(b.dialogs.Texts(),
             (QStringList{"bad1.s16 at " + Hex(archive.StartOf(1)) + " is bad!",
                          "bad2.s16 at " + Hex(archive.StartOf(3)) + " is bad!"}));
    QCOMPARE(b.dialogs.boxes[1].Caption, QString("Error"));
}

void BrowserTest::replaceWritesNewgenWithTheTwin() {
    Browser b;
    b.LoadArchive("a.dat", ThreeMembers());

    // Nothing selected: the twin of the title "File Name".
    b.form.ReplaceBtn->click();
    QCOMPARE(b.dialogs.Texts(), QStringList{"Could not open modified s16 file (File Nam7)"});
    QCOMPARE(b.dialogs.boxes[0].Caption, QString("Error"));
    QVERIFY(!kivtest::FileExists("Newgen.dat"));
    b.dialogs.Clear();

    const Bytes twin = SpriteBuilder().Raw(3, 1, 0, 0, 3, 1, {5, 6, 7}).Build();
    kivtest::WriteFile("empty.s17", twin);
    b.SelectMember(2);
    b.form.ReplaceBtn->click();
    QVERIFY(b.dialogs.boxes.empty());
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QCOMPARE(kivtest::ReadFile("Newgen.dat"), ThreeMembers(twin).Build());
    QCOMPARE(b.form.InfoGrid->Cells(0, 2), QString("empty.s16")); // still the current archive

    // Another member's Replace from the same archive would drop that change: No writes
    // nothing, Yes writes. Replaced again, that member drops nothing and asks nothing.
    const Bytes c7 = SpriteBuilder().Raw(1, 1, 0, 0, 1, 1, {9}).Build();
    kivtest::WriteFile("c.s17", c7);
    b.SelectMember(3);
    for (int k = 0; k < 3; ++k) {
        b.dialogs.Clear();
        b.dialogs.Answer(k == 1);
        b.form.ReplaceBtn->click();
        QCOMPARE(b.dialogs.Texts(), k == 2 ? QStringList()
                                           : QStringList{"Newgen.dat also holds changes to "
                                                         "empty.s16 that this Replace would "
                                                         "drop. Replace Newgen.dat anyway?"});
        QCOMPARE(kivtest::ReadFile("Newgen.dat"),
                 (k ? ThreeMembers(SpriteBuilder().Build(), c7) : ThreeMembers(twin)).Build());
    }
    kivtest::WriteFile("Newgen.dat", {'n', 'o'});
    b.form.ReplaceBtn->click();
    QCOMPARE(b.dialogs.Texts().last(),
             QString("Newgen.dat is not a readable archive. Replace Newgen.dat anyway?"));
}

void BrowserTest::applyModWritesNewgenOrSaysWhyNot() {
    Browser b;
    const Bytes twin = SpriteBuilder().Raw(3, 1, 0, 0, 3, 1, {5, 6, 7}).Build();
    const Bytes other = SpriteBuilder().Raw(1, 1, 0, 0, 1, 1, {8}).Build();
    const Bytes c7 = SpriteBuilder().Raw(1, 1, 0, 0, 1, 1, {9}).Raw(1, 1, 0, 0, 1, 1, {2}).Build();
    const auto mod = [](const std::string& name, const ArchiveBuilder& edited) {
        kivtest::WriteFile("edited.dat", edited.Build());
        QVERIFY(kiv::CreateMod("a.dat", "edited.dat", name, {}).Ok);
    };
    kivtest::WriteFile("a.dat", ThreeMembers().Build());
    mod("middle.kivmod", ThreeMembers(twin));
    mod("other.kivmod", ThreeMembers(other));
    mod("last.kivmod", ThreeMembers(SpriteBuilder().Build(), c7));
    b.Load("a.dat");

    // Two mods of different members, chosen together, make one archive.
    b.dialogs.ChooseMany({"middle.kivmod", "last.kivmod"});
    b.form.ApplyMod1->trigger();
    QVERIFY(b.dialogs.requests.back().Multiple);
    QCOMPARE(b.dialogs.requests.back().Filter,
             QString("Mods (*.kivmod)|*.kivmod|All files (*.*)|*.*"));
    QCOMPARE(b.dialogs.Texts(), QStringList());
    QCOMPARE(kivtest::ReadFile("Newgen.dat"), ThreeMembers(twin, c7).Build());

    // Two mods of one member: one question names the conflict and offers kivtool's ways;
    // Cancel, the default, writes nothing.
    b.dialogs.ChooseMany({"middle.kivmod", "other.kivmod"});
    b.form.ApplyMod1->trigger();
    QCOMPARE(b.dialogs.boxes.size(), std::size_t{1});
    QVERIFY(b.dialogs.boxes[0].Question);
    QCOMPARE(b.dialogs.boxes[0].Choices, (QStringList{"Later Mod Wins", "Leave Out", "Cancel"}));
    QVERIFY(b.dialogs.Texts()[0].startsWith(
        "Conflict over empty.s16: middle.kivmod replaces it whole, other.kivmod replaces it "
        "whole.\n"));
    QCOMPARE(kivtest::ReadFile("Newgen.dat"), ThreeMembers(twin, c7).Build());

    // Leave Out keeps the earlier mod's change (Newgen.dat holds it already: nothing of it is
    // replaced); Later Mod Wins then replaces it, and says so.
    b.dialogs.Clear();
    b.dialogs.Pick(1);
    b.dialogs.Answer(true);
    b.dialogs.ChooseMany({"middle.kivmod", "other.kivmod"});
    b.form.ApplyMod1->trigger();
    QCOMPARE(b.dialogs.Texts().last(), QString("Newgen.dat also holds changes to c.s16 that this "
                                               "Apply Mod would drop. Replace Newgen.dat anyway?"));
    QCOMPARE(kivtest::ReadFile("Newgen.dat"), ThreeMembers(twin).Build());
    b.dialogs.Clear();
    b.dialogs.Pick(0);
    b.dialogs.Answer(true);
    b.dialogs.ChooseMany({"middle.kivmod", "other.kivmod"});
    b.form.ApplyMod1->trigger();
    QCOMPARE(b.dialogs.Texts().last(),
             QString("Newgen.dat holds changes of its own: its change to empty.s16 would be "
                     "replaced by other.kivmod's. Replace Newgen.dat anyway?"));
    QCOMPARE(kivtest::ReadFile("Newgen.dat"), ThreeMembers(other).Build());

    // The user's own painted icon that a mod's icon replaces is named beside what is dropped.
    const Bytes painted =
        SpriteBuilder().Raw(1, 1, 0, 0, 1, 1, {5}).Raw(1, 1, 0, 0, 1, 1, {2}).Build();
    kivtest::WriteFile("Newgen.dat", ThreeMembers(other, painted).Build());
    b.dialogs.Clear();
    b.dialogs.ChooseMany({"last.kivmod"});
    b.form.ApplyMod1->trigger();
    QCOMPARE(b.dialogs.Texts(),
             QStringList{"Newgen.dat also holds changes to empty.s16 that this Apply Mod would "
                         "drop, and its change to c.s16 icon 1 would be replaced by "
                         "last.kivmod's. Replace Newgen.dat anyway?"});
    QCOMPARE(kivtest::ReadFile("Newgen.dat"), ThreeMembers(other, painted).Build());
    kivtest::WriteFile("Newgen.dat", ThreeMembers(twin, c7).Build());

    // One mod alone would drop the other's change that Newgen.dat holds: No keeps it.
    for (const bool yes : {false, true}) {
        b.dialogs.Clear();
        b.dialogs.Answer(yes);
        b.dialogs.ChooseMany({"middle.kivmod"});
        b.form.ApplyMod1->trigger();
        QCOMPARE(b.dialogs.Texts(), QStringList{"Newgen.dat also holds changes to c.s16 that "
                                                "this Apply Mod would drop. Replace Newgen.dat "
                                                "anyway?"});
        QCOMPARE(kivtest::ReadFile("Newgen.dat"),
                 (yes ? ThreeMembers(twin) : ThreeMembers(twin, c7)).Build());
    }
}

QTEST_MAIN(BrowserTest)
#include "browser_test.moc"

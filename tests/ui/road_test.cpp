// One change walked through both windows, from the archive to "Newgen.dat".

#include "KivUt1.h"
#include "S16Ed.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"

#include "archive/ArchiveDirectory.h"
#include "base/FileStream.h"
#include "image/Bitmap.h"
#include "sprite/IconDecoder.h"

#include <QtTest>

using kivtest::Bytes;

namespace {

Bytes Slice(const Bytes& bytes, std::uint32_t from, std::uint32_t to) {
    return Bytes(bytes.begin() + from, bytes.begin() + to);
}

kiv::Image DecodeFromFile(const std::string& path, int index) {
    kiv::TIconTable table;
    kiv::ReadIconTable(path, table);
    auto file = kiv::InFile::Open(path);
    const kiv::TIconHeader& header = table.Headers[index];
    return kiv::DecodeIcon(*file, kiv::IconDataOffset(table.Count, header), header);
}

// What an edited picture reads as once stored: its icon pixels (the box around everything
// that is not background) cut to 16 bits, background around the box.
kiv::Image AsStored(const kiv::Image& picture) {
    int minX = picture.Width(), minY = picture.Height(), maxX = -1, maxY = -1;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x)
            if (picture.Pixel(x, y) != kiv::BackColor) {
                minX = std::min(minX, x);
                minY = std::min(minY, y);
                maxX = std::max(maxX, x);
                maxY = std::max(maxY, y);
            }
    kiv::Image stored(picture.Width(), picture.Height());
    stored.Fill(kiv::BackColor);
    for (int y = minY; y <= maxY; ++y)
        for (int x = minX; x <= maxX; ++x) {
            const std::uint16_t p = kiv::PackPixel(picture.Pixel(x, y));
            stored.SetPixel(x, y, kiv::UnpackPixel(p & 0xFF, p >> 8));
        }
    return stored;
}

} // namespace

class RoadTest : public QObject {
    Q_OBJECT
private slots:
    void AnIconEditedInTheEditorReachesTheRebuiltArchive();
};

void RoadTest::AnIconEditedInTheEditorReachesTheRebuiltArchive() {
    kivtest::ScratchDir dir;
    ScriptedDialogs dialogs;
    KivUt1::ResetModuleState();
    S16Ed::ResetModuleState();

    kivtest::SpriteBuilder idle, walk, jump;
    idle.Raw(2, 2, 0, 0, 2, 2, {0xF800, 0x07E0, 0x001F, 0xFFFF});
    walk.Runs(4, 3, 1, 1, 6, 5, {{5, 0xF800}, {7, 0x001F}}, 0x0000AB)
        .Raw(3, 2, 2, 1, 8, 6, {0x1111, 0x2222, 0x3333, 0x4444, 0x5555, 0x6666}, 0x0000CD)
        .Runs(2, 2, 0, 0, 2, 2, {{4, 0x07E0}});
    jump.Runs(5, 1, 0, 0, 5, 1, {{5, 0xABCD}});
    kivtest::ArchiveBuilder builder;
    builder.Member("idle.s16", idle.Build())
        .Member("walk.s16", walk.Build())
        .Member("jump.s16", jump.Build());
    const Bytes archive = builder.Build();
    kivtest::WriteFile("Modgen.dat", archive);

    TMainForm browser;
    TEditForm editor;
    MainForm = &browser;
    EditForm = &editor;

    // The browser lists the archive at its first activation; the user picks "walk.s16".
    browser.FormActivate(&browser);
    QCOMPARE(browser.InfoGrid->Cells(0, 2), QStringLiteral("walk.s16"));
    QVERIFY(browser.InfoGrid->SelectCell(0, 2));
    QCOMPARE(browser.FileLbl->Caption(), QStringLiteral("File: walk.s16"));
    browser.ExtractBtn->click();
    QCOMPARE(kivtest::ReadFile("walk.s16"), walk.Build());

    // The editor opens the extracted member, shows its second icon and saves it.
    dialogs.Choose(QStringLiteral("walk.s16"));
    editor.Loads16Btn->click();
    QCOMPARE(editor.IconsLbl->Caption(), QStringLiteral("Icons 3"));
    editor.IconUpDown->SetPosition(2);
    editor.ShowBtn->click();
    QCOMPARE(editor.Image1->Picture(), DecodeFromFile("walk.s16", 1));
    dialogs.Choose(QStringLiteral("walk2.bmp"));
    editor.BmpSaveBtn->click();

    // Another program paints on the bitmap, beyond the old box and in colours that do not
    // survive 16 bits unchanged.
    kiv::Image painted = kiv::LoadBitmapFile("walk2.bmp");
    QCOMPARE(painted, editor.Image1->Picture());
    painted.FillRect(5, 3, 8, 6, 0x00336699);
    painted.SetPixel(0, 0, 0x00FFFFFF);
    kiv::SaveBitmapFile(painted, "walk2.bmp");

    dialogs.Choose(QStringLiteral("walk2.bmp"));
    editor.BmpLoadBtn->click();
    QCOMPARE(editor.Image1->Picture(), painted);
    editor.ReplaceBtn->click();
    QVERIFY(kivtest::FileExists("walk.s17"));
    QCOMPARE(DecodeFromFile("walk.s17", 1), AsStored(painted));

    // Back in the browser, the same member row is replaced by its twin.
    QVERIFY(browser.InfoGrid->SelectCell(1, 2));
    browser.ReplaceBtn->click();
    QVERIFY(dialogs.boxes.empty());
    QCOMPARE(kivtest::ReadFile("Modgen.dat"), archive);

    const kiv::ArchiveListing listing = kiv::ListArchive("Newgen.dat");
    QVERIFY(listing.Opened);
    QCOMPARE(int(listing.Entries.size()), 3);
    const Bytes rebuilt = kivtest::ReadFile("Newgen.dat");
    const auto member = [&](int i) {
        const kiv::TArchiveEntry& e = listing.Entries[i];
        return Slice(rebuilt, e.Start, e.Finish);
    };
    QCOMPARE(listing.Entries[1].Name, std::string("walk.s16"));
    QCOMPARE(member(0), idle.Build());
    QCOMPARE(member(2), jump.Build());
    QCOMPARE(member(1), kivtest::ReadFile("walk.s17"));

    kivtest::WriteFile("rebuilt-walk.s16", member(1));
    QCOMPARE(DecodeFromFile("rebuilt-walk.s16", 1), AsStored(painted));
    QCOMPARE(DecodeFromFile("rebuilt-walk.s16", 0), DecodeFromFile("walk.s16", 0));
    QCOMPARE(DecodeFromFile("rebuilt-walk.s16", 2), DecodeFromFile("walk.s16", 2));

    // A second change: the editor goes on from the twin, so icon 2's edit stays in it.
    QCOMPARE(editor.NameLbl->Caption(), QStringLiteral("walk.s17"));
    editor.IconUpDown->SetPosition(3);
    editor.ShowBtn->click();
    editor.Image1->Picture().SetPixel(1, 1, 0x00F8FCF8);
    const kiv::Image third = editor.Image1->Picture();
    editor.ReplaceBtn->click();
    QCOMPARE(DecodeFromFile("walk.s17", 1), AsStored(painted));
    QCOMPARE(DecodeFromFile("walk.s17", 2), third);

    // The browser loads "Newgen.dat" and rebuilds it in place; its listing follows.
    dialogs.Choose(QStringLiteral("Newgen.dat"));
    browser.LoadDataFile1->trigger();
    QVERIFY(browser.InfoGrid->SelectCell(1, 2));
    browser.ReplaceBtn->click();
    QVERIFY(dialogs.boxes.empty());
    const kiv::ArchiveListing again = kiv::ListArchive("Newgen.dat");
    const Bytes twice = kivtest::ReadFile("Newgen.dat");
    QCOMPARE(Slice(twice, again.Entries[1].Start, again.Entries[1].Finish),
             kivtest::ReadFile("walk.s17"));
    QCOMPARE(Slice(twice, again.Entries[2].Start, again.Entries[2].Finish), jump.Build());
    QCOMPARE(browser.InfoGrid->Cells(2, 2),
             QString::fromStdString(kiv::OffsetText(again.Entries[1].Finish)));

    // The replaced member comes back selected, showing its new headers; Extract takes it.
    QCOMPARE(browser.InfoGrid->Row(), 2);
    kiv::TIconTable twin;
    kiv::ReadIconTable("walk.s17", twin);
    QCOMPARE(browser.HeaderGrid->Cells(3, kiv::HeaderRow::Starts),
             QString::number(twin.Headers[2].Starts));
    browser.ExtractBtn->click();
    QCOMPARE(kivtest::ReadFile("walk.s16"), kivtest::ReadFile("walk.s17"));
}

QTEST_MAIN(RoadTest)
#include "road_test.moc"

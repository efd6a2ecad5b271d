// The browser's Apply Mod: Newgen.dat written from the current archive and the chosen mods,
// or the reason why not.

#include "KivUt1.h"
#include "support/BrowserWindow.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"

#include "mod/ModCreate.h"

#include <QtTest>

using kivuitest::ArchiveBuilder;
using kivuitest::Browser;
using kivuitest::Bytes;
using kivuitest::SpriteBuilder;
using kivuitest::ThreeMembers;

namespace {

// a.dat, and three mods of it in the current folder: middle.kivmod and other.kivmod make
// empty.s16 `twin` and `other`, last.kivmod makes c.s16 `c7`.
struct ThreeMods {
    const Bytes twin = SpriteBuilder().Raw(3, 1, 0, 0, 3, 1, {5, 6, 7}).Build();
    const Bytes other = SpriteBuilder().Raw(1, 1, 0, 0, 1, 1, {8}).Build();
    const Bytes c7 = SpriteBuilder().Raw(1, 1, 0, 0, 1, 1, {9}).Raw(1, 1, 0, 0, 1, 1, {2}).Build();

    ThreeMods() {
        kivtest::WriteFile("a.dat", ThreeMembers().Build());
        Mod("middle.kivmod", ThreeMembers(twin));
        Mod("other.kivmod", ThreeMembers(other));
        Mod("last.kivmod", ThreeMembers(SpriteBuilder().Build(), c7));
    }
    static void Mod(const std::string& name, const ArchiveBuilder& edited) {
        kivtest::WriteFile("edited.dat", edited.Build());
        QVERIFY(kiv::CreateMod("a.dat", "edited.dat", name, {}).Ok);
    }
};

} // namespace

class BrowserModTest : public QObject {
    Q_OBJECT
private slots:
    void applyModWritesNewgenOrSaysWhyNot();
};

void BrowserModTest::applyModWritesNewgenOrSaysWhyNot() {
    Browser b;
    const ThreeMods mods;
    const Bytes &twin = mods.twin, &other = mods.other, &c7 = mods.c7;
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

QTEST_MAIN(BrowserModTest)
#include "browser_mod_test.moc"

// The Animation window driven through its keys, controls and hooks, and opened from the
// browser's menu, on sprite files built in a scratch folder.

#include "AnimFm.h"
#include "KivUt1.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"

#include "sprite/S16Format.h"

#include <QtTest>

using kivtest::ArchiveBuilder;
using kivtest::Bytes;
using kivtest::SpriteBuilder;

namespace {

// Icon k (1-based) is one pixel of colour Pixel(k) at (k, 1), its frame 8 x 6 but for icon
// 4's 10 x 6: runs 1-3 and 5-6.
std::uint16_t Pixel(int k) {
    return static_cast<std::uint16_t>(0xF800 | (k << 5));
}
Bytes Sprite() {
    SpriteBuilder sprite;
    for (int k = 1; k <= 6; ++k)
        sprite.Raw(1, 1, k, 1, k == 4 ? 10 : 8, 6, {Pixel(k)});
    return sprite.Build();
}
kiv::TColor Color(int k) {
    return kiv::UnpackPixel(static_cast<std::uint8_t>(Pixel(k)),
                            static_cast<std::uint8_t>(Pixel(k) >> 8));
}

struct Animation {
    kivtest::ScratchDir dir;
    ScriptedDialogs dialogs;
    TAnimForm form;
    Animation() {
        kivtest::WriteFile("hero.s16", Sprite());
        form.OpenSprite(QStringLiteral("hero.s16"), 0);
    }
    ~Animation() {
        TAnimForm::LiveFrame = nullptr;
        TAnimForm::ShowInEditor = nullptr;
    }
    int Icon() const { return form.ShownIndex() + 1; }
    void Key(Qt::Key key) { QTest::keyClick(form.AnimImage, key); }
    // The icon whose pixel the picture shows.
    int IconShown() const {
        for (int k = 1; k <= 6; ++k)
            if (form.AnimImage->Picture().Pixel(k, 1) == Color(k))
                return k;
        return 0;
    }
    // Icons shown by the next `ticks` frames, each tick sooner than a frame's interval.
    std::vector<int> Play(int ticks) {
        std::vector<int> shown;
        for (int k = 0; k < ticks; ++k) {
            form.PlayTimerTimer(form.PlayTimer);
            shown.push_back(Icon());
        }
        return shown;
    }
};

} // namespace

class AnimTest : public QObject {
    Q_OBJECT
private slots:
    void OpensOnTheRunOfFramesOfOneSizeWithItsDefaults() {
        Animation a;
        QCOMPARE(a.form.windowTitle(), QStringLiteral("Animation"));
        QCOMPARE(a.form.FirstEdit->Text(), QStringLiteral("1"));
        QCOMPARE(a.form.LastEdit->Text(), QStringLiteral("3")); // icon 4's frame is wider
        QCOMPARE(a.form.FpsEdit->Text(), QStringLiteral("10"));
        QCOMPARE(a.form.ModeCombo->currentText(), QStringLiteral("Loop"));
        QCOMPARE(a.form.ZoomCombo->currentText(), QStringLiteral("1x"));
        a.form.AnimImage->SetZoom(3); // as Ctrl + wheel does: the combo follows
        QCOMPARE(a.form.ZoomCombo->currentText(), QStringLiteral("3x"));
        a.form.AnimImage->SetZoom(1);
        QCOMPARE(a.form.BackgroundCombo->currentText(), QStringLiteral("Checkerboard"));
        QCOMPARE(a.form.PlayPauseBtn->Caption(), QStringLiteral("Play"));
        QCOMPARE(a.form.IconLbl->Caption(), QStringLiteral("Icon 1"));
        // The whole frame, the icon where its header puts it, transparency as a checkerboard.
        const kiv::Image& picture = a.form.AnimImage->Picture();
        QCOMPARE(picture.Width(), 8);
        QCOMPARE(picture.Height(), 6);
        QCOMPARE(a.IconShown(), 1);
        QCOMPARE(picture.Pixel(0, 0), kiv::RGB(255, 255, 255));
        a.form.BackgroundCombo->setCurrentIndex(2);
        QCOMPARE(a.form.AnimImage->Picture().Pixel(0, 0), kiv::clBlack);
        QCOMPARE(a.form.AnimImage->Picture().Pixel(1, 1), Color(1));

        a.form.OpenSprite(QStringLiteral("hero.s16"), 4);
        QCOMPARE(a.form.FirstEdit->Text(), QStringLiteral("5"));
        QCOMPARE(a.form.LastEdit->Text(), QStringLiteral("6"));
        QCOMPARE(a.IconShown(), 5);
    }

    void StepsRoundTheRangeAndPausesOnEveryKey() {
        Animation a;
        a.Key(Qt::Key_Space);
        QVERIFY(a.form.Playing());
        QCOMPARE(a.form.PlayPauseBtn->Caption(), QStringLiteral("Pause"));
        a.Key(Qt::Key_Right);
        QVERIFY(!a.form.Playing());
        QCOMPARE(a.Icon(), 2);
        a.Key(Qt::Key_Right);
        a.Key(Qt::Key_Right);
        QCOMPARE(a.Icon(), 1);
        a.Key(Qt::Key_Left);
        QCOMPARE(a.Icon(), 3);
        QCOMPARE(a.IconShown(), 3);
        QCOMPARE(a.form.IconLbl->Caption(), QStringLiteral("Icon 3"));
        a.Key(Qt::Key_Home);
        QCOMPARE(a.Icon(), 1);
        a.Key(Qt::Key_End);
        QCOMPARE(a.Icon(), 3);
        // A wider LAST takes the frames of another size on the largest frame.
        a.form.LastUpDown->SetPosition(5);
        a.Key(Qt::Key_End);
        QCOMPARE(a.IconShown(), 5);
        QCOMPARE(a.form.AnimImage->Picture().Width(), 10);
    }

    void PlaysLoopBackAndForthAndOnceInTheirOrder() {
        Animation a;
        a.form.FpsUpDown->SetPosition(1); // every tick of the test comes before the next frame
        a.Key(Qt::Key_Space);
        QCOMPARE(a.Play(4), (std::vector<int>{2, 3, 1, 2}));
        a.Key(Qt::Key_Home);
        a.form.ModeCombo->setCurrentIndex(1);
        a.Key(Qt::Key_Space);
        QCOMPARE(a.Play(6), (std::vector<int>{2, 3, 2, 1, 2, 3}));
        a.Key(Qt::Key_Home);
        a.form.ModeCombo->setCurrentIndex(2);
        a.Key(Qt::Key_Space);
        QCOMPARE(a.Play(2), (std::vector<int>{2, 3}));
        QVERIFY(!a.form.Playing());
        a.Key(Qt::Key_Space); // once more from FIRST
        QCOMPARE(a.Icon(), 1);
        QVERIFY(a.form.Playing());
    }

    void DrawsTheEditorsLivePictureInPlaceOfItsIcon() {
        Animation a;
        kiv::Image live(8, 6);
        live.Fill(kiv::RGB(0, 248, 0));
        std::vector<std::pair<std::string, int>> asked;
        TAnimForm::LiveFrame = [&](const std::string& path, int index) -> const kiv::Image* {
            asked.emplace_back(path, index);
            return index == 1 ? &live : nullptr;
        };
        a.Key(Qt::Key_Right);
        QCOMPARE(a.form.AnimImage->Picture(), live);
        QCOMPARE(asked.back(), (std::pair<std::string, int>("hero.s16", 1)));
        a.Key(Qt::Key_Right);
        QCOMPARE(a.IconShown(), 3);

        std::vector<int> shown;
        TAnimForm::ShowInEditor = [&](const std::string& path, int index) {
            shown.push_back(path == "hero.s16" ? index : -1);
            return true;
        };
        a.Key(Qt::Key_Space);
        QTest::mouseDClick(a.form.AnimImage, Qt::LeftButton, {}, QPoint(2, 2));
        QVERIFY(!a.form.Playing());
        QCOMPARE(shown, (std::vector<int>{a.form.ShownIndex()}));
    }

    void PlaysTheBrowsersMemberFromItsArchiveWithoutExtractingIt() {
        kivtest::ScratchDir dir;
        ScriptedDialogs dialogs;
        KivUt1::ResetModuleState();
        kivtest::WriteFile("Modgen.dat", ArchiveBuilder()
                                             .Member("coins.s16", Bytes(60, 0))
                                             .Member("hero.s16", Sprite())
                                             .Build());
        TMainForm browser;
        dialogs.Choose(QStringLiteral("Modgen.dat"));
        browser.LoadDataFile1->trigger();
        browser.InfoGrid->SelectCell(0, 2);
        browser.HeaderGrid->SelectCell(2, 1);
        browser.PlayIcons1->trigger();
        QVERIFY(AnimForm && AnimForm->isVisible());
        QCOMPARE(AnimForm->SpriteLbl->Caption(), QStringLiteral("hero.s16"));
        QCOMPARE(AnimForm->FirstEdit->Text(), QStringLiteral("2"));
        QCOMPARE(AnimForm->LastEdit->Text(), QStringLiteral("3"));
        QCOMPARE(AnimForm->AnimImage->Picture().Pixel(2, 1), Color(2));
        QVERIFY(!kivtest::FileExists("hero.s16"));
        QVERIFY(dialogs.boxes.empty());
        delete AnimForm;
        AnimForm = nullptr;
        KivUt1::ResetModuleState();
    }
};

QTEST_MAIN(AnimTest)
#include "anim_test.moc"

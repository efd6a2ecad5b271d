// The application shell: both windows as they start, the control layer's rules, the error
// box, the title, the editor's showing and sizing, activation, and the real program.

#include "KivUt1.h"
#include "S16Ed.h"
#include "StartupFile.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"
#include "vcl/Application.h"

#include "base/Errors.h"
#include "base/TextConv.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <filesystem>
#include <vector>

namespace {

// The tool's two windows as start-up makes them, in a scratch folder, with scripted boxes.
struct Tool {
    kivtest::ScratchDir dir;
    ScriptedDialogs dialogs;

    Tool() {
        KivUt1::ResetModuleState();
        S16Ed::ResetModuleState();
        TApplication::SetTitle(QStringLiteral("Kivutil"));
        MainForm = new TMainForm;
        EditForm = new TEditForm;
    }
    ~Tool() {
        delete EditForm;
        EditForm = nullptr;
        delete MainForm;
        MainForm = nullptr;
        KivUt1::ResetModuleState();
        S16Ed::ResetModuleState();
    }
};

// The layout rectangle of a control, scaled as its window scales it.
QRect Laid(const TForm* form, int left, int top, int width, int height) {
    return {form->Scaled(left), form->Scaled(top), form->Scaled(width), form->Scaled(height)};
}

struct Selection {
    int Col;
    int Row;
    bool operator==(const Selection&) const = default;
};

// Records every select-cell event of a grid; `allow` answers them.
struct SelectionLog {
    std::vector<Selection> seen;
    bool allow = true;
    explicit SelectionLog(TStringGrid& grid) {
        grid.OnSelectCell = [this](QObject*, int col, int row, bool& canSelect) {
            seen.push_back({col, row});
            canSelect = allow;
        };
    }
};

// The next control that the Tab key reaches.
QWidget* NextTabStop(QWidget* control) {
    QWidget* next = control->nextInFocusChain();
    while (next != control && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    return next;
}

QPoint CellCentre(TStringGrid& grid, int col, int row) {
    return grid.visualRect(grid.model()->index(row - grid.FixedRows(), col - grid.FixedCols()))
        .center();
}

} // namespace

class ShellTest : public QObject {
    Q_OBJECT

private slots:
    void BrowserStartsAsLaidOut();
    void EditorStartsAsLaidOut();
    void GridCountsBelowOneAndFixedCountsStayLowered();
    void ShrinkingAGridPastTheCurrentCellSelectsTheLastRemainingOne();
    void FixedCellsNeverBecomeCurrent();
    void MouseAndKeysAskBeforeTheCurrentCellMoves();
    void GridHoldsALongListing();
    void UpDownKeepsItsRangeAndItsBuddysText();
    void ImageIsDrawnOpaqueAtNaturalSizeAndClipped();
    void ErrorsEscapingAHandlerShowTheErrorBox();
    void FileDialogsRememberTheChosenName();
    void TheQuestionBoxKeepsWhatIsThereUnlessToldYes();
    void TitleIsTheExecutableNameCapitalised();
    void EditorIsShownHiddenAndShownAgainWithItsState();
    void ResizingTheEditorFitsTheScrollBox();
    void BrowserActivationRunsOnlyWhenComingFromTheEditor();
    void TheProgramStartsAndEndsWithExitCodeZero();
    void AFileNamedAtStartOpensInItsWindow();
};

void ShellTest::BrowserStartsAsLaidOut() {
    Tool tool;
    TMainForm& form = *MainForm;
    QCOMPARE(form.objectName(), QStringLiteral("MainForm"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Kiv Utilities"));
    QCOMPARE(QSize(form.OuterWidth(), form.OuterHeight()), QSize(629, 593));
    QCOMPARE(form.File->title(), QStringLiteral("File"));
    QCOMPARE(form.LoadDataFile1->text(), QStringLiteral("Load Data File"));
    QCOMPARE(form.Tools1->title(), QStringLiteral("Tools"));
    QCOMPARE(form.S16Editor1->text(), QStringLiteral("S16 Editor"));
    QVERIFY(form.LoadDataFile1->shortcut().isEmpty());

    TStringGrid& info = *form.InfoGrid;
    QCOMPARE(info.geometry(), Laid(&form, 312, 48, 297, 489));
    QCOMPARE(info.ColCount(), 3);
    QCOMPARE(info.RowCount(), 5);
    QCOMPARE(info.FixedRows(), 1);
    QCOMPARE(info.FixedCols(), 0);
    QCOMPARE(info.ColWidths(0), form.Scaled(133));
    QCOMPARE(info.ColWidths(2), form.Scaled(73));
    QCOMPARE(info.Cells(0, 0), QString());
    QCOMPARE(info.Cells(2, 4), QString());
    QCOMPARE(Selection({info.Col(), info.Row()}), Selection({0, 1}));

    TStringGrid& headers = *form.HeaderGrid;
    QCOMPARE(headers.geometry(), Laid(&form, 8, 216, 289, 321));
    QCOMPARE(headers.ColCount(), 5);
    QCOMPARE(headers.RowCount(), 12);
    QCOMPARE(headers.FixedRows(), 1);
    QCOMPARE(headers.FixedCols(), 1);
    QCOMPARE(headers.DefaultColWidth(), form.Scaled(48));
    QCOMPARE(headers.ColWidths(1), form.Scaled(67));
    QCOMPARE(headers.ColWidths(4), form.Scaled(74));
    QCOMPARE(Selection({headers.Col(), headers.Row()}), Selection({1, 1}));

    QCOMPARE(form.GridLbl->Caption(), QStringLiteral("???"));
    QCOMPARE(form.GridLbl->pos(), QPoint(form.Scaled(320), form.Scaled(16)));
    QCOMPARE(form.FileLbl->Caption(), QStringLiteral("File:"));
    QCOMPARE(form.IconsNumberLbl->Caption(), QStringLiteral("Icons:"));
    QCOMPARE(form.IconImage->geometry(), Laid(&form, 8, 16, 257, 129));
    QVERIFY(form.IconImage->Picture().Empty());
    QCOMPARE(form.ExtractBtn->Caption(), QStringLiteral("Extract"));
    QCOMPARE(form.ExtractBtn->geometry(), Laid(&form, 200, 152, 75, 25));
    QCOMPARE(form.TestBtn->geometry(), Laid(&form, 504, 8, 75, 25));
    QCOMPARE(form.ReplaceBtn->Caption(), QStringLiteral("Replace"));
    QCOMPARE(form.OpenDialog1->Filter, QString());

    // Tab order: the grids, then the buttons.
    QCOMPARE(NextTabStop(&info), static_cast<QWidget*>(&headers));
    QCOMPARE(NextTabStop(&headers), static_cast<QWidget*>(form.ExtractBtn));
    QCOMPARE(NextTabStop(form.ExtractBtn), static_cast<QWidget*>(form.TestBtn));
    QCOMPARE(NextTabStop(form.TestBtn), static_cast<QWidget*>(form.ReplaceBtn));

    // A window made smaller than its controls scrolls over them.
    form.SetWindowBounds(75, 115, 300, 300);
    form.show();
    auto* scroller = form.findChild<QScrollArea*>(QStringLiteral("ClientScroller"));
    QVERIFY(scroller);
    QVERIFY(scroller->horizontalScrollBar()->maximum() > 0);
    QVERIFY(scroller->verticalScrollBar()->maximum() > 0);
    QCOMPARE(info.geometry(), Laid(&form, 312, 48, 297, 489));

    // A label's width follows a longer caption.
    const int before = form.FileLbl->width();
    form.FileLbl->SetCaption(QStringLiteral("File: a rather long member name.s16"));
    QVERIFY(form.FileLbl->width() > before);
}

void ShellTest::EditorStartsAsLaidOut() {
    Tool tool;
    TEditForm& form = *EditForm;
    QVERIFY(!form.isVisible());
    QCOMPARE(form.windowTitle(), QStringLiteral("S16 Editor"));
    QCOMPARE(form.pos(), QPoint(164, 150));
    QCOMPARE(form.ImageSB->geometry(), Laid(&form, 125, 0, 505, 449));
    QCOMPARE(form.ImageSB->widget(), static_cast<QWidget*>(form.Image1));
    QCOMPARE(form.Image1->geometry(), Laid(&form, 0, 0, 640, 480));
    QCOMPARE(form.Loads16Btn->Caption(), QStringLiteral("Load S16"));
    QCOMPARE(form.ShowBtn->geometry(), Laid(&form, 8, 104, 105, 25));
    QCOMPARE(form.CollageBtn->Caption(), QStringLiteral("Collage"));
    QCOMPARE(form.BmpSaveBtn->Caption(), QStringLiteral("Bmp Save"));
    QCOMPARE(form.BmpLoadBtn->Caption(), QStringLiteral("Bmp Load"));
    QCOMPARE(form.ReplaceBtn->geometry(), Laid(&form, 8, 272, 105, 25));
    QCOMPARE(form.IconNumEdit->Text(), QStringLiteral("1"));
    QCOMPARE(form.IconNumEdit->geometry(), Laid(&form, 56, 168, 41, 28));
    QCOMPARE(form.IconUpDown->geometry(), Laid(&form, 97, 168, 15, 28));
    QCOMPARE(form.IconUpDown->Associate(), form.IconNumEdit);
    QCOMPARE(form.IconUpDown->Min(), 1);
    QCOMPARE(form.IconUpDown->Max(), 100);
    QCOMPARE(form.IconUpDown->Position(), 1);
    QCOMPARE(form.IconLbl->Caption(), QStringLiteral("Icon #"));
    QCOMPARE(form.NameLbl->Caption(), QStringLiteral("None"));
    QCOMPARE(form.IconsLbl->Caption(), QStringLiteral("Icons ?"));
    QVERIFY(form.NameLbl->font().pixelSize() < form.IconsLbl->font().pixelSize());
    QVERIFY(form.Image1->Picture().Empty());
    QCOMPARE(NextTabStop(form.Loads16Btn), static_cast<QWidget*>(form.IconNumEdit));
    QCOMPARE(NextTabStop(form.IconNumEdit), static_cast<QWidget*>(form.CollageBtn));
    QCOMPARE(NextTabStop(form.BmpLoadBtn), static_cast<QWidget*>(form.ReplaceBtn));
}

void ShellTest::GridCountsBelowOneAndFixedCountsStayLowered() {
    TStringGrid grid; // 5 x 5, one fixed row and column
    grid.SetRowCount(1);
    QCOMPARE(grid.RowCount(), 1);
    QCOMPARE(grid.FixedRows(), 0);
    grid.SetRowCount(5);
    QCOMPARE(grid.FixedRows(), 0);
    QCOMPARE(grid.Row(), 0); // the first row is an ordinary cell now

    grid.SetColCount(0);
    QCOMPARE(grid.ColCount(), 1);
    QCOMPARE(grid.FixedCols(), 0);
    grid.SetColCount(-3);
    QCOMPARE(grid.ColCount(), 1);
    grid.SetColCount(4);
    QCOMPARE(grid.FixedCols(), 0);

    // Cells dropped with their rows read empty when the grid grows again.
    grid.SetCells(3, 4, QStringLiteral("kept?"));
    grid.SetCells(0, 0, QStringLiteral("corner"));
    grid.SetRowCount(2);
    grid.SetRowCount(5);
    QCOMPARE(grid.Cells(3, 4), QString());
    QCOMPARE(grid.Cells(0, 0), QStringLiteral("corner"));
    QCOMPARE(grid.Cells(9, 9), QString());
}

void ShellTest::ShrinkingAGridPastTheCurrentCellSelectsTheLastRemainingOne() {
    Tool tool;
    TStringGrid& grid = *MainForm->HeaderGrid;
    SelectionLog log(grid);
    QVERIFY(grid.SelectCell(4, 3));
    log.seen.clear();

    grid.SetColCount(3);
    QCOMPARE(log.seen, std::vector<Selection>({{2, 3}}));
    QCOMPARE(Selection({grid.Col(), grid.Row()}), Selection({2, 3}));

    // With the current cell still inside, nothing is raised.
    log.seen.clear();
    grid.SetColCount(5);
    grid.SetColCount(3);
    QVERIFY(log.seen.empty());

    // Rows alike; a "no" cannot keep a cell that no longer exists.
    QVERIFY(grid.SelectCell(2, 11));
    log.seen.clear();
    log.allow = false;
    grid.SetRowCount(6);
    QCOMPARE(log.seen, std::vector<Selection>({{2, 5}}));
    QCOMPARE(Selection({grid.Col(), grid.Row()}), Selection({2, 5}));
}

void ShellTest::FixedCellsNeverBecomeCurrent() {
    Tool tool;
    TStringGrid& grid = *MainForm->HeaderGrid;
    SelectionLog log(grid);
    QVERIFY(!grid.SelectCell(0, 3));
    QVERIFY(!grid.SelectCell(2, 0));
    QVERIFY(!grid.SelectCell(7, 1));
    QVERIFY(log.seen.empty());

    // Keys stop at the fixed row and column without asking.
    grid.show();
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_Left);
    QTest::keyClick(&grid, Qt::Key_Up);
    QVERIFY(log.seen.empty());
    QCOMPARE(Selection({grid.Col(), grid.Row()}), Selection({1, 1}));
}

void ShellTest::MouseAndKeysAskBeforeTheCurrentCellMoves() {
    Tool tool;
    MainForm->show();
    TStringGrid& grid = *MainForm->HeaderGrid;
    SelectionLog log(grid);

    // The handler sees the cell about to become current while the old one still is.
    std::vector<Selection> currentWhenAsked;
    grid.OnSelectCell = [&](QObject* sender, int col, int row, bool& canSelect) {
        QCOMPARE(sender, static_cast<QObject*>(&grid));
        log.seen.push_back({col, row});
        currentWhenAsked.push_back({grid.Col(), grid.Row()});
        canSelect = log.allow;
    };
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, CellCentre(grid, 3, 4));
    QCOMPARE(log.seen, std::vector<Selection>({{3, 4}}));
    QCOMPARE(currentWhenAsked, std::vector<Selection>({{1, 1}}));
    QCOMPARE(Selection({grid.Col(), grid.Row()}), Selection({3, 4}));

    QTest::keyClick(&grid, Qt::Key_Right);
    QCOMPARE(log.seen.back(), Selection({4, 4}));
    QCOMPARE(Selection({grid.Col(), grid.Row()}), Selection({4, 4}));

    // A "no" keeps the current cell where it is.
    log.allow = false;
    QTest::keyClick(&grid, Qt::Key_Down);
    QCOMPARE(log.seen.back(), Selection({4, 5}));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, CellCentre(grid, 2, 2));
    QCOMPARE(log.seen.back(), Selection({2, 2}));
    QCOMPARE(Selection({grid.Col(), grid.Row()}), Selection({4, 4}));

    // Typing is no way to move it.
    const auto asked = log.seen.size();
    QTest::keyClicks(&grid, QStringLiteral("ab"));
    QCOMPARE(log.seen.size(), asked);
}

void ShellTest::GridHoldsALongListing() {
    TStringGrid grid;
    grid.SetColCount(3);
    grid.SetFixedCols(0);
    grid.SetRowCount(100001);
    for (int row = 1; row <= 100000; ++row)
        grid.SetCells(0, row, QString::number(row));
    QCOMPARE(grid.Cells(0, 100000), QStringLiteral("100000"));
    QCOMPARE(grid.Cells(1, 100000), QString());
    QCOMPARE(grid.model()->rowCount(), 100000);
    QVERIFY(grid.SelectCell(2, 100000));
    grid.SetRowCount(5);
    QCOMPARE(Selection({grid.Col(), grid.Row()}), Selection({2, 4}));
}

void ShellTest::UpDownKeepsItsRangeAndItsBuddysText() {
    TEdit edit;
    TUpDown upDown;
    upDown.SetMin(1);
    upDown.SetMax(100);
    upDown.SetAssociate(&edit);
    upDown.SetPosition(1);
    QCOMPARE(edit.Text(), QStringLiteral("1"));

    upDown.StepBy(-1);
    QCOMPARE(upDown.Position(), 1); // no wrapping
    upDown.SetPosition(99);
    upDown.StepBy(1);
    upDown.StepBy(1);
    QCOMPARE(edit.Text(), QStringLiteral("100"));

    // A number typed in the buddy is the position, kept inside the range.
    edit.SetText(QStringLiteral("57"));
    QCOMPARE(upDown.Position(), 57);
    edit.SetText(QStringLiteral("5000"));
    QCOMPARE(upDown.Position(), 100);
    edit.SetText(QStringLiteral("abc"));
    QCOMPARE(upDown.Position(), 100);
    edit.SetText(QStringLiteral("7"));
    upDown.StepBy(1);
    QCOMPARE(edit.Text(), QStringLiteral("8"));

    // 16-bit values only.
    upDown.SetMax(70000);
    QCOMPARE(upDown.Max(), 32767);
    upDown.SetMin(-70000);
    QCOMPARE(upDown.Min(), -32768);

    // The arrows and the buddy's arrow keys step it.
    upDown.SetMin(1);
    upDown.SetMax(100);
    upDown.resize(15, 28);
    QTest::mouseClick(&upDown, Qt::LeftButton, {}, QPoint(7, 3));
    QCOMPARE(edit.Text(), QStringLiteral("9"));
    QTest::mouseClick(&upDown, Qt::LeftButton, {}, QPoint(7, 25));
    QCOMPARE(edit.Text(), QStringLiteral("8"));
    QTest::keyClick(&edit, Qt::Key_Up);
    QCOMPARE(upDown.Position(), 9);
}

void ShellTest::ImageIsDrawnOpaqueAtNaturalSizeAndClipped() {
    QWidget backdrop;
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::white);
    backdrop.setPalette(palette);
    backdrop.setAutoFillBackground(true);
    backdrop.resize(10, 10);
    TImage image(&backdrop);
    image.setGeometry(0, 0, 4, 3);

    kiv::Image picture(2, 2);
    picture.SetPixel(0, 0, kiv::RGB(200, 10, 20));
    picture.SetPixel(1, 1, kiv::RGB(1, 2, 3));
    image.SetPicture(picture);
    QImage shown = backdrop.grab().toImage();
    QCOMPARE(shown.pixel(0, 0), qRgb(200, 10, 20));
    QCOMPARE(shown.pixel(1, 1), qRgb(1, 2, 3));
    QCOMPARE(shown.pixel(1, 0), qRgb(0, 0, 0));
    QCOMPARE(shown.pixel(3, 2), qRgb(255, 255, 255)); // beyond the picture: not drawn

    // A picture larger than the control is cut at the control's edges.
    kiv::Image large(50, 50);
    large.Fill(kiv::clAqua);
    image.SetPicture(large);
    shown = backdrop.grab().toImage();
    QCOMPARE(shown.pixel(3, 2), qRgb(0, 255, 255));
    QCOMPARE(shown.pixel(4, 2), qRgb(255, 255, 255));
    QCOMPARE(shown.pixel(3, 3), qRgb(255, 255, 255));
}

void ShellTest::ErrorsEscapingAHandlerShowTheErrorBox() {
    ScriptedDialogs dialogs;
    TApplication::SetTitle(QStringLiteral("Kivutil"));
    bool ranOn = false;
    TApplication::Guard([&] {
        kiv::StrToInt("abc");
        ranOn = true;
    });
    QVERIFY(!ranOn);
    QCOMPARE(dialogs.boxes.size(), std::size_t(1));
    QVERIFY(dialogs.boxes[0].Error);
    QCOMPARE(dialogs.boxes[0].Text, QStringLiteral("'abc' is not a valid integer value."));
    QCOMPARE(dialogs.boxes[0].Caption, QStringLiteral("Kivutil"));

    dialogs.Clear();
    TApplication::Guard([] { throw kiv::Exception(""); });
    TApplication::Guard([] { throw kiv::Exception("Already a sentence."); });
    TApplication::Guard([] { throw kiv::EAbort(); });
    TApplication::Guard([] { throw 42; });
    QCOMPARE(dialogs.Texts(),
             QStringList({QStringLiteral("."), QStringLiteral("Already a sentence.."),
                          QStringLiteral("Unexpected error.")}));

    // A handler's own report: the message box, caption "Error", no stop icon.
    dialogs.Clear();
    ShowMessageBox(QStringLiteral("Main data file not found."));
    QVERIFY(!dialogs.boxes[0].Error);
    QCOMPARE(dialogs.boxes[0].Caption, QStringLiteral("Error"));

    // The hourglass is back off on the way out of an error, too.
    TApplication::Guard([] {
        HourGlassCursor busy;
        QVERIFY(QGuiApplication::overrideCursor());
        throw kiv::EReadError();
    });
    QVERIFY(!QGuiApplication::overrideCursor());

    // An error in an event that no handler runs for is shown too, and goes no further.
    struct Throwing : QObject {
        bool event(QEvent*) override { throw kiv::EReadError(); }
    } throwing;
    QEvent event(QEvent::User);
    dialogs.Clear();
    QVERIFY(!QCoreApplication::sendEvent(&throwing, &event));
    QCOMPARE(dialogs.Texts(), QStringList{QStringLiteral("Stream read error.")});
}

void ShellTest::FileDialogsRememberTheChosenName() {
    ScriptedDialogs dialogs;
    TOpenDialog open;
    open.Filter = QStringLiteral("Data (*.dat)|*.dat|All files (*.*)|*.*");
    dialogs.Choose(QStringLiteral("/data/Modgen.dat"));
    QVERIFY(open.Execute());
    QCOMPARE(open.FileName, QStringLiteral("/data/Modgen.dat"));
    dialogs.Cancel();
    QVERIFY(!open.Execute());
    QCOMPARE(open.FileName, QStringLiteral("/data/Modgen.dat"));
    QCOMPARE(dialogs.requests.size(), std::size_t(2));
    QCOMPARE(dialogs.requests[1].FileName, QStringLiteral("/data/Modgen.dat"));
    QCOMPARE(dialogs.requests[1].Filter, open.Filter);
    QVERIFY(!dialogs.requests[1].Save);

    TSaveDialog save;
    save.DefaultExt = QStringLiteral("bmp");
    dialogs.Choose(QStringLiteral("out.bmp"));
    QVERIFY(save.Execute());
    QVERIFY(dialogs.requests.back().Save);
    QCOMPARE(dialogs.requests.back().DefaultExt, QStringLiteral("bmp"));

    // With no name chosen yet, the real dialog opens in the current folder, not in the last
    // folder some dialog visited (Qt's settings are kept in the scratch folder).
    kivtest::ScratchDir dir;
    const QString here = QDir::currentPath();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, here);
    QDir().mkdir(QStringLiteral("elsewhere"));
    QStringList openedIn;
    const auto runDialog = [&](const QString& choose) {
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            openedIn << dialog->directory().absolutePath();
            if (choose.isEmpty())
                return dialog->reject();
            dialog->selectFile(choose);
            static_cast<QDialog*>(dialog)->accept(); // the file dialog's own accept
        });
        FileDialogRequest request;
        return QtDialogService().RunFileDialog(request);
    };
    QVERIFY(runDialog(here + QStringLiteral("/elsewhere/x.s16")));
    QVERIFY(!runDialog(QString()));
    QCOMPARE(openedIn, (QStringList{here, here}));

    QCOMPARE(QtNameFilters(open.Filter), QStringLiteral("Data (*.dat);;All files (*)"));
    QCOMPARE(QtNameFilters(QStringLiteral("S16 files (*.s16)|*.s16|Both|*.s16;*.s17")),
             QStringLiteral("S16 files (*.s16);;Both (*.s16 *.s17)"));
}

void ShellTest::TheQuestionBoxKeepsWhatIsThereUnlessToldYes() {
    // The real box: Enter answers No; only the Yes button answers Yes.
    const auto answer = [](bool yes) {
        QTimer::singleShot(0, [yes] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            if (yes)
                return box->button(QMessageBox::Yes)->click();
            QTest::keyClick(box, Qt::Key_Return);
        });
        return QtDialogService().AskYesNo(QStringLiteral("Replace?"), QStringLiteral("Kivutil"));
    };
    QVERIFY(!answer(false));
    QVERIFY(answer(true));
}

void ShellTest::TitleIsTheExecutableNameCapitalised() {
    QCOMPARE(TApplication::TitleFromExecutable(QStringLiteral("Kivutil.exe")),
             QStringLiteral("Kivutil"));
    QCOMPARE(TApplication::TitleFromExecutable(QStringLiteral("KIVUTIL.EXE")),
             QStringLiteral("Kivutil"));
    QCOMPARE(TApplication::TitleFromExecutable(QStringLiteral("kiv.util.exe")),
             QStringLiteral("kiv"));
    QCOMPARE(TApplication::TitleFromExecutable(QStringLiteral("/usr/local/bin/Kivutil")),
             QStringLiteral("Kivutil"));
    QCOMPARE(TApplication::TitleFromExecutable(QStringLiteral("C:\\Tools\\KivUtil.exe")),
             QStringLiteral("Kivutil"));
    QCOMPARE(TApplication::TitleFromExecutable(QStringLiteral("/odd.dir/x")), QStringLiteral("x"));
}

void ShellTest::EditorIsShownHiddenAndShownAgainWithItsState() {
    Tool tool;
    MainForm->show();
    MainForm->S16Editor1->trigger();
    QVERIFY(EditForm->isVisible());
    QVERIFY(!EditForm->isModal());
    QVERIFY(MainForm->isEnabled());

    EditForm->IconsLbl->SetCaption(QStringLiteral("Icons 12"));
    EditForm->IconUpDown->SetPosition(7);
    kiv::Image picture(3, 2);
    picture.Fill(kiv::clAqua);
    EditForm->Image1->SetPicture(picture);

    MainForm->S16Editor1->trigger(); // already shown: only brought to the front
    QVERIFY(EditForm->isVisible());
    EditForm->showMinimized();
    MainForm->S16Editor1->trigger(); // minimised: restored
    QVERIFY(!EditForm->isMinimized());

    QVERIFY(!EditForm->close()); // closing only hides
    QVERIFY(!EditForm->isVisible());
    QVERIFY(MainForm->isVisible());

    MainForm->S16Editor1->trigger();
    QVERIFY(EditForm->isVisible());
    QCOMPARE(EditForm->IconsLbl->Caption(), QStringLiteral("Icons 12"));
    QCOMPARE(EditForm->IconNumEdit->Text(), QStringLiteral("7"));
    QCOMPARE(EditForm->Image1->Picture(), picture);
}

void ShellTest::ResizingTheEditorFitsTheScrollBox() {
    Tool tool;
    TEditForm& form = *EditForm;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(QSize(form.OuterWidth(), form.OuterHeight()), QSize(644, 480));
    QCOMPARE(form.ImageSB->size(), QSize(509, 449));

    form.SetWindowBounds(164, 150, 744, 480);
    QCOMPARE(form.ImageSB->size(), QSize(609, 449));
    form.SetWindowBounds(164, 150, 744, 600);
    QCOMPARE(form.ImageSB->size(), QSize(609, 569));
    // No other control moves.
    QCOMPARE(form.ImageSB->pos(), QPoint(form.Scaled(125), 0));
    QCOMPARE(form.ShowBtn->geometry(), Laid(&form, 8, 104, 105, 25));

    // A frame of a caption bar without side borders is known, and fitted like any other.
    QCOMPARE(TForm::FittedClientSize({644, 480}, {0, 24}), std::optional(QSize(644, 456)));
    QCOMPARE(TForm::FittedClientSize({629, 593}, {2, 25}), std::optional(QSize(627, 568)));
    QCOMPARE(TForm::FittedClientSize({644, 480}, {0, 0}), std::nullopt);
}

void ShellTest::BrowserActivationRunsOnlyWhenComingFromTheEditor() {
    Tool tool;
    int activations = 0;
    auto bound = MainForm->OnActivate;
    MainForm->OnActivate = [&](QObject* sender) {
        ++activations;
        bound(sender);
    };
    auto activate = [](QWidget* window) {
        window->show();
        window->activateWindow();
        return QTest::qWaitForWindowActive(window);
    };

    QVERIFY(activate(MainForm));
    QCOMPARE(activations, 1);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(MainForm->InfoGrid));

    QVERIFY(activate(EditForm));
    QCOMPARE(activations, 1);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(EditForm->Loads16Btn));
    QVERIFY(activate(MainForm));
    QCOMPARE(activations, 2);

    // Another program's window, then back: no activation.
    QWidget elsewhere;
    elsewhere.resize(100, 100);
    QVERIFY(activate(&elsewhere));
    QVERIFY(activate(MainForm));
    QCOMPARE(activations, 2);

    QVERIFY(activate(EditForm));
    QVERIFY(activate(&elsewhere));
    QVERIFY(activate(MainForm));
    QCOMPARE(activations, 3);
}

void ShellTest::TheProgramStartsAndEndsWithExitCodeZero() {
    kivtest::ScratchDir dir; // no archive here: the first listing reports it and goes on
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
    // The termination request is held back until the program is ready to take it.
    program.setChildProcessModifier([] {
        sigset_t held;
        sigemptyset(&held);
        sigaddset(&held, SIGTERM);
        sigprocmask(SIG_BLOCK, &held, nullptr);
    });
    program.start(QStringLiteral(KIVUTIL_EXE), {});
    QVERIFY(program.waitForStarted());
    program.terminate();
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

void ShellTest::AFileNamedAtStartOpensInItsWindow() {
    using kivtest::ArchiveBuilder;
    using kivtest::SpriteBuilder;
    const auto sprite = SpriteBuilder().Raw(1, 1, 0, 0, 1, 1, {1}).Raw(1, 1, 0, 0, 1, 1, {2});
    {
        Tool tool; // an archive: listed instead of "Modgen.dat", which is never read
        kivtest::WriteFile("Modgen.dat", ArchiveBuilder().Member("m.s16", {}).Build());
        kivtest::WriteFile("other.dat", ArchiveBuilder()
                                            .Member("a.s16", sprite.Build())
                                            .Member("b.s16", sprite.Build())
                                            .Build());
        OpenStartupFile(QStringLiteral("other.dat"));
        MainForm->FormActivate(MainForm);
        QCOMPARE(MainForm->GridLbl->Caption(), QStringLiteral("2 Files"));
        QCOMPARE(MainForm->InfoGrid->Cells(0, 2), QStringLiteral("b.s16"));
        QVERIFY(!EditForm->isVisible());
    }
    {
        Tool tool; // a sprite file, in either case: the editor on it, the usual listing behind
        kivtest::WriteFile("Modgen.dat", ArchiveBuilder().Member("m.s16", {}).Build());
        kivtest::WriteFile("Two.S17", sprite.Build());
        OpenStartupFile(QStringLiteral("Two.S17"));
        QCOMPARE(MainForm->GridLbl->Caption(), QStringLiteral("1 Files"));
        QVERIFY(EditForm->isVisible());
        QCOMPARE(EditForm->IconsLbl->Caption(), QStringLiteral("Icons 2"));
        QCOMPARE(S16Ed::IconTable.Path, tool.dir.File("Two.S17"));
        QCOMPARE(EditForm->PictureLbl->text(), QStringLiteral("icon 1 of Two.S17"));

        // Painted and not written: closing the browser asks, and No keeps both windows.
        QuitWhenBrowserCloses();
        MainForm->show();
        EditForm->Image1MouseDown(EditForm->Image1, Qt::LeftButton, QPoint(0, 0));
        EditForm->Image1MouseUp(EditForm->Image1, Qt::LeftButton, QPoint(0, 0));
        EditForm->hide();
        QVERIFY(!MainForm->close());
        QVERIFY(MainForm->isVisible());
        QVERIFY(EditForm->isVisible());
        QCOMPARE(tool.dialogs.Texts(),
                 QStringList{QStringLiteral("The S16 Editor's picture holds painting not yet "
                                            "written (icon 1 of Two.S17). Quit anyway?")});
    }
    {
        // A file opened from elsewhere: the archive beside it is listed and a member is
        // extracted beside it (the scratch folder puts the current folder back).
        Tool tool;
        std::filesystem::create_directory("gui");
        kivtest::WriteFile("gui/Modgen.dat", ArchiveBuilder().Member("c.s16", {7}).Build());
        kivtest::WriteFile("gui/hero.s16", sprite.Build());
        OpenStartupFile(EnterFolderOf(QStringLiteral("gui/hero.s16")));
        QVERIFY(MainForm->InfoGrid->SelectCell(0, 1));
        MainForm->ExtractBtn->click();
        QCOMPARE(kivtest::ReadFile(tool.dir.File("gui/c.s16")), kivtest::Bytes{7});
    }
    {
        Tool tool; // files that do not open: each window's own message
        OpenStartupFile(QStringLiteral("gone.dat"));
        OpenStartupFile(QStringLiteral("gone.s16"));
        QCOMPARE(tool.dialogs.Texts(),
                 (QStringList{QStringLiteral("Main data file not found."),
                              QStringLiteral("Could not open ") +
                                  QString::fromStdString(tool.dir.File("gone.s16"))}));
    }
}

// The program's own application object, whose guard takes errors outside any handler.
int main(int argc, char* argv[]) {
    TGuardedApplication application(argc, argv);
    application.setAttribute(Qt::AA_Use96Dpi, true);
    ShellTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "shell_test.moc"

// The browser window's layout: every control with its place, caption and handler.

#include "KivUt1.h"

#include "WindowTexts.h"

#include "vcl/Application.h"

#include <QEvent>

TMainForm::TMainForm(QWidget* owner) : TForm(owner) {
    BuildLayout();
}

TMainForm::~TMainForm() {
    delete OpenDialog1;
    OpenDialog1 = nullptr;
}

bool TMainForm::event(QEvent* event) {
    // Activation as the tool's active window raises OnActivate (TForm), bound below.
    return TForm::event(event);
}

void TMainForm::LayOutHeaderGrid() {
    HeaderGrid->SetColCount(5);
    HeaderGrid->SetRowCount(12);
    HeaderGrid->SetFixedCols(1);
    HeaderGrid->SetFixedRows(1);
    HeaderGrid->SetDefaultColWidth(Scaled(48));
    HeaderGrid->SetDefaultRowHeight(Scaled(24));
    HeaderGrid->SetColWidths(0, Scaled(48));
    HeaderGrid->SetColWidths(1, Scaled(67));
    HeaderGrid->SetColWidths(2, Scaled(73));
    HeaderGrid->SetColWidths(3, Scaled(62));
    HeaderGrid->SetColWidths(4, Scaled(74));
    HeaderGrid->ResetCurrentCell();
}

void TMainForm::LayOutInfoGrid() {
    InfoGrid->SetColCount(3);
    InfoGrid->SetRowCount(5);
    InfoGrid->SetFixedCols(0);
    InfoGrid->SetFixedRows(1);
    InfoGrid->SetDefaultColWidth(Scaled(64));
    InfoGrid->SetDefaultRowHeight(Scaled(24));
    InfoGrid->SetColWidths(0, Scaled(133));
    InfoGrid->SetColWidths(1, Scaled(72));
    InfoGrid->SetColWidths(2, Scaled(73));
    InfoGrid->ResetCurrentCell();
}

void TMainForm::BuildLayout() {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(BrowserText::WindowTitle);
    SetWindowBounds(75, 115, 629, 593);
    QWidget* client = Client();

    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    File = MainMenu1->addMenu(BrowserText::FileMenu);
    File->setObjectName(QStringLiteral("File"));
    LoadDataFile1 = File->addAction(BrowserText::LoadDataFileItem);
    LoadDataFile1->setObjectName(QStringLiteral("LoadDataFile1"));

    InfoGrid = new TStringGrid(client);
    InfoGrid->setObjectName(QStringLiteral("InfoGrid"));
    SetBounds(InfoGrid, 312, 48, 297, 489);
    LayOutInfoGrid();

    GridLbl = new TLabel(client);
    GridLbl->setObjectName(QStringLiteral("GridLbl"));
    SetBounds(GridLbl, 320, 16, 27, 20);
    GridLbl->SetCaption(BrowserText::NoCount);

    IconsNumberLbl = new TLabel(client);
    IconsNumberLbl->setObjectName(QStringLiteral("IconsNumberLbl"));
    SetBounds(IconsNumberLbl, 8, 176, 45, 20);
    IconsNumberLbl->SetCaption(BrowserText::IconsLabel);

    FileLbl = new TLabel(client);
    FileLbl->setObjectName(QStringLiteral("FileLbl"));
    SetBounds(FileLbl, 8, 152, 32, 20);
    FileLbl->SetCaption(BrowserText::FileLabel);

    HeaderGrid = new TStringGrid(client);
    HeaderGrid->setObjectName(QStringLiteral("HeaderGrid"));
    SetBounds(HeaderGrid, 8, 216, 289, 321);
    LayOutHeaderGrid();

    IconImage = new TImage(client);
    IconImage->setObjectName(QStringLiteral("IconImage"));
    SetBounds(IconImage, 8, 16, 257, 129);

    ExtractBtn = new TButton(client);
    ExtractBtn->setObjectName(QStringLiteral("ExtractBtn"));
    SetBounds(ExtractBtn, 200, 152, 75, 25);
    ExtractBtn->SetCaption(BrowserText::Extract);

    Tools1 = MainMenu1->addMenu(BrowserText::ToolsMenu);
    Tools1->setObjectName(QStringLiteral("Tools1"));
    S16Editor1 = Tools1->addAction(BrowserText::S16EditorItem);
    S16Editor1->setObjectName(QStringLiteral("S16Editor1"));
    ApplyMod1 = Tools1->addAction(BrowserText::ApplyModItem);
    ApplyMod1->setObjectName(QStringLiteral("ApplyMod1"));
    PlayIcons1 = Tools1->addAction(BrowserText::PlayIconsItem);
    PlayIcons1->setObjectName(QStringLiteral("PlayIcons1"));

    TestBtn = new TButton(client);
    TestBtn->setObjectName(QStringLiteral("TestBtn"));
    SetBounds(TestBtn, 504, 8, 75, 25);
    TestBtn->SetCaption(BrowserText::Test);

    OpenDialog1 = new TOpenDialog;

    ReplaceBtn = new TButton(client);
    ReplaceBtn->setObjectName(QStringLiteral("ReplaceBtn"));
    SetBounds(ReplaceBtn, 200, 184, 75, 25);
    ReplaceBtn->SetCaption(BrowserText::Replace);

    QWidget::setTabOrder(InfoGrid, HeaderGrid);
    QWidget::setTabOrder(HeaderGrid, ExtractBtn);
    QWidget::setTabOrder(ExtractBtn, TestBtn);
    QWidget::setTabOrder(TestBtn, ReplaceBtn);

    BindEvents();
}

void TMainForm::BindEvents() {
    // Each event runs its one handler inside the guard.
    OnActivate = [this](QObject* sender) { TApplication::Guard([&] { FormActivate(sender); }); };
    connect(LoadDataFile1, &QAction::triggered, this,
            [this] { TApplication::Guard([&] { LoadDataFile1Click(LoadDataFile1); }); });
    connect(S16Editor1, &QAction::triggered, this,
            [this] { TApplication::Guard([&] { S16Editor1Click(S16Editor1); }); });
    InfoGrid->OnSelectCell = [this](QObject* sender, int col, int row, bool& canSelect) {
        TApplication::Guard([&] { InfoGridSelectCell(sender, col, row, canSelect); });
    };
    HeaderGrid->OnSelectCell = [this](QObject* sender, int col, int row, bool& canSelect) {
        TApplication::Guard([&] { HeaderGridSelectCell(sender, col, row, canSelect); });
    };
    connect(ApplyMod1, &QAction::triggered, this,
            [this] { TApplication::Guard([&] { ApplyMod1Click(ApplyMod1); }); });
    connect(PlayIcons1, &QAction::triggered, this,
            [this] { TApplication::Guard([&] { PlayIcons1Click(PlayIcons1); }); });
    connect(ExtractBtn, &QPushButton::clicked, this,
            [this] { TApplication::Guard([&] { ExtractBtnClick(ExtractBtn); }); });
    connect(TestBtn, &QPushButton::clicked, this,
            [this] { TApplication::Guard([&] { TestBtnClick(TestBtn); }); });
    connect(ReplaceBtn, &QPushButton::clicked, this,
            [this] { TApplication::Guard([&] { ReplaceBtnClick(ReplaceBtn); }); });
}

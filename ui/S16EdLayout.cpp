// The editor window's layout: every control with its place, caption and handler.

#include "S16Ed.h"

#include "AnimFm.h"

#include "vcl/Application.h"

#include "sprite/S16Format.h"

#include <QCloseEvent>
#include <QFile>
#include <QKeySequence>
#include <QResizeEvent>
#include <QShortcut>
#include <QTimer>

TEditForm::TEditForm(QWidget* owner) : TForm(owner) {
    BuildLayout();
    // The Animation window plays the editor's unwritten paint in place of its icon, and its
    // double click shows an icon here when this file is loaded.
    TAnimForm::LiveFrame = [this](const std::string& path, int index) {
        return LiveIcon(QFile::decodeName(QByteArray::fromStdString(path)), index);
    };
    TAnimForm::ShowInEditor = [this](const std::string& path, int index) {
        const QString sprite = QFile::decodeName(QByteArray::fromStdString(path));
        if (S16Ed::IconTable.Path.empty() ||
            !SameSprite(QFile::decodeName(QByteArray::fromStdString(S16Ed::IconTable.Path)),
                        sprite))
            return false;
        IconUpDown->SetPosition(index + 1);
        ShowBtnClick(ShowBtn);
        show();
        raise();
        return true;
    };
}

TEditForm::~TEditForm() {
    TAnimForm::LiveFrame = nullptr;
    TAnimForm::ShowInEditor = nullptr;
    delete OpenDialog1;
    OpenDialog1 = nullptr;
    delete SaveDialog1;
    SaveDialog1 = nullptr;
}

void TEditForm::resizeEvent(QResizeEvent* event) {
    TForm::resizeEvent(event);
    if (ImageSB)
        TApplication::Guard([&] { FormResize(this); });
}

void TEditForm::closeEvent(QCloseEvent* event) {
    // Closing only hides: controls, picture and module state stay for the next showing.
    event->ignore();
    hide();
}

void TEditForm::BuildLayout() {
    setObjectName(QStringLiteral("EditForm"));
    setWindowTitle(QStringLiteral("S16 Editor"));
    SetWindowBounds(164, 150, 644, 480);
    QWidget* client = Client();

    ImageSB = new TScrollBox(client);
    ImageSB->setObjectName(QStringLiteral("ImageSB"));
    SetBounds(ImageSB, 125, 0, 505, 449);

    Image1 = new TImage;
    Image1->setObjectName(QStringLiteral("Image1"));
    ImageSB->setWidget(Image1);
    Image1->setGeometry(Scaled(0), Scaled(0), Scaled(640), Scaled(480));
    Image1->setFocusPolicy(Qt::ClickFocus);
    Image1->PixelHint = [this](QPoint pixel) {
        return QStringLiteral("x %1 y %2, ").arg(pixel.x()).arg(pixel.y()) +
               QString::fromStdString(
                   kiv::PixelColorText(Image1->Picture().Pixel(pixel.x(), pixel.y())));
    };

    OpenDialog1 = new TOpenDialog;

    Loads16Btn = new TButton(client);
    Loads16Btn->setObjectName(QStringLiteral("Loads16Btn"));
    SetBounds(Loads16Btn, 8, 72, 105, 25);
    Loads16Btn->SetCaption(QStringLiteral("Load S16"));

    IconNumEdit = new TEdit(client);
    IconNumEdit->setObjectName(QStringLiteral("IconNumEdit"));
    SetBounds(IconNumEdit, 56, 168, 41, 28);
    IconNumEdit->SetText(QStringLiteral("1"));

    IconUpDown = new TUpDown(client);
    IconUpDown->setObjectName(QStringLiteral("IconUpDown"));
    SetBounds(IconUpDown, 97, 168, 15, 28);
    IconUpDown->SetMin(1);
    IconUpDown->SetMax(100);
    IconUpDown->SetAssociate(IconNumEdit);
    IconUpDown->SetPosition(1);

    IconLbl = new TLabel(client);
    IconLbl->setObjectName(QStringLiteral("IconLbl"));
    SetBounds(IconLbl, 8, 176, 44, 20);
    IconLbl->SetCaption(QStringLiteral("Icon #"));

    NameLbl = new TLabel(client);
    NameLbl->setObjectName(QStringLiteral("NameLbl"));
    NameLbl->setFont(WindowFont(-13));
    SetBounds(NameLbl, 8, 8, 33, 16);
    NameLbl->SetCaption(QStringLiteral("None"));

    IconsLbl = new TLabel(client);
    IconsLbl->setObjectName(QStringLiteral("IconsLbl"));
    SetBounds(IconsLbl, 8, 32, 53, 20);
    IconsLbl->SetCaption(QStringLiteral("Icons ?"));

    CollageBtn = new TButton(client);
    CollageBtn->setObjectName(QStringLiteral("CollageBtn"));
    SetBounds(CollageBtn, 8, 136, 105, 25);
    CollageBtn->SetCaption(QStringLiteral("Collage"));

    ShowBtn = new TButton(client);
    ShowBtn->setObjectName(QStringLiteral("ShowBtn"));
    SetBounds(ShowBtn, 8, 104, 105, 25);
    ShowBtn->SetCaption(QStringLiteral("Show"));

    BmpSaveBtn = new TButton(client);
    BmpSaveBtn->setObjectName(QStringLiteral("BmpSaveBtn"));
    SetBounds(BmpSaveBtn, 8, 208, 105, 25);
    BmpSaveBtn->SetCaption(QStringLiteral("Bmp Save"));

    SaveDialog1 = new TSaveDialog;

    BmpLoadBtn = new TButton(client);
    BmpLoadBtn->setObjectName(QStringLiteral("BmpLoadBtn"));
    SetBounds(BmpLoadBtn, 8, 240, 105, 25);
    BmpLoadBtn->SetCaption(QStringLiteral("Bmp Load"));

    ReplaceBtn = new TButton(client);
    ReplaceBtn->setObjectName(QStringLiteral("ReplaceBtn"));
    SetBounds(ReplaceBtn, 8, 272, 105, 25);
    ReplaceBtn->SetCaption(QStringLiteral("Replace"));

    // In the free space of the button column, below what the window had.
    ExternalEditBtn = new TButton(client);
    ExternalEditBtn->setObjectName(QStringLiteral("ExternalEditBtn"));
    SetBounds(ExternalEditBtn, 8, 304, 105, 25);
    ExternalEditBtn->SetCaption(QStringLiteral("External Edit"));

    PlayBtn = new TButton(client);
    PlayBtn->setObjectName(QStringLiteral("PlayBtn"));
    SetBounds(PlayBtn, 8, 336, 105, 25);
    PlayBtn->SetCaption(QStringLiteral("Play"));

    WatchTimer = new QTimer(this);
    WatchTimer->setObjectName(QStringLiteral("WatchTimer"));
    WatchTimer->setInterval(100);

    PictureLbl = new TLabel(client);
    PictureLbl->setObjectName(QStringLiteral("PictureLbl"));
    PictureLbl->setWordWrap(true);
    PictureLbl->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    SetBounds(PictureLbl, 8, 368, 105, 76);
    ShowPictureState();

    QWidget::setTabOrder(Loads16Btn, IconNumEdit);
    QWidget::setTabOrder(IconNumEdit, CollageBtn);
    QWidget::setTabOrder(CollageBtn, ShowBtn);
    QWidget::setTabOrder(ShowBtn, BmpSaveBtn);
    QWidget::setTabOrder(BmpSaveBtn, BmpLoadBtn);
    QWidget::setTabOrder(BmpLoadBtn, ReplaceBtn);
    QWidget::setTabOrder(ReplaceBtn, ExternalEditBtn);
    QWidget::setTabOrder(ExternalEditBtn, PlayBtn);

    // Each event runs its one handler inside the guard (FormResize: resizeEvent above).
    connect(Loads16Btn, &QPushButton::clicked, this,
            [this] { TApplication::Guard([&] { Loads16BtnClick(Loads16Btn); }); });
    connect(ShowBtn, &QPushButton::clicked, this,
            [this] { TApplication::Guard([&] { ShowBtnClick(ShowBtn); }); });
    connect(CollageBtn, &QPushButton::clicked, this,
            [this] { TApplication::Guard([&] { CollageBtnClick(CollageBtn); }); });
    connect(BmpSaveBtn, &QPushButton::clicked, this,
            [this] { TApplication::Guard([&] { BmpSaveBtnClick(BmpSaveBtn); }); });
    connect(BmpLoadBtn, &QPushButton::clicked, this,
            [this] { TApplication::Guard([&] { BmpLoadBtnClick(BmpLoadBtn); }); });
    connect(ReplaceBtn, &QPushButton::clicked, this,
            [this] { TApplication::Guard([&] { ReplaceBtnClick(ReplaceBtn); }); });
    connect(ExternalEditBtn, &QPushButton::clicked, this,
            [this] { TApplication::Guard([&] { ExternalEditBtnClick(ExternalEditBtn); }); });
    connect(PlayBtn, &QPushButton::clicked, this,
            [this] { TApplication::Guard([&] { PlayBtnClick(PlayBtn); }); });
    connect(WatchTimer, &QTimer::timeout, this,
            [this] { TApplication::Guard([&] { WatchTimerTimer(WatchTimer); }); });
    connect(Image1, &TImage::MouseDown, this, [this](Qt::MouseButton button, QPoint pixel) {
        TApplication::Guard([&] { Image1MouseDown(Image1, button, pixel); });
    });
    connect(Image1, &TImage::MouseMove, this, [this](Qt::MouseButtons buttons, QPoint pixel) {
        TApplication::Guard([&] { Image1MouseMove(Image1, buttons, pixel); });
    });
    connect(Image1, &TImage::MouseUp, this, [this](Qt::MouseButton button, QPoint pixel) {
        TApplication::Guard([&] { Image1MouseUp(Image1, button, pixel); });
    });
    connect(Image1, &TImage::DblClick, this, [this](QMouseEvent* event, QPoint pixel) {
        TApplication::Guard([&] { Image1DblClick(Image1, event, pixel); });
    });
    connect(Image1, &TImage::KeyDown, this,
            [this](QKeyEvent* key) { TApplication::Guard([&] { Image1KeyDown(Image1, key); }); });

    // The painting keys work wherever the focus is in the window; the icon number box, while
    // it has the focus, keeps its own Ctrl+Z and letters.
    const auto windowKey = [this](QKeySequence keys, auto handler) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this,
                [handler] { TApplication::Guard([&] { handler(); }); });
    };
    windowKey(QKeySequence(Qt::CTRL | Qt::Key_Z), [this] { UndoPicture(true); });
    windowKey(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), [this] { UndoPicture(false); });
    windowKey(QKeySequence(Qt::CTRL | Qt::Key_Y), [this] { UndoPicture(false); });
    for (const QKeySequence& grid : {QKeySequence(Qt::Key_G), QKeySequence(Qt::SHIFT | Qt::Key_G)})
        windowKey(grid, [this] {
            if (Image1->Zoom() >= TImage::GridMinZoom)
                Image1->SetGrid(!Image1->Grid());
        });
    windowKey(QKeySequence(Qt::CTRL | Qt::Key_E),
              [this] { ExternalEditBtnClick(ExternalEditBtn); });
    windowKey(QKeySequence(Qt::CTRL | Qt::Key_P), [this] { PlayBtnClick(PlayBtn); });
    windowKey(QKeySequence(Qt::Key_O), [this] { ToggleOnionSkin(false); });
    windowKey(QKeySequence(Qt::SHIFT | Qt::Key_O), [this] { ToggleOnionSkin(true); });
}

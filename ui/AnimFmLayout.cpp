// The Animation window's layout: every control with its place, caption and handler.

#include "AnimFm.h"

#include "vcl/Application.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalBlocker>

TAnimForm::TAnimForm(QWidget* owner) : TForm(owner) {
    BuildLayout();
}

TAnimForm::~TAnimForm() = default;

namespace {

QComboBox* NewCombo(QWidget* parent, const char* name, const QStringList& items) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->addItems(items);
    // The window's keys (Space, arrows, Home, End) stay the window's.
    combo->setFocusPolicy(Qt::NoFocus);
    return combo;
}

} // namespace

void TAnimForm::BuildLayout() {
    setObjectName(QStringLiteral("AnimForm"));
    setWindowTitle(QStringLiteral("Animation"));
    SetWindowBounds(200, 170, 644, 520);
    QWidget* client = Client();

    ViewSB = new TScrollBox(client);
    ViewSB->setObjectName(QStringLiteral("ViewSB"));
    SetBounds(ViewSB, 125, 0, 505, 489);

    AnimImage = new TImage;
    AnimImage->setObjectName(QStringLiteral("AnimImage"));
    ViewSB->setWidget(AnimImage);
    AnimImage->setGeometry(0, 0, Scaled(640), Scaled(480));
    AnimImage->setFocusPolicy(Qt::StrongFocus); // for the window's keys
    AnimImage->SetHint(QStringLiteral("Space: play or pause; Left, Right: step; Home, End: "
                                      "first, last; double click: show in the editor"));

    SpriteLbl = new TLabel(client);
    SpriteLbl->setObjectName(QStringLiteral("SpriteLbl"));
    SpriteLbl->setFont(WindowFont(-13));
    SetBounds(SpriteLbl, 8, 8, 33, 16);
    SpriteLbl->SetCaption(QStringLiteral("None"));

    FirstLbl = new TLabel(client);
    FirstLbl->setObjectName(QStringLiteral("FirstLbl"));
    SetBounds(FirstLbl, 8, 44, 40, 20);
    FirstLbl->SetCaption(QStringLiteral("First"));

    FirstEdit = new TEdit(client);
    FirstEdit->setObjectName(QStringLiteral("FirstEdit"));
    SetBounds(FirstEdit, 56, 40, 41, 28);

    FirstUpDown = new TUpDown(client);
    FirstUpDown->setObjectName(QStringLiteral("FirstUpDown"));
    SetBounds(FirstUpDown, 97, 40, 15, 28);
    FirstUpDown->SetMin(1);
    FirstUpDown->SetMax(1);
    FirstUpDown->SetAssociate(FirstEdit);
    FirstUpDown->SetPosition(1);

    LastLbl = new TLabel(client);
    LastLbl->setObjectName(QStringLiteral("LastLbl"));
    SetBounds(LastLbl, 8, 80, 40, 20);
    LastLbl->SetCaption(QStringLiteral("Last"));

    LastEdit = new TEdit(client);
    LastEdit->setObjectName(QStringLiteral("LastEdit"));
    SetBounds(LastEdit, 56, 76, 41, 28);

    LastUpDown = new TUpDown(client);
    LastUpDown->setObjectName(QStringLiteral("LastUpDown"));
    SetBounds(LastUpDown, 97, 76, 15, 28);
    LastUpDown->SetMin(1);
    LastUpDown->SetMax(1);
    LastUpDown->SetAssociate(LastEdit);
    LastUpDown->SetPosition(1);

    PlayPauseBtn = new TButton(client);
    PlayPauseBtn->setObjectName(QStringLiteral("PlayPauseBtn"));
    SetBounds(PlayPauseBtn, 8, 114, 105, 25);
    PlayPauseBtn->SetCaption(QStringLiteral("Play"));
    PlayPauseBtn->setFocusPolicy(Qt::NoFocus);

    FpsLbl = new TLabel(client);
    FpsLbl->setObjectName(QStringLiteral("FpsLbl"));
    SetBounds(FpsLbl, 8, 154, 44, 20);
    FpsLbl->SetCaption(QStringLiteral("Fps"));

    FpsEdit = new TEdit(client);
    FpsEdit->setObjectName(QStringLiteral("FpsEdit"));
    SetBounds(FpsEdit, 56, 150, 41, 28);

    FpsUpDown = new TUpDown(client);
    FpsUpDown->setObjectName(QStringLiteral("FpsUpDown"));
    SetBounds(FpsUpDown, 97, 150, 15, 28);
    FpsUpDown->SetMin(1);
    FpsUpDown->SetMax(60);
    FpsUpDown->SetAssociate(FpsEdit);
    FpsUpDown->SetPosition(10);

    ModeLbl = new TLabel(client);
    ModeLbl->setObjectName(QStringLiteral("ModeLbl"));
    SetBounds(ModeLbl, 8, 186, 44, 20);
    ModeLbl->SetCaption(QStringLiteral("Mode"));
    // In the order of kiv::PlayMode.
    ModeCombo = NewCombo(
        client, "ModeCombo",
        {QStringLiteral("Loop"), QStringLiteral("Back and forth"), QStringLiteral("Once")});
    SetBounds(ModeCombo, 8, 208, 105, 28);

    ZoomLbl = new TLabel(client);
    ZoomLbl->setObjectName(QStringLiteral("ZoomLbl"));
    SetBounds(ZoomLbl, 8, 244, 44, 20);
    ZoomLbl->SetCaption(QStringLiteral("Zoom"));
    QStringList zooms;
    for (int k = 1; k <= TImage::MaxZoom; ++k)
        zooms << QString::number(k) + QStringLiteral("x");
    ZoomCombo = NewCombo(client, "ZoomCombo", zooms);
    SetBounds(ZoomCombo, 8, 266, 105, 28);

    BackgroundLbl = new TLabel(client);
    BackgroundLbl->setObjectName(QStringLiteral("BackgroundLbl"));
    SetBounds(BackgroundLbl, 8, 302, 90, 20);
    BackgroundLbl->SetCaption(QStringLiteral("Background"));
    BackgroundCombo = NewCombo(client, "BackgroundCombo",
                               {QStringLiteral("Checkerboard"), QStringLiteral("Background colour"),
                                QStringLiteral("Black")});
    SetBounds(BackgroundCombo, 8, 324, 105, 28);

    IconLbl = new TLabel(client);
    IconLbl->setObjectName(QStringLiteral("IconLbl"));
    SetBounds(IconLbl, 8, 364, 60, 20);
    IconLbl->SetCaption(QStringLiteral("Icon ?"));

    PlayTimer = new QTimer(this);
    PlayTimer->setObjectName(QStringLiteral("PlayTimer"));
    PlayTimer->setSingleShot(true);
    PlayTimer->setTimerType(Qt::PreciseTimer);

    QWidget::setTabOrder(FirstEdit, LastEdit);
    QWidget::setTabOrder(LastEdit, FpsEdit);
    QWidget::setTabOrder(FpsEdit, AnimImage);

    // Each event runs its one handler inside the guard.
    connect(PlayPauseBtn, &QPushButton::clicked, this,
            [this] { TApplication::Guard([&] { PlayPauseBtnClick(PlayPauseBtn); }); });
    connect(PlayTimer, &QTimer::timeout, this,
            [this] { TApplication::Guard([&] { PlayTimerTimer(PlayTimer); }); });
    // The up-downs set their buddies' texts, so a step and a typed number both come here.
    connect(FirstEdit, &QLineEdit::textChanged, this,
            [this] { TApplication::Guard([&] { RangeEditChange(FirstEdit); }); });
    connect(LastEdit, &QLineEdit::textChanged, this,
            [this] { TApplication::Guard([&] { RangeEditChange(LastEdit); }); });
    connect(FpsEdit, &QLineEdit::textChanged, this,
            [this] { TApplication::Guard([&] { FpsEditChange(FpsEdit); }); });
    connect(ModeCombo, &QComboBox::currentIndexChanged, this,
            [this] { TApplication::Guard([&] { ModeComboChange(ModeCombo); }); });
    connect(ZoomCombo, &QComboBox::currentIndexChanged, this,
            [this] { TApplication::Guard([&] { ZoomComboChange(ZoomCombo); }); });
    // The combo follows a zoom made on the view itself (Ctrl + wheel, Ctrl + "+").
    connect(AnimImage, &TImage::ZoomChanged, this, [this](int zoom) {
        const QSignalBlocker quiet(ZoomCombo);
        ZoomCombo->setCurrentIndex(zoom - 1);
    });
    connect(BackgroundCombo, &QComboBox::currentIndexChanged, this,
            [this] { TApplication::Guard([&] { BackgroundComboChange(BackgroundCombo); }); });
    connect(AnimImage, &TImage::DblClick, this, [this](QMouseEvent* event, QPoint pixel) {
        TApplication::Guard([&] { AnimImageDblClick(AnimImage, event, pixel); });
    });
    connect(AnimImage, &TImage::KeyDown, this, [this](QKeyEvent* key) {
        TApplication::Guard([&] {
            if (HandleKey(key->key()))
                key->accept();
        });
    });
}

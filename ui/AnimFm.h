#pragma once
// The Animation window: a sprite's icons FIRST to LAST played as their whole frames.

#include "vcl/Controls.h"
#include "vcl/Forms.h"

#include "image/Image.h"
#include "sprite/Animation.h"
#include "sprite/S16Format.h"

#include <QComboBox>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class TAnimForm : public TForm {
    Q_OBJECT
public:
    explicit TAnimForm(QWidget* owner = nullptr);
    ~TAnimForm() override;

    TScrollBox* ViewSB = nullptr;
    TImage* AnimImage = nullptr;
    TLabel* FirstLbl = nullptr;
    TEdit* FirstEdit = nullptr;
    TUpDown* FirstUpDown = nullptr;
    TLabel* LastLbl = nullptr;
    TEdit* LastEdit = nullptr;
    TUpDown* LastUpDown = nullptr;
    TButton* PlayPauseBtn = nullptr;
    TLabel* FpsLbl = nullptr;
    TEdit* FpsEdit = nullptr;
    TUpDown* FpsUpDown = nullptr;
    TLabel* ModeLbl = nullptr;
    QComboBox* ModeCombo = nullptr; // "Loop", "Back and forth", "Once"
    TLabel* ZoomLbl = nullptr;
    QComboBox* ZoomCombo = nullptr; // "1x" to "16x"
    TLabel* BackgroundLbl = nullptr;
    QComboBox* BackgroundCombo = nullptr; // "Checkerboard", "Background colour", "Black"
    TLabel* IconLbl = nullptr;            // "Icon N": the icon on show
    TLabel* SpriteLbl = nullptr;          // what is played
    QTimer* PlayTimer = nullptr;

    // Opens a sprite file and shows icon `firstIndex` (0-based), the run of the following
    // icons of its frame size as FIRST to LAST; paused. Read afresh on every call.
    void OpenSprite(const QString& spritePath, int firstIndex);
    // The same for a member read inside its archive: the member that starts at `start`.
    void OpenMember(const QString& archivePath, std::uint32_t start, const QString& memberName,
                    int firstIndex);

    // Asked at each frame drawn, with the path the animation reads and the icon (0-based):
    // a picture returned is drawn in place of that icon (an edit not yet written).
    static std::function<const kiv::Image*(const std::string& spritePath, int index)> LiveFrame;
    // A double click on the view pauses, then asks this to show the icon in the editor.
    static std::function<bool(const std::string& spritePath, int index)> ShowInEditor;

    bool Playing() const { return playing_; }
    int ShownIndex() const { return shown_; } // 0-based icon on show; -1 when none
    const std::string& SpritePath() const { return table_.Path; }

    void PlayPauseBtnClick(QObject* Sender);
    void PlayTimerTimer(QObject* Sender);
    void RangeEditChange(QObject* Sender);
    void FpsEditChange(QObject* Sender);
    void ModeComboChange(QObject* Sender);
    void ZoomComboChange(QObject* Sender);
    void BackgroundComboChange(QObject* Sender);
    void AnimImageDblClick(QObject* Sender, QMouseEvent* Event, QPoint Pixel);
    // Space plays or pauses; Left and Right step back and forward, Home and End go to FIRST
    // and LAST (each pauses). False for any other key.
    bool HandleKey(int key);
    // One step along FIRST..LAST, round from either end.
    void Step(int steps);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildLayout(); // AnimFmLayout.cpp
    void Open(const kiv::TIconTable& table, const QString& shownName, int firstIndex);
    // FIRST and LAST as the up-downs hold them (0-based), frames decoded for them.
    void TakeRange();
    void SetPlaying(bool playing);
    void ShowFrame(int index);
    void ScheduleNext();
    std::chrono::microseconds FrameInterval() const;

    kiv::TIconTable table_;
    std::map<int, kiv::Image> frames_; // icon -> Show's picture, decoded once per sprite
    int first_ = 0, last_ = -1;
    std::vector<int> order_; // frames (from FIRST) of one pass
    std::size_t position_ = 0;
    int shown_ = -1;
    bool playing_ = false;
    bool quiet_ = false; // set while the window fills its own controls
    std::chrono::steady_clock::time_point start_;
    std::int64_t ticks_ = 0; // frames played since start_
};

// The one Animation window, made on first use.
extern TAnimForm* AnimForm;
TAnimForm* AnimFormInstance();

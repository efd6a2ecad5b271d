#include "AnimFm.h"

#include "archive/ArchiveDirectory.h"
#include "archive/MemberSummary.h"
#include "base/Errors.h"
#include "base/FileStream.h"
#include "sprite/IconPictures.h"
#include "vcl/Application.h"
#include "vcl/Dialogs.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>

TAnimForm* AnimForm = nullptr;

std::function<const kiv::Image*(const std::string&, int)> TAnimForm::LiveFrame;
std::function<bool(const std::string&, int)> TAnimForm::ShowInEditor;

TAnimForm* AnimFormInstance() {
    if (!AnimForm) {
        AnimForm = new TAnimForm;
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] {
            delete AnimForm;
            AnimForm = nullptr;
        });
    }
    return AnimForm;
}

namespace {

// Squares of the checkerboard behind transparent pixels, in picture pixels.
constexpr int kChecker = 8;

} // namespace

void TAnimForm::OpenSprite(const QString& spritePath, int firstIndex) {
    kiv::TIconTable table;
    const std::string path = QFile::encodeName(spritePath).toStdString();
    switch (kiv::ReadIconTable(path, table)) {
    case kiv::ReadTableResult::CannotOpen:
        ShowMessageBox(QString::fromLatin1(kiv::CannotOpenSpriteFile));
        return;
    case kiv::ReadTableResult::CountExceeded:
        ShowMessageBox(QString::fromLatin1(kiv::MaxIconsExceeded));
        break;
    case kiv::ReadTableResult::Loaded:
        break;
    }
    Open(table, spritePath, firstIndex);
}

void TAnimForm::OpenMember(const QString& archivePath, std::uint32_t start,
                           const QString& memberName, int firstIndex) {
    const std::string path = QFile::encodeName(archivePath).toStdString();
    const kiv::MemberSummary summary = kiv::SummariseMember(path, start);
    if (!summary.Opened) {
        ShowMessageBox(QString::fromLatin1(kiv::MainDataFileNotFound));
        return;
    }
    Open(kiv::MemberIconTable(path, start, summary), memberName, firstIndex);
}

void TAnimForm::Open(const kiv::TIconTable& table, const QString& shownName, int firstIndex) {
    SetPlaying(false);
    table_ = table;
    frames_.clear();
    first_ = 0;
    last_ = -1;
    shown_ = -1;
    SpriteLbl->SetCaption(shownName);
    AnimImage->SetPicture(kiv::Image());
    if (table_.Count <= 0) {
        IconLbl->SetCaption(QStringLiteral("No icons"));
        return;
    }
    const int first = std::clamp(firstIndex, 0, table_.Count - 1);
    const int last = kiv::RunEnd(table_, first);
    {
        const bool saved = quiet_;
        quiet_ = true;
        FirstUpDown->SetMax(table_.Count);
        LastUpDown->SetMax(table_.Count);
        FirstUpDown->SetPosition(first + 1);
        LastUpDown->SetPosition(last + 1);
        quiet_ = saved;
    }
    TakeRange();
}

void TAnimForm::TakeRange() {
    if (table_.Count <= 0)
        return;
    const int first = FirstUpDown->Position() - 1;
    const int last = std::max(first, LastUpDown->Position() - 1);
    const int wasShown = shown_;
    first_ = first;
    last_ = first - 1; // nothing to show until the frames are there
    // Frames already decoded stay; those of a range too large to keep with them go first.
    std::int64_t pixels = 0;
    for (const auto& [index, frame] : frames_)
        pixels += std::int64_t{frame.Width()} * frame.Height();
    for (int i = first; i <= last; ++i) {
        const kiv::TIconHeader& h = table_.Headers[static_cast<std::size_t>(i)];
        if (!frames_.count(i) && h.FWidth > 0 && h.FHeight > 0)
            pixels += std::int64_t{h.FWidth} * h.FHeight;
    }
    if (pixels > kiv::MaxAnimationPixels)
        std::erase_if(frames_,
                      [&](const auto& entry) { return entry.first < first || entry.first > last; });
    std::unique_ptr<kiv::InFile> file;
    for (int i = first; i <= last;) {
        if (frames_.count(i)) {
            ++i;
            continue;
        }
        int end = i;
        while (end + 1 <= last && !frames_.count(end + 1))
            ++end;
        if (!file) {
            file = kiv::InFile::Open(table_.Path);
            if (!file) {
                ShowMessageBox(QString::fromLatin1(table_.Start > 0 ? kiv::MainDataFileNotFound
                                                                    : kiv::SpriteFileNotFound));
                return;
            }
        }
        kiv::AnimationFrames decoded = kiv::DecodeAnimation(*file, table_, i, end);
        for (std::size_t k = 0; k < decoded.Frames.size(); ++k)
            frames_[i + static_cast<int>(k)] = std::move(decoded.Frames[k]);
        i = end + 1;
    }
    last_ = last;
    order_ =
        kiv::PlayOrder(last_ - first_ + 1, static_cast<kiv::PlayMode>(ModeCombo->currentIndex()));
    position_ = 0;
    if (wasShown >= first_ && wasShown <= last_)
        position_ = static_cast<std::size_t>(wasShown - first_);
    start_ = std::chrono::steady_clock::now();
    ticks_ = 0;
    ShowFrame(first_ + order_[position_]);
}

void TAnimForm::ShowFrame(int index) {
    if (last_ < first_)
        return;
    shown_ = index;
    int width = 0, height = 0;
    for (int i = first_; i <= last_; ++i) {
        width = std::max(width, frames_.at(i).Width());
        height = std::max(height, frames_.at(i).Height());
    }
    const kiv::Image* live = LiveFrame ? LiveFrame(table_.Path, index) : nullptr;
    const kiv::Image& frame = live ? *live : frames_.at(index);
    kiv::AnimationBackground background;
    int checker = 0;
    switch (BackgroundCombo->currentIndex()) {
    case 0:
        checker = kChecker;
        break;
    case 1:
        background = {false, kiv::BackColor};
        break;
    default:
        background = {false, kiv::clBlack};
        break;
    }
    AnimImage->SetPicture(kiv::FrameOnBackground(frame, width, height, background, checker));
    AnimImage->Repaint();
    IconLbl->SetCaption(QStringLiteral("Icon ") + QString::number(index + 1));
}

std::chrono::microseconds TAnimForm::FrameInterval() const {
    return std::chrono::microseconds(1000000 / std::clamp(FpsUpDown->Position(), 1, 60));
}

void TAnimForm::SetPlaying(bool playing) {
    playing_ = playing && last_ >= first_;
    PlayPauseBtn->SetCaption(playing_ ? QStringLiteral("Pause") : QStringLiteral("Play"));
    PlayTimer->stop();
    if (!playing_)
        return;
    // A pass that played once to its end starts again from FIRST.
    if (ModeCombo->currentIndex() == static_cast<int>(kiv::PlayMode::Once) &&
        position_ + 1 >= order_.size()) {
        position_ = 0;
        ShowFrame(first_ + order_[position_]);
    }
    start_ = std::chrono::steady_clock::now();
    ticks_ = 0;
    ScheduleNext();
}

void TAnimForm::ScheduleNext() {
    // Frame times come from the clock, not from the timer's own count, so a late tick never
    // delays the frames after it: the next frame is due at start_ + (ticks_ + 1) intervals.
    using namespace std::chrono;
    const auto due = start_ + FrameInterval() * (ticks_ + 1);
    const auto wait = ceil<milliseconds>(due - steady_clock::now()).count();
    PlayTimer->start(static_cast<int>(std::max<std::int64_t>(0, wait)));
}

void TAnimForm::PlayTimerTimer(QObject*) {
    if (!playing_ || order_.empty())
        return;
    using namespace std::chrono;
    const std::int64_t due = (steady_clock::now() - start_) / FrameInterval();
    // Frames whose time passed while the window was busy are skipped, not shown late.
    const std::int64_t advance = std::max<std::int64_t>(1, due - ticks_);
    ticks_ += advance;
    const std::size_t n = order_.size();
    if (ModeCombo->currentIndex() == static_cast<int>(kiv::PlayMode::Once)) {
        position_ = static_cast<std::size_t>(std::min<std::int64_t>(
            static_cast<std::int64_t>(position_) + advance, static_cast<std::int64_t>(n) - 1));
        ShowFrame(first_ + order_[position_]);
        if (position_ + 1 >= n)
            SetPlaying(false);
        else
            ScheduleNext();
        return;
    }
    position_ = static_cast<std::size_t>((static_cast<std::int64_t>(position_) + advance) %
                                         static_cast<std::int64_t>(n));
    ShowFrame(first_ + order_[position_]);
    ScheduleNext();
}

void TAnimForm::PlayPauseBtnClick(QObject*) {
    SetPlaying(!playing_);
}

void TAnimForm::Step(int steps) {
    if (last_ < first_)
        return;
    SetPlaying(false);
    const int count = last_ - first_ + 1;
    const int at = ((shown_ - first_ + steps) % count + count) % count;
    position_ = static_cast<std::size_t>(at); // every frame's first place in the pass
    ShowFrame(first_ + at);
}

bool TAnimForm::HandleKey(int key) {
    switch (key) {
    case Qt::Key_Space:
        PlayPauseBtnClick(this);
        return true;
    case Qt::Key_Left:
        Step(-1);
        return true;
    case Qt::Key_Right:
        Step(1);
        return true;
    case Qt::Key_Home:
        Step(first_ - shown_);
        return true;
    case Qt::Key_End:
        Step(last_ - shown_);
        return true;
    default:
        return false;
    }
}

void TAnimForm::keyPressEvent(QKeyEvent* event) {
    bool handled = false;
    TApplication::Guard([&] { handled = HandleKey(event->key()); });
    if (handled)
        event->accept();
    else
        TForm::keyPressEvent(event);
}

void TAnimForm::RangeEditChange(QObject*) {
    if (!quiet_)
        TakeRange();
}

void TAnimForm::FpsEditChange(QObject*) {
    if (quiet_ || !playing_)
        return;
    start_ = std::chrono::steady_clock::now();
    ticks_ = 0;
    ScheduleNext();
}

void TAnimForm::ModeComboChange(QObject*) {
    if (last_ < first_)
        return;
    order_ =
        kiv::PlayOrder(last_ - first_ + 1, static_cast<kiv::PlayMode>(ModeCombo->currentIndex()));
    position_ = static_cast<std::size_t>(shown_ - first_);
}

void TAnimForm::ZoomComboChange(QObject*) {
    AnimImage->SetZoom(ZoomCombo->currentIndex() + 1);
}

void TAnimForm::BackgroundComboChange(QObject*) {
    if (shown_ >= 0)
        ShowFrame(shown_);
}

void TAnimForm::AnimImageDblClick(QObject*, QMouseEvent* Event, QPoint) {
    if (shown_ < 0)
        return;
    Event->accept();
    SetPlaying(false);
    if (ShowInEditor)
        ShowInEditor(table_.Path, shown_);
}

void TAnimForm::closeEvent(QCloseEvent* event) {
    // Closing only hides; the frames go, the settings stay for the next showing.
    SetPlaying(false);
    frames_.clear();
    first_ = 0;
    last_ = -1;
    shown_ = -1;
    table_ = kiv::TIconTable();
    AnimImage->SetPicture(kiv::Image());
    TForm::closeEvent(event);
}

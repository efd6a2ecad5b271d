// edit: one icon opened in the user's image editor, re-encoded into the twin at every save.

#include "CommandSet.h"
#include "CommandSupport.h"
#include "OutputRule.h"
#include "SpriteSupport.h"

#include "base/ExternalEditor.h"
#include "base/Platform.h"
#include "base/Termination.h"
#include "base/WorkFolder.h"
#include "sprite/IconPictures.h"
#include "sprite/PictureWatch.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

namespace kivtool {

namespace {

// How often the work file is looked at, and how long the editor's end is waited for meanwhile.
constexpr int kPollMs = 100;
// After the editor ended, how long a save under way is waited for at most.
constexpr auto kLastSaveWait = std::chrono::seconds(5);

// The work folder and its file go however the command ends.
struct WorkFolderRemover {
    ~WorkFolderRemover() { kiv::RemoveWorkFolder(); }
};

// Enter (or the end of the input) on the standard input, read on a thread of its own so that
// the work file is still watched meanwhile. The thread is never joined: once the command
// ends, nothing more of the input is wanted.
class EnterKey {
public:
    EnterKey() : pressed_(std::make_shared<std::atomic<bool>>(false)) {
        std::thread([pressed = pressed_] {
            std::string line;
            std::getline(std::cin, line);
            pressed->store(true);
        }).detach();
    }
    bool Pressed() const { return pressed_->load(); }

private:
    std::shared_ptr<std::atomic<bool>> pressed_;
};

class EditSession {
public:
    EditSession(const Context& ctx, const std::string& sprite, std::int64_t icon,
                const std::string& outPath, kiv::PictureWatch& watch)
        : ctx_(ctx), sprite_(sprite), icon_(icon), outPath_(outPath), watch_(watch),
          target_(outPath.empty() ? kiv::TwinName(sprite) : outPath) {}

    // Takes in whatever the watch reports now.
    void Look() {
        kiv::PictureWatch::Event event = watch_.Poll();
        if (event.What == kiv::PictureWatch::Event::Kind::Saved)
            Reencode(event.Picture);
        else if (event.What == kiv::PictureWatch::Event::Kind::Unreadable)
            Err(ctx_) << EscapedText(event.Message) << "; waiting for the next save.\n";
    }

    // After the editor's end: a save under way is still taken in.
    void Finish() {
        const auto until = std::chrono::steady_clock::now() + kLastSaveWait;
        Look();
        while (watch_.Pending() && std::chrono::steady_clock::now() < until) {
            kiv::platform::SleepMilliseconds(kPollMs / 2);
            Look();
        }
    }

    int Status() const { return status_; }

private:
    void Reencode(const kiv::PictureFile& picture) {
        const std::string name = FileNameOf(watch_.Path());
        ReencodeRequest request{sprite_, icon_, watch_.Path(), outPath_,
                                true,    false, &picture,      true};
        ReencodeOutcome outcome = ReencodeOutcome::Failed;
        status_ = Guarded(ctx_, [&] {
            int status = ExitFailure;
            outcome = ReencodeOne(ctx_, request, status);
            return status;
        });
        if (outcome == ReencodeOutcome::Written)
            ctx_.out << name << " saved: icon " << icon_ << " re-encoded into "
                     << PrintableName(target_) << ".\n";
        else if (outcome == ReencodeOutcome::UpToDate)
            ctx_.out << name << " saved: " << PrintableName(target_)
                     << " is up to date; nothing written.\n";
        ctx_.out.flush();
    }

    const Context& ctx_;
    std::string sprite_;
    std::int64_t icon_;
    std::string outPath_;
    kiv::PictureWatch& watch_;
    std::string target_;
    int status_ = ExitOk;
};

} // namespace

int EditCommand(const Context& ctx, const std::string& sprite, std::int64_t icon,
                const std::string& program, const std::string& outPath) {
    WorkFolderRemover remover;
    return Guarded(ctx, [&] {
        const std::string target = outPath.empty() ? kiv::TwinName(sprite) : outPath;
        // The icon as the twin holds it, when there is one: every save builds on it.
        const std::string source = BuildingSource(ctx, sprite, target, true);
        kiv::TIconTable table;
        if (!SpriteFileLooksRight(ctx, source) || !LoadTableOrFail(ctx, source, table) ||
            !IconInRange(ctx, table, icon))
            return ExitFailure;
        auto file = kiv::InFile::Open(table.Path);
        if (!file)
            return Fail(ctx, kiv::SpriteFileNotFound);
        const kiv::Image picture = kiv::ShowPicture(*file, table, static_cast<int>(icon - 1));
        file.reset();

        const std::string work =
            kiv::WriteWorkPicture(picture, kiv::IconFileName(StemOf(sprite), icon, ".png"));
        kiv::PictureWatch watch(
            work, [](const std::string& path) { return kiv::ReadPictureToEncode(path); });
        kiv::EditorStart start = kiv::StartImageEditor(work, program);
        if (!start.Ok())
            return Fail(ctx, start.Message);
        kiv::EditorProcess& editor = start.Process;
        // From here Ctrl+C ends the editing as Enter does, after the last save was taken in.
        kiv::CatchTerminationRequests();
        Err(ctx) << "Editing icon " << icon << " of " << EscapedText(source) << " in "
                 << EscapedText(editor.Program()) << ": " << EscapedText(work) << '\n';
        std::unique_ptr<EnterKey> enter;
        if (editor.ViaDesktop()) {
            Err(ctx) << "Save in the image editor as often as you like; press Enter here (or "
                        "Ctrl+C) when done.\n";
            enter = std::make_unique<EnterKey>();
        }

        EditSession session(ctx, sprite, icon, outPath, watch);
        for (;;) {
            session.Look();
            if (kiv::TerminationRequested())
                break;
            if (enter) {
                if (editor.Ended() && !editor.OpenFault().empty())
                    return Fail(ctx, editor.OpenFault());
                if (enter->Pressed())
                    break;
                kiv::platform::SleepMilliseconds(kPollMs);
            } else if (editor.Ended(kPollMs)) {
                break;
            }
        }
        session.Finish();
        if (!enter && editor.ExitStatus() != 0)
            Err(ctx) << "Warning: " << EscapedText(editor.Program()) << " ended with exit status "
                     << editor.ExitStatus() << ".\n";
        return session.Status();
    });
}

} // namespace kivtool

namespace kivtool {

namespace {

struct EditArgs {
    std::string Sprite;
    std::int64_t Icon = 0;
    std::string With; // the image editor's command line
    std::string Out;
};

} // namespace

void RegisterEditCommand(CommandSet& set) {
    auto a = std::make_shared<EditArgs>();
    CLI::App* sub = set.Add(
        "edit",
        "Open icon ICON in your image editor as a PNG (the background transparent, named as "
        "export names it, in a folder of this run's own) and, each time it is saved, re-encode "
        "it into the twin as 'reencode --on-twin' does: one line per save, and a save that "
        "changes nothing writes nothing. The editor is --with, else the command line in "
        "KIV_IMAGE_EDITOR (the file's path added at its end, or put in place of %f; no shell "
        "runs it), else the desktop's default application. Ends when that program exits or, for "
        "the desktop's default (which returns at once), at Enter (or the end of the input); "
        "Ctrl+C ends it too. The work file is then removed; exit status 0, or 1 when the last "
        "save could not be re-encoded.",
        "kivtool edit hero.s16 3 --with 'paint --new-window'",
        [a](const Context& c) { return EditCommand(c, a->Sprite, a->Icon, a->With, a->Out); });
    AddSprite(sub, a->Sprite);
    AddIcon(sub, a->Icon);
    sub->add_option("--with", a->With,
                    "The image editor's command line, as KIV_IMAGE_EDITOR takes it")
        ->type_name("PROGRAM");
    sub->add_option("-o,--output", a->Out,
                    "The sprite file each save is re-encoded into (default: SPRITE with its "
                    "last character changed to '7'); the icon is taken from it when it exists");
}

} // namespace kivtool

#pragma once
// Starting the user's image editor on a file: the program named by a command line the user
// chose, else by the environment variable KIV_IMAGE_EDITOR, else the desktop's default
// application. No shell runs in between, so a file name can never be taken as a command.

#include "base/Platform.h"

#include <string>
#include <vector>

namespace kiv {

// The environment variable that holds the image editor's command line.
inline constexpr const char* kImageEditorVariable = "KIV_IMAGE_EDITOR";

#ifdef _WIN32
inline constexpr bool kBackslashEscapes = false; // it separates folders there
#else
inline constexpr bool kBackslashEscapes = true;
#endif

// A command line split into words as a POSIX shell splits them: blanks separate words;
// inside '...' every character stands for itself; inside "..." too, except that a backslash
// before ", \, $ or ` stands for that character; elsewhere a backslash keeps the next
// character as it is (with `backslashEscapes` false it is an ordinary character, and "\""
// inside double quotes is a quote). Nothing is expanded: $, *, ~ stay as they are.
struct CommandLine {
    std::vector<std::string> Words;
    std::string Fault; // "an unclosed quote", "a backslash at its end"; empty when it splits
};
CommandLine SplitCommandLine(const std::string& text, bool backslashEscapes = kBackslashEscapes);

// The words that open `file`: each "%f" in a word replaced by the file's path, or the path
// added as the last word when no word holds "%f".
std::vector<std::string> WithFile(const std::vector<std::string>& words, const std::string& file);

// The image editor running on a file, to be polled or waited for. Moving hands it on;
// destroying it lets go of the program, which goes on running.
class EditorProcess {
public:
    EditorProcess() = default;
    EditorProcess(EditorProcess&& other) noexcept;
    EditorProcess& operator=(EditorProcess&& other) noexcept;
    EditorProcess(const EditorProcess&) = delete;
    EditorProcess& operator=(const EditorProcess&) = delete;
    ~EditorProcess();

    // The program as the user named it (its first word), or the desktop's opener
    // ("xdg-open").
    const std::string& Program() const { return program_; }
    // True where the desktop's default application opened the file: its opener returns once
    // it has handed the file on, so its end does not end the editing; the user says when.
    bool ViaDesktop() const { return viaDesktop_; }
    // True once the started process has ended, waiting up to `milliseconds` for it; its exit
    // status is then ExitStatus(). An opener that answered at once has ended from the start.
    bool Ended(int milliseconds = 0);
    int ExitStatus() const { return status_; }
    // Where the desktop's opener ended and failed: why ("xdg-open could not open
    // hero_0003.png (exit status 3)."). Empty otherwise, and always for a program started on
    // the file.
    std::string OpenFault() const;

private:
    friend struct EditorStarter;
    std::string program_;
    std::string file_;
    platform::ProcessHandle process_ = platform::kNoProcess;
    bool viaDesktop_ = false;
    bool ended_ = false;
    int status_ = 0;
};

struct EditorStart {
    EditorProcess Process;
    // Why the editor did not start, naming the program ("Cannot start paintx: no such
    // program."); empty when it started.
    std::string Message;
    bool Ok() const { return Message.empty(); }
};

// Opens `file` in the user's image editor: the command line `chosen` when it is not blank,
// else the one in KIV_IMAGE_EDITOR when that is set and not blank, else the desktop's default
// application for the file (VISUAL and EDITOR name text editors and are never used). When it
// fails, nothing was started and nothing else changed.
EditorStart StartImageEditor(const std::string& file, const std::string& chosen = {});

} // namespace kiv

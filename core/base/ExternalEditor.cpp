#include "base/ExternalEditor.h"

#include "base/FileStream.h"

#include <utility>

namespace kiv {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string StartFailure(const std::string& program, platform::StartOutcome outcome) {
    if (outcome == platform::StartOutcome::NotFound)
        return "Cannot start " + program + ": no such program.";
    const std::string reason = platform::LastErrorText();
    return "Cannot start " + program + (reason.empty() ? std::string(".") : ": " + reason + ".");
}

} // namespace

CommandLine SplitCommandLine(const std::string& text, bool backslashEscapes) {
    CommandLine line;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (IsBlank(c)) {
            if (inWord)
                line.Words.push_back(std::move(word));
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\'') {
            const std::size_t close = text.find('\'', i + 1);
            if (close == std::string::npos)
                return {{}, "an unclosed quote"};
            word.append(text, i + 1, close - i - 1);
            i = close;
        } else if (c == '"') {
            for (++i;; ++i) {
                if (i >= text.size())
                    return {{}, "an unclosed quote"};
                const char d = text[i];
                if (d == '"')
                    break;
                const bool escapable =
                    i + 1 < text.size() &&
                    (text[i + 1] == '"' ||
                     (backslashEscapes &&
                      (text[i + 1] == '\\' || text[i + 1] == '$' || text[i + 1] == '`')));
                if (d == '\\' && escapable)
                    ++i;
                word += text[i];
            }
        } else if (c == '\\' && backslashEscapes) {
            if (i + 1 >= text.size())
                return {{}, "a backslash at its end"};
            word += text[++i];
        } else {
            word += c;
        }
    }
    if (inWord)
        line.Words.push_back(std::move(word));
    return line;
}

std::vector<std::string> WithFile(const std::vector<std::string>& words, const std::string& file) {
    std::vector<std::string> result;
    bool placed = false;
    for (const std::string& word : words) {
        std::string out;
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (word[i] == '%' && i + 1 < word.size() && word[i + 1] == 'f') {
                out += file;
                placed = true;
                ++i;
            } else {
                out += word[i];
            }
        }
        result.push_back(std::move(out));
    }
    if (!placed)
        result.push_back(file);
    return result;
}

EditorProcess::EditorProcess(EditorProcess&& other) noexcept {
    *this = std::move(other);
}

EditorProcess& EditorProcess::operator=(EditorProcess&& other) noexcept {
    if (this != &other) {
        if (!ended_)
            platform::ReleaseProcess(process_);
        program_ = std::move(other.program_);
        file_ = std::move(other.file_);
        process_ = std::exchange(other.process_, platform::kNoProcess);
        viaDesktop_ = other.viaDesktop_;
        ended_ = std::exchange(other.ended_, true);
        status_ = other.status_;
    }
    return *this;
}

EditorProcess::~EditorProcess() {
    if (!ended_)
        platform::ReleaseProcess(process_);
}

bool EditorProcess::Ended(int milliseconds) {
    if (!ended_ && process_ != platform::kNoProcess &&
        platform::ProcessEnded(process_, milliseconds, status_)) {
        ended_ = true;
        process_ = platform::kNoProcess;
    }
    return ended_ || process_ == platform::kNoProcess;
}

std::string EditorProcess::OpenFault() const {
    if (!viaDesktop_ || !ended_ || status_ == 0)
        return {};
    return program_ + " could not open " + PathFileName(file_) + " (exit status " +
           std::to_string(status_) + ").";
}

// Fills in an EditorProcess; the one place that may.
struct EditorStarter {
    static EditorStart Program(const std::string& file, const std::vector<std::string>& words) {
        EditorStart start;
        start.Process.program_ = words.front();
        start.Process.file_ = file;
        platform::ProcessHandle process = platform::kNoProcess;
        const platform::StartOutcome outcome =
            platform::StartProgram(WithFile(words, file), process);
        if (outcome != platform::StartOutcome::Started) {
            start.Message = StartFailure(words.front(), outcome);
            start.Process.ended_ = true;
            return start;
        }
        start.Process.process_ = process;
        return start;
    }

    static EditorStart Desktop(const std::string& file) {
        EditorStart start;
        EditorProcess& editor = start.Process;
        editor.file_ = file;
        editor.viaDesktop_ = true;
        platform::ProcessHandle process = platform::kNoProcess;
        const platform::StartOutcome outcome =
            platform::OpenWithDefaultApplication(file, process, editor.program_);
        if (outcome == platform::StartOutcome::NoApplication) {
            start.Message = "Cannot open " + PathFileName(file) +
                            ": no default application is set up for this kind of file.";
        } else if (outcome != platform::StartOutcome::Started) {
            start.Message = StartFailure(editor.program_, outcome);
        }
        editor.process_ = start.Ok() ? process : platform::kNoProcess;
        editor.ended_ = editor.process_ == platform::kNoProcess;
        return start;
    }
};

EditorStart StartImageEditor(const std::string& file, const std::string& chosen) {
    std::string text = chosen;
    std::string source = "The image editor's command line";
    const auto blank = [](const std::string& s) {
        return s.find_first_not_of(" \t\r\n") == std::string::npos;
    };
    if (blank(text)) {
        source = kImageEditorVariable;
        if (!platform::GetEnvironment(kImageEditorVariable, text) || blank(text))
            return EditorStarter::Desktop(file);
    }
    const CommandLine line = SplitCommandLine(text);
    if (!line.Fault.empty()) {
        EditorStart start;
        start.Message = "Cannot start the image editor: " + source + " has " + line.Fault + ".";
        return start;
    }
    return EditorStarter::Program(file, line.Words);
}

} // namespace kiv

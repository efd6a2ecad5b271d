#pragma once
// A picture handed to the user's image editor, and the watch that sees each save of it come
// back. Image editors save in several ways: a new file renamed over the old one, the old one
// truncated and written again, or written in parts with pauses between; the watch reports a
// save only once the file reads as a whole picture, and once per save.

#include "base/FileStream.h"
#include "image/Image.h"
#include "sprite/PictureFiles.h"

#include <chrono>
#include <functional>
#include <string>

namespace kiv {

// Writes `picture` into this process's work folder (base/WorkFolder.h) as the PNG named
// `name`, every pixel of the background's 16-bit value transparent as Bmp Save writes a PNG,
// and returns its path. `name` is a plain file name (IconFileName's); one with a folder in it
// is refused with EFCreateError, as is a work folder that cannot be made.
std::string WriteWorkPicture(const Image& picture, const std::string& name);

// Watches one picture file, polled: nothing runs between two calls of Poll.
class PictureWatch {
public:
    using Clock = std::chrono::steady_clock;
    // How long a changed file may go on not reading as a picture before that is reported.
    static constexpr Clock::duration kUnreadableAfter = std::chrono::seconds(2);
    using Reader = std::function<PictureFile(const std::string& path)>;

    // Watches `path` from what it holds now on; that is not reported. `read` reads the file
    // (default: ReadPictureFile with its default limit) and throws what the readers throw.
    explicit PictureWatch(std::string path, Reader read = {});

    struct Event {
        enum class Kind { None, Saved, Unreadable };
        Kind What = Kind::None;
        PictureFile Picture; // Saved: the file's new content
        std::string Message; // Unreadable: why, naming the file ("hero_0003.png is empty")
    };
    // Looks at the file once; call it every tenth of a second or so. A changed file that reads
    // as a whole picture is Saved, once. One that does not read yet (missing, empty, cut short,
    // changing while read) is tried again at the next call, and is reported Unreadable once
    // when it has stayed so, unchanged, for kUnreadableAfter; its next change is watched again.
    Event Poll(Clock::time_point now = Clock::now());
    // True while a change has been seen that was neither read nor reported: a save may be
    // under way.
    bool Pending() const { return pending_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    Reader read_;
    FileStamp settled_; // the file as last reported (or as it was at the start)
    FileStamp seen_;    // the file as the last call saw it, while pending
    Clock::time_point since_{};
    bool pending_ = false;
};

} // namespace kiv

#include "sprite/PictureWatch.h"

#include "base/Errors.h"
#include "base/WorkFolder.h"
#include "image/Png.h"

#include <new>
#include <utility>

namespace kiv {

namespace {

bool SameState(const FileStamp& a, const FileStamp& b) {
    if (a.Exists != b.Exists)
        return false;
    return !a.Exists || (a.Status.Device == b.Status.Device && a.Status.Node == b.Status.Node &&
                         a.Status.Size == b.Status.Size && a.Status.Modified == b.Status.Modified &&
                         a.Status.Regular == b.Status.Regular);
}

} // namespace

std::string WriteWorkPicture(const Image& picture, const std::string& name) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of("/\\") != std::string::npos)
        throw EFCreateError(name);
    const std::string path = JoinPath(WorkFolder(), name);
    SavePictureFile(picture, path, BackKey);
    return path;
}

PictureWatch::PictureWatch(std::string path, Reader read)
    : path_(std::move(path)), read_(std::move(read)), settled_(StampOf(path_)) {
    if (!read_)
        read_ = [](const std::string& file) { return ReadPictureFile(file); };
}

PictureWatch::Event PictureWatch::Poll(Clock::time_point now) {
    Event event;
    const FileStamp stamp = StampOf(path_);
    if (!pending_) {
        if (SameState(stamp, settled_))
            return event;
        pending_ = true;
        seen_ = stamp;
        since_ = now;
    } else if (!SameState(stamp, seen_)) {
        // Still being written: the wait for a whole picture starts again.
        seen_ = stamp;
        since_ = now;
    }

    const std::string name = PathFileName(path_);
    std::string fault;
    if (!stamp.Exists) {
        fault = name + " is gone";
    } else if (!stamp.Status.Regular) {
        fault = name + " is not a file";
    } else if (stamp.Status.Size == 0) {
        fault = name + " is empty"; // a truncated file; a bitmap reader takes it as no picture
    } else {
        try {
            PictureFile file = read_(path_);
            const FileStamp after = StampOf(path_);
            if (!SameState(after, stamp)) {
                // Changed while it was read: what was read may mix two saves.
                seen_ = after;
                since_ = now;
                return event;
            }
            if (file.Picture.Width() > 0 && file.Picture.Height() > 0) {
                pending_ = false;
                settled_ = stamp;
                event.What = Event::Kind::Saved;
                event.Picture = std::move(file);
                return event;
            }
            fault = name + " holds no picture";
        } catch (const EFOpenError&) {
            fault = name + " cannot be opened";
        } catch (const Exception& e) {
            fault = name + " does not read as a picture: " + e.what();
        } catch (const std::bad_alloc&) {
            fault = name + " does not read as a picture: out of memory";
        }
    }
    if (now - since_ < kUnreadableAfter)
        return event;
    pending_ = false;
    settled_ = stamp;
    event.What = Event::Kind::Unreadable;
    event.Message = std::move(fault);
    return event;
}

} // namespace kiv

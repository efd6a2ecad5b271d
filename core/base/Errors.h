#pragma once
// The typed errors that core raises. Their messages are the texts the windows show,
// so every constructor builds the exact text the user reads.

#include <stdexcept>
#include <string>

namespace kiv {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// Text that is not an integer was converted.
class EConvertError : public Exception {
public:
    using Exception::Exception;
    static EConvertError NotAnInteger(const std::string& text) {
        return EConvertError("'" + text + "' is not a valid integer value");
    }
};

// A file loaded as a picture is not one, or holds data that cannot be decoded. Bitmaps
// keep their one text; other formats say what is wrong.
class EInvalidGraphic : public Exception {
public:
    EInvalidGraphic() : Exception("Bitmap image is not valid") {}
    explicit EInvalidGraphic(const std::string& message) : Exception(message) {}
};

// A picture file declares a size beyond what the caller will use (the reader's PictureLimit):
// refused before a pixel is decoded or the picture allocated. Callers that know why the size
// is too large say so in their own words, from the declared Width and Height.
class EPictureTooLarge : public EInvalidGraphic {
public:
    EPictureTooLarge(long long width, long long height)
        : EInvalidGraphic("The picture is " + std::to_string(width) + " x " +
                          std::to_string(height) + " pixels, larger than can be used here"),
          width_(width), height_(height) {}
    long long Width() const { return width_; }
    long long Height() const { return height_; }

private:
    long long width_;
    long long height_;
};

// A file to be read cannot be opened.
class EFOpenError : public Exception {
public:
    explicit EFOpenError(const std::string& fileName, std::string reason = std::string())
        : Exception("Cannot open file " + fileName), path_(fileName), reason_(std::move(reason)) {}
    const std::string& Path() const { return path_; }
    // The system's words for why, when it gave them ("Too many open files").
    const std::string& Reason() const { return reason_; }

private:
    std::string path_;
    std::string reason_;
};

// What a failed create or write concerns: the file, or its folder when no file could be
// made there at all, and the system's words for why ("No space left on device") when it
// gave them. The windows show their own texts; a front end that can say more names these.
struct WriteFault {
    std::string Path;
    bool Folder = false;
    std::string Reason;
    std::string Target = {}; // the output as given, when Path is its folder or a work file
};

// A message with the fault after it, as every front end shows a failed write: the message
// first, then the output and the system's reason in parentheses ("Could not open output file!
// (nodir/x.s17: No such file or directory)"); a message that names the output already takes
// the reason alone. The message as it stands when there is no fault.
inline std::string WithFault(const std::string& message, const WriteFault& fault) {
    const std::string& shown = fault.Target.empty() ? fault.Path : fault.Target;
    if (fault.Reason.empty() && (shown.empty() || message.find(shown) != std::string::npos))
        return message;
    std::string inner = shown.empty() || message.find(shown) != std::string::npos
                            ? fault.Reason
                            : shown + (fault.Reason.empty() ? "" : ": " + fault.Reason);
    return message + " (" + inner + ")";
}

// A file to be written cannot be created. The message stays the exact window text.
class EFCreateError : public Exception {
public:
    explicit EFCreateError(const std::string& fileName, std::string reason = std::string())
        : EFCreateError(fileName, WriteFault{fileName, false, std::move(reason)}) {}
    EFCreateError(const std::string& fileName, WriteFault fault)
        : Exception("Cannot create file " + fileName), fault_(std::move(fault)) {}
    const std::string& Reason() const { return fault_.Reason; }
    const WriteFault& Fault() const { return fault_; }

private:
    WriteFault fault_;
};

// A read ended before the bytes a header promised.
class EReadError : public Exception {
public:
    EReadError() : Exception("Stream read error") {}
};

// A write failed half-way (disk full, file size limit, I/O error).
class EWriteError : public Exception {
public:
    EWriteError() : Exception("Stream write error") {}
    explicit EWriteError(const std::string& message, std::string reason = std::string(),
                         std::string path = std::string())
        : Exception(message), fault_{std::move(path), false, std::move(reason)} {}
    const std::string& Reason() const { return fault_.Reason; }
    const WriteFault& Fault() const { return fault_; }

private:
    WriteFault fault_;
};

// The message of an error as the windows' error box and kivtool show it: a failed create or
// write with its fault after it (WithFault), any other error's own message.
inline std::string ErrorText(const std::exception& error);

// Another run holds the output: nothing was written.
class EOutputBusy : public Exception {
public:
    explicit EOutputBusy(const std::string& shownName)
        : Exception(shownName + " is being written by another run; nothing was written.") {}
};

// An input is no longer the file that was read (replaced, grown, rewritten): the output
// would mix old and new, so nothing was written.
class EInputChanged : public Exception {
public:
    explicit EInputChanged(const std::string& shownName)
        : Exception(shownName + " changed while it was being read; nothing was written.") {}
};

// A frame whose size could never be shown; refused before anything is allocated.
class EFrameTooLarge : public Exception {
public:
    EFrameTooLarge(long long width, long long height)
        : Exception("Icon frame of " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels is too large") {}
};

// Silent abort: the error box drops it.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
};

inline std::string ErrorText(const std::exception& error) {
    if (const auto* create = dynamic_cast<const EFCreateError*>(&error))
        return WithFault(create->what(), create->Fault());
    if (const auto* write = dynamic_cast<const EWriteError*>(&error))
        return WithFault(write->what(), write->Fault());
    if (const auto* open = dynamic_cast<const EFOpenError*>(&error))
        return WithFault(open->what(), {open->Path(), false, open->Reason()});
    return error.what();
}

} // namespace kiv

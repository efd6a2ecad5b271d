#pragma once
// How an archive operation ends: done, refused or failed. Nothing at this level shows
// anything; a refusal or failure comes back as the text the front ends show.

#include "base/Errors.h"

#include <string>
#include <utility>

namespace kiv {

struct OpResult {
    bool Ok = true;
    std::string Message; // the text for the message box when !Ok
    // A file could not be created or written (a failure, not a refusal): the file or folder
    // and the system's words for why; the windows show only Message.
    bool WriteFailed = false;
    WriteFault Fault;
};

// A refusal, or a failure that is not the system's.
inline OpResult OpFailed(std::string message) {
    OpResult result;
    result.Ok = false;
    result.Message = std::move(message);
    return result;
}

// A file that could not be created or written: a failure of the system, with its reason.
inline OpResult OpWriteFailed(std::string message, const WriteFault& fault) {
    OpResult result = OpFailed(std::move(message));
    result.WriteFailed = true;
    result.Fault = fault;
    return result;
}

// Another run, or a change of an input, stopped the write: a refusal, not a failure.
inline OpResult OpStopped(const Exception& e) {
    return OpFailed(e.what());
}

} // namespace kiv

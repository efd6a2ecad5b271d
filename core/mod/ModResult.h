#pragma once
// How a mod operation ended, the same for making, reading, planning and applying mods: the
// archive level's result (Ok, or the message that says why not, with the file and the
// system's reason where a file could not be written), so the front ends show both alike.

#include "archive/ArchiveOps.h"
#include "base/Errors.h"

#include <string>
#include <utility>

namespace kiv {

struct ModResult : OpResult {
    static ModResult Failure(std::string message) {
        ModResult result;
        result.Ok = false;
        result.Message = std::move(message);
        return result;
    }
    static ModResult WriteFailure(std::string message, WriteFault fault) {
        ModResult result = Failure(std::move(message));
        result.WriteFailed = true;
        result.Fault = std::move(fault);
        return result;
    }
    static ModResult Of(const OpResult& result) {
        ModResult same;
        static_cast<OpResult&>(same) = result;
        return same;
    }
};

} // namespace kiv

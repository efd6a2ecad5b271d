// Batch work: every member out, a folder of members back in, a folder of icons back in.

#include "CommandSupport.h"

namespace kivtool {

int ExtractAllCommand(const Context& ctx, const std::string&, const std::string&,
                      const ExtractAllOptions&) {
    return Fail(ctx, "not yet");
}
int ReimportCommand(const Context& ctx, const std::string&, const std::string&,
                    const ReimportOptions&) {
    return Fail(ctx, "not yet");
}
int ImportCommand(const Context& ctx, const std::string&, const std::string&,
                  const ImportOptions&) {
    return Fail(ctx, "not yet");
}

} // namespace kivtool

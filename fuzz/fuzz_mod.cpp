// Applying a stranger's mod file: the input is a base archive (its length in the first four
// bytes, little-endian) followed by the mod. The mod is opened (zip framing, manifest, every
// change checked against the zip), its manifest written back and read again, and it is
// planned against the base and, where nothing stands in the way, applied. The base and the
// mod must stay as they were, nothing but the output may be left behind, and an output
// must make a mod that gives it back.

#include "FuzzSupport.h"

#include "base/Errors.h"
#include "mod/ModApply.h"
#include "mod/ModCreate.h"
#include "mod/ModReader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Outputs larger than this are not made into mods again (that only costs time).
constexpr std::size_t kRemadeLimit = 1 << 20;

void ManifestRoundTrip(const std::string& mod) {
    try {
        const kiv::ModReader reader(mod);
        const std::string json = kiv::ManifestJson(reader.Manifest());
        if (kiv::ManifestJson(kiv::ParseManifest(json)) != json)
            kivfuzz::Fail("a manifest read back differs from the one written");
    } catch (const kiv::EBadMod&) {
    } catch (const kiv::EFOpenError&) {
        kivfuzz::Fail("the mod did not open");
    }
}

void Apply(const std::string& base, const std::string& mod, const kiv::ModApplyOptions& options) {
    const std::string out = kivfuzz::ScratchFile("out.dat");
    const kiv::ModPlan plan = kiv::PlanMods(base, {mod, mod}, options);
    // The same mod twice makes the same changes twice: never a conflict.
    if (!plan.Conflicts.empty())
        kivfuzz::Fail("a mod conflicts with itself: " + plan.Conflicts.front());
    const kiv::OpResult written = kiv::WriteModded(plan, out);
    // Whole members' compressed bytes are checked as they are written: a clear plan may still
    // fail on them, and only on them.
    const bool damaged = written.Message.find("is damaged") != std::string::npos;
    if (written.Ok == plan.Blocked() && (written.Ok || !damaged))
        kivfuzz::Fail("a blocked plan was written, or a clear one failed: " + written.Message);
    if (!written.Ok)
        return;
    const std::vector<std::uint8_t> result = kivfuzz::ReadBytes(out);
    if (std::int64_t(result.size()) != plan.OutputSize)
        kivfuzz::Fail("the output is not the size planned");
    if (result.size() > kRemadeLimit)
        return;
    const std::string again = kivfuzz::ScratchFile("again.kivmod");
    const kiv::ModCreated made = kiv::CreateMod(base, out, again, {});
    if (made.Same)
        return;
    if (!made.Ok)
        kivfuzz::Fail("no mod could be made from an output: " + made.Message);
    const std::string back = kivfuzz::ScratchFile("back.dat");
    const kiv::ModPlan replan = kiv::PlanMods(base, {again});
    if (!kiv::WriteModded(replan, back).Ok || kivfuzz::ReadBytes(back) != result)
        kivfuzz::Fail("a mod made from an output does not give it back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kivfuzz::ClearScratch();
    if (size < 4)
        return 0;
    const std::size_t baseSize =
        std::min<std::size_t>(size - 4, data[0] | (data[1] << 8) | (data[2] << 16) |
                                            (static_cast<std::size_t>(data[3]) << 24));
    const std::string base = kivfuzz::ScratchFile("base.dat");
    const std::string mod = kivfuzz::ScratchFile("mod.kivmod");
    kivfuzz::WriteBytes(base, data + 4, baseSize);
    kivfuzz::WriteBytes(mod, data + 4 + baseSize, size - 4 - baseSize);

    ManifestRoundTrip(mod);
    Apply(base, mod, {});
    Apply(base, mod, {true, true});

    if (kivfuzz::ReadBytes(base) != std::vector<std::uint8_t>(data + 4, data + 4 + baseSize) ||
        kivfuzz::ReadBytes(mod) != std::vector<std::uint8_t>(data + 4 + baseSize, data + size))
        kivfuzz::Fail("applying changed the base or the mod");
    const std::vector<std::string> allowed = {"again.kivmod", "back.dat", "base.dat", "mod.kivmod",
                                              "out.dat"};
    for (const std::string& name : kivfuzz::ScratchEntries())
        if (std::find(allowed.begin(), allowed.end(), name) == allowed.end())
            kivfuzz::Fail("a file was left behind: " + name);
    return 0;
}

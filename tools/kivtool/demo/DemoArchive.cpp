// The demo archive: the sheets encoded as sprite members, the same bytes every time.

#include "Demo.h"

#include "CommandSet.h"
#include "CommandSupport.h"
#include "Drawing.h"
#include "OutputRule.h"

#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "sprite/IconEncoder.h"
#include "sprite/S16Format.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <stdexcept>

namespace kivtool {

namespace {

// ---------------------------------------------------------------------------------------
// Encoding

// The icon's header (Starts left 0) and data.
std::pair<kiv::TIconHeader, std::vector<std::uint8_t>> EncodeFrame(const DemoFrame& frame) {
    if (!kiv::ReencodePictureFault(frame.Picture).empty())
        throw std::logic_error("demo frame without icon pixels");
    kiv::EncodedIcon icon = kiv::EncodeIcon(frame.Picture, frame.RunLength);
    icon.Header.Aux = frame.Aux;
    if (icon.Header.Bytes > kiv::MaxIconBytes)
        throw std::logic_error("demo icon too large");
    return {icon.Header, std::move(icon.Data)};
}

void PutWord(std::vector<std::uint8_t>& out, std::size_t at, std::int32_t value) {
    kiv::PutInt32LE(out.data() + at, value);
}

} // namespace

std::vector<DemoMember> DemoMembers() {
    using namespace demo;
    using Sheet = std::vector<DemoFrame> (*)(int);
    const std::array<std::pair<const char*, Sheet>, 12> sheets = {{
        {"hero.s16", HeroSheet},
        {"tiles.s16", TileSheet},
        {"coins.s16", CoinSheet},
        {"buttons.s16", ButtonSheet},
        {"font.s16", FontSheet},
        {"enemies.s16", EnemySheet},
        {"items.s16", ItemSheet},
        {"fx.s16", EffectSheet},
        {"sky.s16", SkySheet},
        {"portrait.s16", PortraitSheet},
        {"cursors.s16", CursorSheet},
        {"panels.s16", PanelSheet},
    }};
    std::vector<DemoMember> members;
    int sheet = 1;
    for (const auto& [name, draw] : sheets)
        members.push_back({name, draw(sheet++)});
    return members;
}

std::vector<std::uint8_t> BuildDemoSprite(const std::vector<DemoFrame>& frames) {
    const std::size_t n = frames.size();
    std::vector<std::uint8_t> out(4 + kiv::IconHeaderSize * n, 0);
    PutWord(out, 0, static_cast<std::int32_t>(n));
    std::int32_t starts = 0;
    for (std::size_t i = 0; i < n; ++i) {
        auto [header, data] = EncodeFrame(frames[i]);
        header.Starts = starts;
        header.ToBytes(out.data() + 4 + kiv::IconHeaderSize * i);
        out.insert(out.end(), data.begin(), data.end());
        starts += header.Bytes;
    }
    return out;
}

std::vector<std::uint8_t> BuildDemoArchive() {
    const std::vector<DemoMember> members = DemoMembers();
    const std::size_t n = members.size();
    std::vector<std::uint8_t> out(8 + kiv::ArchiveEntrySize * n, 0);
    PutWord(out, 0, static_cast<std::int32_t>(n));
    PutWord(out, 4, static_cast<std::int32_t>(out.size()));
    for (std::size_t i = 0; i < n; ++i) {
        const std::vector<std::uint8_t> sprite = BuildDemoSprite(members[i].Frames);
        out.insert(out.end(), sprite.begin(), sprite.end());
        const std::size_t entry = 8 + kiv::ArchiveEntrySize * i;
        std::copy(members[i].Name.begin(), members[i].Name.end(),
                  out.begin() + static_cast<std::ptrdiff_t>(entry));
        PutWord(out, entry + kiv::ArchiveNameSize, static_cast<std::int32_t>(out.size()));
    }
    return out;
}

int DemoCommand(const Context& ctx, const std::string& dir, bool force) {
    return Guarded(ctx, [&] {
        if (!MakeFolder(ctx, dir))
            return ExitFailure;
        const std::string path = JoinPath(dir, "Modgen.dat");
        RuledOutput out(ctx, path, force);
        out.Lock();
        const int status = out.Write(BuildDemoArchive());
        if (status == ExitOk)
            ctx.out << path << '\n';
        return status;
    });
}

} // namespace kivtool

namespace kivtool {

namespace {

struct DemoArgs {
    std::string Dir;
    bool Force = false;
};

} // namespace

void RegisterDemoCommand(CommandSet& set) {
    auto a = std::make_shared<DemoArgs>();
    CLI::App* sub = set.Add(
        "demo",
        "Write a demo archive DIR/Modgen.dat of procedurally drawn sprites and print its path.",
        "kivtool demo demo", [a](const Context& c) { return DemoCommand(c, a->Dir, a->Force); });
    sub->add_option("DIR", a->Dir, "Folder to write into (made when missing)")->required();
    AddForce(sub, a->Force, kForceFile);
}

} // namespace kivtool

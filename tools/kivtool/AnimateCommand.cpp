#include "AnimateCommand.h"

#include "CommandSet.h"
#include "CommandSupport.h"
#include "OutputRule.h"
#include "SpriteSupport.h"

#include "archive/MemberSummary.h"
#include "sprite/Animation.h"
#include "sprite/IconDecoder.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <memory>
#include <optional>

namespace kivtool {

namespace {

struct IconRange {
    std::int64_t First = 0;
    std::optional<std::int64_t> Last;
};

std::optional<std::int64_t> WholeNumber(const std::string& text) {
    std::int64_t value = 0;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(text.data(), last, value);
    if (text.empty() || ec != std::errc() || end != last || value < 0)
        return std::nullopt;
    return value;
}

// "3" or "3-8".
std::optional<IconRange> ParseRange(const std::string& text) {
    const std::size_t dash = text.find('-');
    IconRange range;
    const auto first = WholeNumber(text.substr(0, dash));
    if (!first)
        return std::nullopt;
    range.First = *first;
    if (dash != std::string::npos) {
        range.Last = WholeNumber(text.substr(dash + 1));
        if (!range.Last)
            return std::nullopt;
    }
    return range;
}

// "RRGGBB" in hexadecimal.
std::optional<kiv::TColor> ParseColour(const std::string& text) {
    if (text.size() != 6)
        return std::nullopt;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + 6, value, 16);
    if (ec != std::errc() || end != text.data() + 6)
        return std::nullopt;
    return kiv::RGB(value >> 16, value >> 8, value);
}

std::optional<kiv::AnimationBackground> ParseBackground(const std::string& text) {
    if (text == "transparent")
        return kiv::AnimationBackground{};
    if (const auto colour = ParseColour(text))
        return kiv::AnimationBackground{false, *colour};
    return std::nullopt;
}

// The sprite to animate: a sprite file's table, or a member's read inside its archive.
bool LoadSprite(const Context& ctx, const std::string& path, const std::string* member,
                kiv::TIconTable& table) {
    if (!member) {
        SpriteFileLooksRight(ctx, path); // a warning: the icons are shown anyway
        return LoadTableOrFail(ctx, path, table);
    }
    kiv::ArchiveListing listing;
    MemberRef ref;
    if (!ListOrFail(ctx, path, listing) || !FindMember(ctx, listing, *member, ref))
        return false;
    const kiv::MemberSummary summary = kiv::SummariseMember(path, ref.Entry.Start);
    if (!summary.Opened) {
        Fail(ctx, kiv::MainDataFileNotFound);
        return false;
    }
    table = kiv::MemberIconTable(path, ref.Entry.Start, summary);
    if (summary.MemberIconCount > kiv::MaxIcons)
        Err(ctx) << kiv::MaxIconsExceeded << '\n';
    return true;
}

} // namespace

int AnimateCommand(const Context& ctx, const AnimateOptions& options) {
    return Guarded(ctx, [&] {
        const std::vector<std::string>& in = options.Inputs;
        if (in.empty() || in.size() > 3)
            return Fail(ctx,
                        "animate takes SPRITE [FIRST[-LAST]] or ARCHIVE MEMBER [FIRST[-LAST]]");
        // Two inputs are a sprite and its icons when the second reads as icons, else an
        // archive and its member.
        std::optional<IconRange> range;
        const std::string* member = nullptr;
        if (in.size() == 3 || (in.size() == 2 && !ParseRange(in[1])))
            member = &in[1];
        if (in.size() == 3 || (in.size() == 2 && !member)) {
            range = ParseRange(in.back());
            if (!range) {
                Err(ctx) << "Icons are given as FIRST or FIRST-LAST, such as 1-6, not "
                         << EscapedText(in.back()) << '\n';
                return ExitUsage;
            }
        }
        const auto format = kiv::AnimationFormatOf(options.OutPath);
        const auto background = ParseBackground(options.Background);
        const auto mode = kiv::PlayModeNamed(options.Mode);
        if (!format || !background || !mode || options.Fps < 1 || options.Fps > 60 ||
            options.Scale < 1 || options.Scale > 16) {
            Err(ctx) << (!format       ? "The output must end in .gif or .png."
                         : !background ? "--background is transparent or a colour as RRGGBB."
                         : !mode       ? "--mode is loop, bounce or once."
                         : options.Fps < 1 || options.Fps > 60 ? "--fps is 1 to 60."
                                                               : "--scale is 1 to 16.")
                     << '\n';
            return ExitUsage;
        }
        const std::string& source = in[0];
        RuledOutput out(ctx, options.OutPath, options.Force);
        if (!out.NotInput(source, member ? "the archive it is read from"
                                         : "the sprite file it is read from"))
            return ExitFailure;
        out.Lock();
        kiv::TIconTable table;
        if (!LoadSprite(ctx, source, member, table))
            return ExitFailure;
        const std::int64_t first = range ? range->First : 1;
        if (!IconInRange(ctx, table, first))
            return ExitFailure;
        const std::int64_t last = range && range->Last
                                      ? *range->Last
                                      : kiv::RunEnd(table, static_cast<int>(first - 1)) + 1;
        if (last < first)
            return Fail(ctx, "The last icon " + std::to_string(last) + " comes before the first, " +
                                 std::to_string(first) + ".");
        if (!IconInRange(ctx, table, last))
            return ExitFailure;

        auto file = kiv::InFile::Open(table.Path);
        if (!file)
            return Fail(ctx, member ? kiv::MainDataFileNotFound : kiv::SpriteFileNotFound);
        out.Watch(file->Stamp());
        const kiv::AnimationFrames frames = kiv::DecodeAnimation(
            *file, table, static_cast<int>(first - 1), static_cast<int>(last - 1));
        file.reset();
        for (int icon : frames.EndedEarly)
            Err(ctx) << kiv::EndedEarlyWarning(icon) << '\n';

        kiv::AnimationOptions animation;
        animation.Fps = options.Fps;
        animation.Mode = *mode;
        animation.Scale = options.Scale;
        animation.Background = *background;
        const kiv::AnimationFile made = kiv::EncodeAnimation(frames.Frames, animation, *format);
        if (made.ReducedFrames > 0)
            Err(ctx) << "Warning: " << EscapedText(options.OutPath) << ": " << made.ReducedFrames
                     << (made.ReducedFrames == 1 ? " frame has" : " frames have")
                     << " more than 256 colours; " << made.ChangedPixels
                     << (made.ChangedPixels == 1 ? " pixel" : " pixels") << " changed colour\n";
        return out.Write(made.Bytes);
    });
}

void RegisterAnimateCommand(CommandSet& set) {
    auto options = std::make_shared<AnimateOptions>();
    CLI::App* sub = set.Add(
        "animate",
        "Play icons FIRST to LAST of a sprite as an animated GIF or PNG (by OUT's extension), "
        "each icon as its whole frame, as the Animation window plays them. Default icons: from "
        "FIRST (default 1) through the following icons of its frame size. A PNG keeps every "
        "colour; a GIF frame keeps its colours when it has at most 256 (the background "
        "transparent), else it is reduced to 256 and a warning counts the pixels that changed.",
        "kivtool animate hero.s16 1-6 -o walk.gif --fps 8 --mode bounce\n"
        "  kivtool animate Modgen.dat hero.s16 1-6 -o walk.png",
        [options](const Context& ctx) { return AnimateCommand(ctx, *options); });
    sub->add_option("SPRITE", options->Inputs,
                    "A sprite file, or an archive and a member's name (or #N) as preview takes "
                    "them; then the icons as FIRST or FIRST-LAST, from 1")
        ->required()
        ->expected(1, 3);
    sub->add_option("-o,--output", options->OutPath, "The animation to write: .gif or .png")
        ->required();
    sub->add_option("--fps", options->Fps, "Frames a second, 1 to 60 (default 10)")
        ->check(CLI::Range(1, 60));
    sub->add_option("--mode", options->Mode, "loop (default), bounce (forwards, then back) or once")
        ->check(CLI::IsMember({"loop", "bounce", "once"}));
    sub->add_option("--scale", options->Scale, "Every pixel a square of N, 1 to 16 (default 1)")
        ->check(CLI::Range(1, 16));
    sub->add_option("--background", options->Background,
                    "transparent (default) or a colour as RRGGBB for the background around and "
                    "inside the icons")
        ->check(CLI::Validator(
            [](std::string& text) {
                return ParseBackground(text) ? std::string()
                                             : "transparent or RRGGBB is needed, not " + text;
            },
            "transparent|RRGGBB", "background"));
    AddForce(sub, options->Force, kForceFile);
}

} // namespace kivtool

#include "CommandSet.h"

#include "CommandSupport.h"

#include <CLI/CLI.hpp>

#include <charconv>

namespace kivtool {

CLI::App* CommandSet::Add(const std::string& name, const std::string& description,
                          const std::string& example, CommandRun run, CLI::App* parent) {
    CLI::App* sub = (parent ? *parent : app_).add_subcommand(name, description);
    sub->footer("Example:\n  " + example);
    commands_.emplace_back(sub, std::move(run));
    return sub;
}

CLI::App* CommandSet::AddGroup(const std::string& name, const std::string& description,
                               const std::string& example) {
    CLI::App* group = app_.add_subcommand(name, description);
    group->footer("Example:\n  " + example);
    group->require_subcommand(1);
    return group;
}

int CommandSet::RunParsed(const Context& ctx) const {
    for (const auto& [command, run] : commands_) {
        if (command->parsed()) {
            const int status = run(ctx);
            ctx.out.flush();
            return status;
        }
    }
    return ExitUsage;
}

void AddArchive(CLI::App* sub, std::string& archive) {
    sub->add_option("ARCHIVE", archive, "The data archive, such as Modgen.dat")->required();
}

void AddMember(CLI::App* sub, std::string& member) {
    sub->add_option("MEMBER", member, "A member's name as listed, or #N for listing row N")
        ->required();
}

void AddSprite(CLI::App* sub, std::string& sprite) {
    sub->add_option("SPRITE", sprite, "An S16 or S17 sprite file")->required();
}

void AddIcon(CLI::App* sub, std::int64_t& icon) {
    const CLI::Validator wholeNumber(
        [](std::string& text) {
            std::int64_t value = 0;
            const char* last = text.data() + text.size();
            const auto [end, ec] = std::from_chars(text.data(), last, value);
            if (ec == std::errc() && end == last)
                return std::string();
            return "an icon number such as 3 is needed, not " + text;
        },
        "", "icon number");
    sub->add_option("ICON", icon, "Icon number, from 1")->required()->check(wholeNumber);
}

void AddPictureOutput(CLI::App* sub, std::string& out) {
    sub->add_option("-o,--output", out, "Picture to write: PNG when it ends in .png, else a bitmap")
        ->required();
}

void AddForce(CLI::App* sub, bool& force, const char* text) {
    sub->add_flag("--force", force, text);
}

void AddAllowLinks(CLI::App* sub, bool& allowLinks) {
    sub->add_flag("--allow-links", allowLinks,
                  "Take files that are symbolic links, or hard links (files with more than one "
                  "name), which may lead outside the folder (refused otherwise)");
}

void AddOnTwin(CLI::App* sub, bool& onTwin) {
    sub->add_flag("--on-twin", onTwin,
                  "Build on the output file when it exists already (the twin an earlier "
                  "run wrote), so earlier changes stay; SPRITE is read only when it "
                  "does not");
}

void AddBackground(CLI::App* sub, std::string& background) {
    const CLI::Validator colour(
        [](std::string& text) {
            try {
                ColourOption(text);
                return std::string();
            } catch (const std::exception& e) {
                return std::string(e.what());
            }
        },
        "RRGGBB", "colour");
    sub->add_option("--background", background,
                    "A colour, RRGGBB, that counts as the background as the background colour "
                    "does: for a picture flattened onto it (FFFFFF for white)")
        ->check(colour);
}

} // namespace kivtool

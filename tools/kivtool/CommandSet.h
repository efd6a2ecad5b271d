#pragma once
// How the command files declare kivtool's command line: each Register function adds its
// commands (with their options, bound to an options struct of the command's own) to the
// CommandSet, with what runs each one. main.cpp calls them in the order `kivtool --help`
// lists the commands, parses, and runs the command the line named.

#include "Commands.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace CLI {
class App;
}

namespace kivtool {

using CommandRun = std::function<int(const Context&)>;

class CommandSet {
public:
    explicit CommandSet(CLI::App& app) : app_(app) {}

    // A command of `parent` (the tool itself when null) with its one-line description, the
    // example its help ends with, and what runs it.
    CLI::App* Add(const std::string& name, const std::string& description,
                  const std::string& example, CommandRun run, CLI::App* parent = nullptr);
    // A command that only holds commands of its own (`sheet export`): one of them is needed.
    CLI::App* AddGroup(const std::string& name, const std::string& description,
                       const std::string& example);

    // Runs the command the parsed line named; ExitUsage when it named none.
    int RunParsed(const Context& ctx) const;

private:
    CLI::App& app_;
    std::vector<std::pair<CLI::App*, CommandRun>> commands_;
};

// The commands in the order `kivtool --help` lists them.
void RegisterArchiveCommands(CommandSet& set); // list headers extract replace test verify preview
void RegisterSpriteCommands(CommandSet& set);  // show collage reencode
void RegisterEditCommand(CommandSet& set);
void RegisterExportCommand(CommandSet& set);
void RegisterAnimateCommand(CommandSet& set);
void RegisterSheetCommands(CommandSet& set);
void RegisterDiffCommand(CommandSet& set);
void RegisterDemoCommand(CommandSet& set);
void RegisterThumbnailCommand(CommandSet& set);
void RegisterBatchCommands(CommandSet& set); // extract-all reimport import
void RegisterModCommands(CommandSet& set);

// Arguments several commands take, with the same words in every help.
void AddArchive(CLI::App* sub, std::string& archive);
void AddMember(CLI::App* sub, std::string& member);
void AddSprite(CLI::App* sub, std::string& sprite);
// ICON, a whole number (checked before it is stored, so one too large for the option is not
// cut to the largest one and then reported under a number the user never typed).
void AddIcon(CLI::App* sub, std::int64_t& icon);
// A picture output: PNG when it ends in .png, else a bitmap.
void AddPictureOutput(CLI::App* sub, std::string& out);

// Every command that writes takes --force; what it overrides depends on the kind of output.
inline constexpr const char* kForceFile =
    "Overwrite an existing output that differs from what would be written (kept otherwise)";
inline constexpr const char* kForceRebuild =
    "Replace an existing output even when it holds changes this rebuild would drop (kept "
    "otherwise)";
// A mod is made only as it is written: an existing one is kept whatever it holds.
inline constexpr const char* kForceMod = "Overwrite an existing mod file (kept otherwise)";
void AddForce(CLI::App* sub, bool& force, const char* text);

// Folders from others are data: links in them are refused unless asked for.
void AddAllowLinks(CLI::App* sub, bool& allowLinks);
void AddOnTwin(CLI::App* sub, bool& onTwin);
// --background RRGGBB, checked as ColourOption reads it.
void AddBackground(CLI::App* sub, std::string& background);

} // namespace kivtool

// kivtool: every operation of the archive browser and the sprite editor from the shell.
// This file only sets up the command line; each command file declares its own commands
// (CommandSet.h) and the commands themselves live in Commands.h.

#include "CommandSet.h"
#include "Commands.h"

#include "base/Platform.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>

namespace {

// --help-all, and the manual page made from it, shows the arguments of every command,
// those of a command's own commands (`sheet export`) included.
class ExpandingFormatter : public CLI::Formatter {
public:
    std::string make_subcommands(const CLI::App* app, CLI::AppFormatMode mode) const override {
        return CLI::Formatter::make_subcommands(
            app, mode == CLI::AppFormatMode::Sub ? CLI::AppFormatMode::All : mode);
    }
};

} // namespace

int main(int argc, char** argv) {
    kiv::platform::EndOnTerminationRequests();
    CLI::App app{"kivtool: list, show, extract, test and rebuild a sprite data archive, and "
                 "show, export and re-encode the icons of S16 sprite files.",
                 "kivtool"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "kivtool " KIV_VERSION);
    // Every command's help in one text; the manual page is made from it.
    app.set_help_all_flag("--help-all", "Print the help of every command");
    app.formatter(std::make_shared<ExpandingFormatter>());
    app.footer("Run 'kivtool COMMAND --help' for a command's arguments and an example.\n"
               "Outputs: no command writes over one of its own inputs (the rebuilds in place\n"
               "excepted). An existing output that differs from what a command would write is\n"
               "kept (exit 1; a rebuild keeps it only when it holds changes the rebuild would\n"
               "drop) unless --force; one that is already the same is left untouched.\n"
               "Exit status: 0 success, 1 failure (the reason on stderr), 2 usage error; 130,\n"
               "143 or 129 when interrupted, terminated or hung up before the output was put\n"
               "in place (the earlier file and nothing else is left); a request that comes\n"
               "once it is in place waits for the run to finish.\n"
               "Example:\n  kivtool demo demo && kivtool list demo/Modgen.dat");

    kivtool::CommandSet commands(app);
    kivtool::RegisterArchiveCommands(commands);
    kivtool::RegisterSpriteCommands(commands);
    kivtool::RegisterEditCommand(commands);
    kivtool::RegisterExportCommand(commands);
    kivtool::RegisterAnimateCommand(commands);
    kivtool::RegisterSheetCommands(commands);
    kivtool::RegisterDiffCommand(commands);
    kivtool::RegisterDemoCommand(commands);
    kivtool::RegisterThumbnailCommand(commands);
    kivtool::RegisterBatchCommands(commands);
    kivtool::RegisterModCommands(commands);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, std::cout, std::cerr);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, std::cout, std::cerr);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e, std::cout, std::cerr);
    } catch (const CLI::ParseError& e) {
        std::cerr << "kivtool: " << e.what() << "\n\n" << app.help();
        return kivtool::ExitUsage;
    }

    const kivtool::Context context{std::cout, std::cerr, kiv::platform::ErrorStreamIsTerminal()};
    return commands.RunParsed(context);
}

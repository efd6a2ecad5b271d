// Start-up: the application object, the browser, the hidden editor, then the event loop.
// One optional argument names a file to open (an archive, or a sprite file for the editor).
// The program always ends with exit code 0.

#include "KivUt1.h"
#include "S16Ed.h"
#include "StartupFile.h"

#include "vcl/Application.h"
#include "vcl/Dialogs.h"

#include "base/Platform.h"
#include "base/Termination.h"
#include "base/WorkFolder.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

// A platform that cannot start (no display) ends the program: the reason goes to the
// error output, and the exit code stays 0.
void ReportFatal(QtMsgType type, const QMessageLogContext&, const QString& message) {
    std::fprintf(stderr, "%s\n", qPrintable(message));
    if (type == QtFatalMsg) {
        std::fflush(stderr);
        std::_Exit(0);
    }
}

} // namespace

int main(int argc, char* argv[]) {
    qInstallMessageHandler(ReportFatal);
    kiv::CatchTerminationRequests();
    TGuardedApplication application(argc, argv);
    qInstallMessageHandler(nullptr);
    try {
        TApplication::SetTitle(TApplication::TitleFromExecutable(
            argc > 0 ? QString::fromLocal8Bit(argv[0]) : QStringLiteral("Kivutil")));
        // A file opened from a file manager: everything happens in its folder, whatever
        // folder the program was launched in.
        const QStringList arguments = QCoreApplication::arguments();
        const QString startupFile =
            arguments.size() > 1 ? EnterFolderOf(arguments.at(1)) : QString();
        QApplication::setQuitOnLastWindowClosed(false);
        // Work files of an earlier run that was killed go at the next start.
        kiv::SweepWorkFolders(kiv::platform::TempFolder());
        static QtDialogService dialogs;
        DialogService::Install(&dialogs);

        // A termination request closes the browser like its close box does, so the program
        // still ends through the event loop with exit code 0.
        QTimer terminate;
        terminate.setInterval(100);
        QObject::connect(&terminate, &QTimer::timeout, [&terminate] {
            if (!kiv::TerminationRequested())
                return;
            terminate.stop();
            if (MainForm)
                MainForm->close();
            else
                QCoreApplication::quit();
        });
        terminate.start();

        MainForm = new TMainForm;
        EditForm = new TEditForm;
        QuitWhenBrowserCloses();

        MainForm->show();
        MainForm->activateWindow();
        if (!startupFile.isEmpty())
            OpenStartupFile(startupFile);
        QApplication::exec();

        delete EditForm;
        EditForm = nullptr;
        delete MainForm;
        MainForm = nullptr;
    } catch (const std::exception& error) {
        TApplication::HandleException(error);
    } catch (...) {
        DialogService::Instance().ShowError(QStringLiteral("Unexpected error."),
                                            TApplication::Title());
    }
    DialogService::Install(nullptr);
    return 0;
}

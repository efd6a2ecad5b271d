// Start-up: the application object, the browser, the hidden editor, then the event loop.
// The program takes no arguments and always ends with exit code 0.

#include "KivUt1.h"
#include "S16Ed.h"

#include "vcl/Application.h"
#include "vcl/Dialogs.h"

#include <QApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(SignalPipe[1], &byte, 1);
}

// A termination request (SIGTERM, SIGINT) closes the browser like its close box does, so
// the program still ends through the event loop with exit code 0. A request that arrived
// before this point was held back by a blocked signal mask and is taken now.
void CatchTerminationSignals() {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, SignalPipe) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigset_t requests;
    sigemptyset(&requests);
    sigaddset(&requests, SIGTERM);
    sigaddset(&requests, SIGINT);
    sigprocmask(SIG_UNBLOCK, &requests, nullptr);
}

// A platform that cannot start (no display) ends the program: the reason goes to the
// error output, and the exit code stays 0.
void ReportFatal(QtMsgType type, const QMessageLogContext&, const QString& message) {
    std::fprintf(stderr, "%s\n", qPrintable(message));
    if (type == QtFatalMsg) {
        std::fflush(stderr);
        std::_Exit(0);
    }
}

// Closing the browser ends the program, also while the editor is shown.
class MainWindowCloser : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == MainForm && event->type() == QEvent::Close)
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        return false;
    }
};

} // namespace

int main(int argc, char* argv[]) {
    qInstallMessageHandler(ReportFatal);
    CatchTerminationSignals();
    TGuardedApplication application(argc, argv);
    qInstallMessageHandler(nullptr);
    try {
        TApplication::SetTitle(TApplication::TitleFromExecutable(
            argc > 0 ? QString::fromLocal8Bit(argv[0]) : QStringLiteral("Kivutil")));
        QApplication::setQuitOnLastWindowClosed(false);
        static QtDialogService dialogs;
        DialogService::Install(&dialogs);

        QSocketNotifier terminate(SignalPipe[0], QSocketNotifier::Read);
        terminate.setEnabled(SignalPipe[0] >= 0);
        QObject::connect(&terminate, &QSocketNotifier::activated, [] {
            char byte;
            [[maybe_unused]] ssize_t got = ::read(SignalPipe[0], &byte, 1);
            if (MainForm)
                MainForm->close();
            else
                QCoreApplication::quit();
        });

        MainForm = new TMainForm;
        MainWindowCloser closer;
        MainForm->installEventFilter(&closer);
        EditForm = new TEditForm;

        MainForm->show();
        MainForm->activateWindow();
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

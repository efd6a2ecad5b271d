#pragma once
// The application object: its title, the guard every event handler runs in, the error box,
// and the hourglass cursor.

#include <QApplication>
#include <QString>
#include <exception>
#include <functional>

class TApplication {
public:
    // The title: the executable's file name without folder, cut at the first ".", every
    // character after the first lower-cased ("KIVUTIL.EXE" -> "Kivutil").
    static QString TitleFromExecutable(const QString& executablePath);
    static QString Title();
    static void SetTitle(const QString& title);

    // Runs one handler. An error that escapes it ends it: EAbort is dropped, any other error
    // is shown in the error box (its message followed by ".", the title as caption, stop
    // icon), a mouse capture is released, and the program goes on.
    static void Guard(const std::function<void()>& handler);
    static void HandleException(const std::exception& error);
    // An error that is no std::exception: "Unexpected error.".
    static void HandleUnknownException();
};

// The program's Qt application object. Every event is dispatched inside the guard, so an
// error that escapes outside any handler (painting, a resize no handler runs for) is shown
// in the error box like any other and never unwinds through Qt.
class TGuardedApplication : public QApplication {
public:
    TGuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;
};

// The hourglass while it lives; the cursor from before is back on every way out.
class HourGlassCursor {
public:
    HourGlassCursor();
    ~HourGlassCursor();
    HourGlassCursor(const HourGlassCursor&) = delete;
    HourGlassCursor& operator=(const HourGlassCursor&) = delete;
};

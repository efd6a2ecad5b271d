#include "vcl/Application.h"

#include "base/Errors.h"
#include "vcl/Dialogs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>
#include <algorithm>

namespace {

QString& StoredTitle() {
    static QString title;
    return title;
}

// A window left holding the mouse would keep every click to itself after the box.
void ReleaseMouseCapture() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
}

} // namespace

QString TApplication::TitleFromExecutable(const QString& executablePath) {
    qsizetype slash = std::max(executablePath.lastIndexOf(QLatin1Char('/')),
                               executablePath.lastIndexOf(QLatin1Char('\\')));
    QString name = executablePath.mid(slash + 1);
    qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

QString TApplication::Title() {
    QString& title = StoredTitle();
    if (title.isEmpty() && QCoreApplication::instance()) {
        const QStringList arguments = QCoreApplication::arguments();
        if (!arguments.isEmpty())
            title = TitleFromExecutable(arguments.first());
    }
    return title;
}

void TApplication::SetTitle(const QString& title) {
    StoredTitle() = title;
}

void TApplication::Guard(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        HandleException(error);
    } catch (...) {
        HandleUnknownException();
    }
}

void TApplication::HandleUnknownException() {
    ReleaseMouseCapture();
    DialogService::Instance().ShowError(QStringLiteral("Unexpected error."), Title());
}

bool TGuardedApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        TApplication::HandleException(error);
    } catch (...) {
        TApplication::HandleUnknownException();
    }
    return false;
}

void TApplication::HandleException(const std::exception& error) {
    ReleaseMouseCapture();
    if (dynamic_cast<const kiv::EAbort*>(&error))
        return;
    // Always a period after the message, even when the message ends in one.
    DialogService::Instance().ShowError(
        QString::fromStdString(kiv::ErrorText(error)) + QLatin1Char('.'), Title());
}

HourGlassCursor::HourGlassCursor() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

HourGlassCursor::~HourGlassCursor() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QGuiApplication::restoreOverrideCursor();
}

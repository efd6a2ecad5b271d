#include "StartupFile.h"

#include "KivUt1.h"
#include "S16Ed.h"

#include "vcl/Application.h"

#include "base/Termination.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>

namespace {

bool IsSpriteFileName(const QString& path) {
    return path.endsWith(QStringLiteral(".s16"), Qt::CaseInsensitive) ||
           path.endsWith(QStringLiteral(".s17"), Qt::CaseInsensitive);
}

class BrowserCloser : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != MainForm || event->type() != QEvent::Close)
            return false;
        if (!kiv::TerminationRequested() && EditForm && !EditForm->MayQuit()) {
            event->ignore();
            return true;
        }
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        return false;
    }
};

} // namespace

void QuitWhenBrowserCloses() {
    MainForm->installEventFilter(new BrowserCloser(MainForm));
}

QString EnterFolderOf(const QString& path) {
    const QFileInfo file(path);
    const QString full = file.absoluteFilePath();
    QDir::setCurrent(file.absolutePath());
    return full;
}

void OpenStartupFile(const QString& path) {
    // The dialogs hand over full paths; so does this, whatever the folder becomes later.
    const QString full = QFileInfo(path).absoluteFilePath();
    TApplication::Guard([&] {
        if (IsSpriteFileName(path)) {
            MainForm->FormActivate(MainForm);
            MainForm->S16Editor1Click(MainForm);
            // Opened to be looked at: its first icon shows at once.
            if (EditForm->LoadS16File(full))
                EditForm->ShowBtnClick(EditForm->ShowBtn);
        } else {
            // The archive named here replaces the first listing of "Modgen.dat".
            KivUt1::FirstActivation = false;
            MainForm->LoadDataFile(full);
        }
    });
}

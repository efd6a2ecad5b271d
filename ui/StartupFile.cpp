#include "StartupFile.h"

#include "KivUt1.h"
#include "S16Ed.h"

#include "vcl/Application.h"

#include <QDir>
#include <QFileInfo>

namespace {

bool IsSpriteFileName(const QString& path) {
    return path.endsWith(QStringLiteral(".s16"), Qt::CaseInsensitive) ||
           path.endsWith(QStringLiteral(".s17"), Qt::CaseInsensitive);
}

} // namespace

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
            EditForm->LoadS16File(full);
        } else {
            // The archive named here replaces the first listing of "Modgen.dat".
            KivUt1::FirstActivation = false;
            MainForm->LoadDataFile(full);
        }
    });
}

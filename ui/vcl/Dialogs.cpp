#include "vcl/Dialogs.h"

#include "vcl/Application.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace {

DialogService*& Installed() {
    static DialogService* service = nullptr;
    return service;
}

// "*.*" means every file here, as the filter strings are written for; on this system it
// would only match names with a dot.
QString QtPatterns(const QString& patterns) {
    QStringList parts = patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& part : parts) {
        part = part.trimmed();
        if (part == QLatin1String("*.*"))
            part = QStringLiteral("*");
    }
    return parts.join(QLatin1Char(' '));
}

// The box's owner: the window the user is working in, so the box shows over it.
QWidget* BoxOwner() {
    return QApplication::activeWindow();
}

QMessageBox::StandardButton RunBox(QMessageBox::Icon icon, const QString& text,
                                   const QString& caption,
                                   QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                   QMessageBox::StandardButton byDefault = QMessageBox::Ok) {
    QMessageBox box(icon, caption, text, buttons, BoxOwner());
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.setDefaultButton(byDefault);
    // Closing the box without a button counts as the default.
    box.setEscapeButton(byDefault);
    box.exec();
    const auto clicked = box.standardButton(box.clickedButton());
    return clicked == QMessageBox::NoButton ? byDefault : clicked;
}

} // namespace

DialogService& DialogService::Instance() {
    static QtDialogService qtService;
    DialogService* service = Installed();
    return service ? *service : qtService;
}

void DialogService::Install(DialogService* service) {
    Installed() = service;
}

QString QtNameFilters(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString label = parts[i].trimmed();
        // The label usually shows its patterns already, "Data (*.dat)"; Qt reads the
        // patterns from a parenthesised tail, so the tail is replaced by the real ones.
        if (label.endsWith(QLatin1Char(')'))) {
            qsizetype open = label.lastIndexOf(QLatin1Char('('));
            if (open >= 0)
                label = label.left(open).trimmed();
        }
        filters << QStringLiteral("%1 (%2)").arg(label, QtPatterns(parts[i + 1]));
    }
    return filters.join(QStringLiteral(";;"));
}

bool QtDialogService::RunFileDialog(FileDialogRequest& request) {
    QFileDialog dialog(BoxOwner());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAcceptMode(request.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // No options: any name may be typed, and saving over a file is not questioned twice.
    dialog.setFileMode(request.Multiple ? QFileDialog::ExistingFiles : QFileDialog::AnyFile);
    if (request.Save)
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    const QString filters = QtNameFilters(request.Filter);
    if (!filters.isEmpty()) {
        const QStringList list = filters.split(QStringLiteral(";;"));
        dialog.setNameFilters(list);
        int index = request.FilterIndex - 1;
        if (index >= 0 && index < list.size())
            dialog.selectNameFilter(list[index]);
    }
    dialog.setDefaultSuffix(request.DefaultExt);
    // With no file chosen before, the dialog opens where members are extracted and twins
    // are looked for, not wherever another program left Qt's last visited folder.
    if (request.FileName.isEmpty())
        dialog.setDirectory(QDir::currentPath());
    else
        dialog.selectFile(request.FileName);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return false;
    request.FileName = chosen.first();
    request.Files = chosen;
    const qsizetype chosenFilter =
        filters.split(QStringLiteral(";;")).indexOf(dialog.selectedNameFilter());
    if (chosenFilter >= 0)
        request.FilterIndex = static_cast<int>(chosenFilter) + 1;
    return true;
}

void QtDialogService::ShowMessage(const QString& text, const QString& caption) {
    RunBox(QMessageBox::NoIcon, text, caption);
}

void QtDialogService::ShowError(const QString& text, const QString& caption) {
    RunBox(QMessageBox::Critical, text, caption);
}

bool QtDialogService::AskYesNo(const QString& text, const QString& caption) {
    // No is the default: Enter, Escape and the close box all keep what is there.
    return RunBox(QMessageBox::Warning, text, caption, QMessageBox::Yes | QMessageBox::No,
                  QMessageBox::No) == QMessageBox::Yes;
}

int QtDialogService::AskChoice(const QString& text, const QString& caption,
                               const QStringList& choices) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::NoButton, BoxOwner());
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    std::vector<QPushButton*> buttons;
    for (qsizetype k = 0; k < choices.size(); ++k)
        buttons.push_back(box.addButton(choices[k], k + 1 < choices.size()
                                                        ? QMessageBox::AcceptRole
                                                        : QMessageBox::RejectRole));
    if (buttons.empty())
        return -1;
    // The way out is the default: Enter, Escape and the close box all change nothing.
    box.setDefaultButton(buttons.back());
    box.setEscapeButton(buttons.back());
    box.exec();
    const auto chosen = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    return static_cast<int>((chosen == buttons.end() ? buttons.end() - 1 : chosen) -
                            buttons.begin());
}

bool TOpenDialog::Execute() {
    FileDialogRequest request;
    request.Save = IsSave();
    request.Filter = Filter;
    request.FilterIndex = FilterIndex;
    request.DefaultExt = DefaultExt;
    request.FileName = FileName;
    request.Multiple = AllowMultiSelect && !IsSave();
    if (!DialogService::Instance().RunFileDialog(request))
        return false;
    FileName = request.FileName;
    Files = request.Files.isEmpty() ? QStringList{FileName} : request.Files;
    FilterIndex = request.FilterIndex;
    return true;
}

void ShowMessageBox(const QString& text, const QString& caption) {
    DialogService::Instance().ShowMessage(text, caption);
}

bool AskYesNoBox(const QString& text) {
    return DialogService::Instance().AskYesNo(text, TApplication::Title());
}

int AskChoiceBox(const QString& text, const QStringList& choices) {
    return DialogService::Instance().AskChoice(text, TApplication::Title(), choices);
}

QString ListedNames(const QStringList& names, int shown) {
    if (names.size() <= 1)
        return names.join(QString());
    const qsizetype written = names.size() > shown ? shown : names.size() - 1;
    const QString last =
        names.size() > shown ? QStringLiteral("%1 more").arg(names.size() - written) : names.last();
    return names.first(written).join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

bool AskToDropChanges(const QString& file, const QString& what, const QString& kind,
                      const QString& action) {
    const QString anyway = QStringLiteral(" Replace %1 anyway?").arg(file);
    if (what.isEmpty())
        return AskYesNoBox(QStringLiteral("%1 is not a readable %2.").arg(file, kind) + anyway);
    return AskYesNoBox(QStringLiteral("%1 also holds changes to %2 that this %3 would drop.")
                           .arg(file, what, action) +
                       anyway);
}

#pragma once
// Every dialog and box of the tool goes through one DialogService. The program installs the
// Qt one; tests install a scripted one, so no test ever opens a real modal window.

#include <QString>
#include <QStringList>

class QWidget;

// What a file dialog is asked to show, and what the user chose.
struct FileDialogRequest {
    bool Save = false;
    QString Filter; // "Data (*.dat)|*.dat|All files (*.*)|*.*" form
    int FilterIndex = 1;
    QString DefaultExt;    // without the dot; added to a chosen name that has no extension
    QString FileName;      // in: the name the dialog opens with; out: the chosen path
    bool Multiple = false; // an open dialog in which several existing files may be chosen
    QStringList Files;     // out: every chosen path, FileName the first
};

class DialogService {
public:
    virtual ~DialogService() = default;
    // Runs a file dialog; true when the user confirmed (request.FileName then holds the path).
    virtual bool RunFileDialog(FileDialogRequest& request) = 0;
    // The message box: text, caption, one OK button, no icon.
    virtual void ShowMessage(const QString& text, const QString& caption) = 0;
    // The error box: text, caption, one OK button, the stop icon.
    virtual void ShowError(const QString& text, const QString& caption) = 0;
    // The question box: text, caption, Yes and No buttons with No the default, owned like
    // the other boxes. True only when the user answered Yes.
    virtual bool AskYesNo(const QString& text, const QString& caption) = 0;
    // The question box with one button per choice, in order; the last is the way out
    // (Cancel): the default, and what Escape and the close box give. Returns the index of
    // the choice made.
    virtual int AskChoice(const QString& text, const QString& caption,
                          const QStringList& choices) = 0;

    // The service in force (the Qt one unless a test installed another).
    static DialogService& Instance();
    // Installs `service` (not owned); nullptr restores the Qt one.
    static void Install(DialogService* service);
};

// The real boxes and dialogs, modal, owned by the active window.
class QtDialogService : public DialogService {
public:
    bool RunFileDialog(FileDialogRequest& request) override;
    void ShowMessage(const QString& text, const QString& caption) override;
    void ShowError(const QString& text, const QString& caption) override;
    bool AskYesNo(const QString& text, const QString& caption) override;
    int AskChoice(const QString& text, const QString& caption, const QStringList& choices) override;
};

// "Filter|pattern|Filter|pattern" to Qt's ";;"-separated name filters.
QString QtNameFilters(const QString& filter);

// The open and save dialogs of the windows: each remembers the file name last chosen in it.
class TOpenDialog {
public:
    QString Filter;
    QString DefaultExt;
    QString FileName;
    int FilterIndex = 1;
    bool AllowMultiSelect = false;
    QStringList Files; // every file chosen: FileName alone unless AllowMultiSelect
    // Shows the dialog through the service; true when the user confirmed.
    bool Execute();

protected:
    virtual bool IsSave() const { return false; }

public:
    virtual ~TOpenDialog() = default;
};

class TSaveDialog : public TOpenDialog {
protected:
    bool IsSave() const override { return true; }
};

// A handler's own failure report: text, caption "Error" unless given, OK, no icon.
void ShowMessageBox(const QString& text, const QString& caption = QStringLiteral("Error"));

// Asks before a handler drops something the user may want kept, with the application title
// as caption; true only on Yes.
bool AskYesNoBox(const QString& text);

// AskChoice with the application title as caption.
int AskChoiceBox(const QString& text, const QStringList& choices);

// "a", "a and b", "a, b and c", then "a, b, c and 4 more": names for a question, the first
// `shown` of them written out.
QString ListedNames(const QStringList& names, int shown = 3);

// Asks before a rebuild replaces `file` although it holds changes the rebuild would drop:
// "FILE also holds changes to WHAT that this ACTION would drop. Replace FILE anyway?", or,
// with no `what`, "FILE is not a readable KIND. Replace FILE anyway?". True on Yes.
bool AskToDropChanges(const QString& file, const QString& what, const QString& kind,
                      const QString& action = QStringLiteral("Replace"));

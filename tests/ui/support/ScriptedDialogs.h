#pragma once
// A DialogService for tests: file dialogs and questions answer from a script, boxes are
// recorded.

#include "vcl/Dialogs.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

struct RecordedBox {
    bool Error = false;    // the error box (stop icon) rather than the message box
    bool Question = false; // the Yes/No box
    QString Text;
    QString Caption;
};

class ScriptedDialogs : public DialogService {
public:
    ScriptedDialogs() { DialogService::Install(this); }
    ~ScriptedDialogs() override { DialogService::Install(nullptr); }

    // The next file dialog confirms `path`; Cancel() makes the next one cancelled.
    void Choose(const QString& path) { answers_.push_back(path); }
    void Cancel() { answers_.push_back(std::nullopt); }
    // The next file dialog, one that allows it, confirms several paths.
    void ChooseMany(const QStringList& paths) { answers_.push_back(paths.join('\n')); }
    // The next question is answered Yes (or No); unscripted ones get the default, No.
    void Answer(bool yes) { replies_.push_back(yes); }

    bool RunFileDialog(FileDialogRequest& request) override {
        requests.push_back(request);
        if (answers_.empty())
            return false; // nothing scripted: the user cancels
        auto answer = answers_.front();
        answers_.pop_front();
        if (!answer)
            return false;
        request.Files = answer->split('\n');
        request.FileName = request.Files.first();
        return true;
    }
    void ShowMessage(const QString& text, const QString& caption) override {
        boxes.push_back({false, false, text, caption});
    }
    void ShowError(const QString& text, const QString& caption) override {
        boxes.push_back({true, false, text, caption});
    }
    bool AskYesNo(const QString& text, const QString& caption) override {
        boxes.push_back({false, true, text, caption});
        if (replies_.empty())
            return false;
        const bool yes = replies_.front();
        replies_.pop_front();
        return yes;
    }

    // Texts of every box shown so far, in order.
    QStringList Texts() const {
        QStringList texts;
        for (const auto& box : boxes)
            texts << box.Text;
        return texts;
    }
    void Clear() {
        boxes.clear();
        requests.clear();
    }

    std::vector<RecordedBox> boxes;
    std::vector<FileDialogRequest> requests;

private:
    std::deque<std::optional<QString>> answers_;
    std::deque<bool> replies_;
};

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
    bool Question = false; // the Yes/No box, or one of choices
    QString Text;
    QString Caption;
    QStringList Choices = {}; // the buttons of a question of choices
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
    // The next question of choices gets choice `index`; unscripted ones get the last (the
    // way out).
    void Pick(int index) { picks_.push_back(index); }

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

    int AskChoice(const QString& text, const QString& caption,
                  const QStringList& choices) override {
        boxes.push_back({false, true, text, caption, choices});
        const int wayOut = static_cast<int>(choices.size()) - 1;
        if (picks_.empty())
            return wayOut;
        const int index = picks_.front();
        picks_.pop_front();
        return index;
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
    std::deque<int> picks_;
};

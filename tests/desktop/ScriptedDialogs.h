#pragma once
// Dialogs answered by the test: every message box, input box and folder chooser is recorded,
// and answered from queues (an empty queue or a null string answers "cancel"; Yes/No boxes
// answer Yes when their queue is empty). whileOpen runs while any of them is open, as a request
// arriving then would.

#include "desktop/Dialogs.h"

#include <QDialog>
#include <QUrl>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pelotest::test {

class ScriptedDialogs : public desktop::Dialogs {
  public:
    struct Shown {
        desktop::MessageKind kind;
        QString text;
        // The language the message boxes were told to speak (nullopt: the current one).
        std::optional<std::string> language;
    };
    struct FolderQuestion {
        QString title;
        QString initial;
    };

    // A confirmation takes its answer from confirmations first; any box then from answers
    // (Yes/OK when both are empty).
    bool message(desktop::MessageKind kind, const QString& text) override {
        messages.push_back({kind, text, language});
        if (whileOpen)
            whileOpen();
        const bool confirmation = kind == desktop::MessageKind::Confirmation ||
                                  kind == desktop::MessageKind::ConfirmationNoByDefault;
        if (confirmation && !confirmations.empty()) {
            const bool yes = confirmations.front();
            confirmations.pop_front();
            return yes;
        }
        if (answers.empty())
            return true;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void setMessageLanguage(std::optional<std::string> languageDll) override {
        language = std::move(languageDll);
    }
    bool openUrl(const QUrl& url) override {
        opened.push_back(url);
        return browserStarts;
    }
    // Whether the desktop starts a program for an address handed to it.
    bool browserStarts = true;
    std::optional<QString> input(const QString& caption, const QString& prompt,
                                 const QString& preset) override {
        prompts.push_back(prompt + QLatin1Char('|') + preset);
        captions.push_back(caption);
        if (whileOpen)
            whileOpen();
        return pop(inputs);
    }
    // The window's own dialogs: answered by modal (unset: cancelled).
    bool showModal(QDialog& dialog) override {
        modalTitles.push_back(dialog.windowTitle());
        if (whileOpen)
            whileOpen();
        return modal ? modal(dialog) : false;
    }
    std::optional<QString> chooseFolder(const QString& title, const QString& initial) override {
        folderQuestions.push_back({title, initial});
        return pop(folders);
    }

    std::vector<Shown> messages;
    std::vector<QString> prompts;
    std::vector<FolderQuestion> folderQuestions;
    std::deque<QString> inputs, folders;
    std::vector<QString> captions, modalTitles;
    std::deque<bool> confirmations;
    std::function<void()> whileOpen;
    std::function<bool(QDialog&)> modal;
    std::deque<bool> answers;
    std::vector<QUrl> opened;
    std::optional<std::string> language;

  private:
    static std::optional<QString> pop(std::deque<QString>& queue) {
        if (queue.empty())
            return std::nullopt;
        const QString answer = queue.front();
        queue.pop_front();
        if (answer.isNull())
            return std::nullopt;
        return answer;
    }
};

} // namespace pelotest::test

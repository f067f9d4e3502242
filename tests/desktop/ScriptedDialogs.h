#pragma once
// Dialogs answered by the test: every message box, input box and folder chooser is recorded,
// and answered from queues (an empty queue or a null string answers "cancel").

#include "desktop/Dialogs.h"

#include <QUrl>

#include <deque>
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

    // Answers from answers (Yes/OK when it is empty).
    bool message(desktop::MessageKind kind, const QString& text) override {
        messages.push_back({kind, text, language});
        if (answers.empty())
            return true;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void setMessageLanguage(std::optional<std::string> languageDll) override {
        language = std::move(languageDll);
    }
    void openUrl(const QUrl& url) override { opened.push_back(url); }
    std::optional<QString> input(const QString&, const QString& prompt,
                                 const QString& preset) override {
        prompts.push_back(prompt + QLatin1Char('|') + preset);
        return pop(inputs);
    }
    std::optional<QString> chooseFolder(const QString& title, const QString& initial) override {
        folderQuestions.push_back({title, initial});
        return pop(folders);
    }

    std::vector<Shown> messages;
    std::vector<QString> prompts;
    std::vector<FolderQuestion> folderQuestions;
    std::deque<QString> inputs, folders;
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

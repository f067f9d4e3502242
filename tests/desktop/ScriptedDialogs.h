#pragma once
// Dialogs answered by the test: every message box, input box and folder chooser is recorded,
// and answered from queues (an empty queue or a null string answers "cancel").

#include "desktop/Dialogs.h"

#include <deque>
#include <optional>
#include <vector>

namespace pelotest::test {

class ScriptedDialogs : public desktop::Dialogs {
  public:
    struct Shown {
        desktop::MessageKind kind;
        QString text;
    };
    struct FolderQuestion {
        QString title;
        QString initial;
    };

    bool message(desktop::MessageKind kind, const QString& text) override {
        messages.push_back({kind, text});
        return true;
    }
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

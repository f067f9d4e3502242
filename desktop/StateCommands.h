#pragma once
// The window's one way into the shared state, apart from the item models' copies: every read is
// a copy taken under the state lock, every change one short locked step. No method touches a
// widget or opens a dialog while it holds the lock (the one exception, a question about a
// folder's variable, releases it while the box is open), and no file is read or written under
// it. Any thread may call these; the window calls them from its own. Callers never hold the lock.

#include "state/AppState.h"
#include "state/Host.h"
#include "state/PersistentState.h"

#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace pelotest::desktop {

class StateCommands {
  public:
    explicit StateCommands(AppState& state) : state_(state) {}

    // Copies.
    Settings settings() const EXCLUDES(state_.mutex);
    VariableSortState variablesSort() const EXCLUDES(state_.mutex);
    std::optional<std::string> variableValue(const std::string& name) const EXCLUDES(state_.mutex);
    // A key of the settings file as it was read or last written ([Const] keys, say).
    std::string fileKey(std::string_view section, std::string_view key,
                        std::string_view fallback) const EXCLUDES(state_.mutex);
    // Both folders are chosen and the tree has an event: the general tab can show its lists.
    bool setUp() const EXCLUDES(state_.mutex);
    // Whether the log holds a request of this run (rows loaded from the settings file carry no
    // time).
    bool requestLogged() const EXCLUDES(state_.mutex);
    // A node of the tree, copied; nullopt when it is no longer in the tree.
    struct NodeCopy {
        std::string text;
        bool entry = false; // the tree's first node, the start page's
    };
    std::optional<NodeCopy> node(const TreeNode* node) const EXCLUDES(state_.mutex);

    // Changes.
    void changeSettings(const std::function<void(Settings&)>& change) EXCLUDES(state_.mutex);
    // Makes fileName the current language; false when it already was.
    bool chooseLanguage(const std::string& fileName) EXCLUDES(state_.mutex);
    void setSettingsReadOnly(bool readOnly) EXCLUDES(state_.mutex);
    // Another node, row or log entry is the selected one (the file keeps the selection).
    void markTreeChanged() EXCLUDES(state_.mutex);
    void markVariablesChanged() EXCLUDES(state_.mutex);
    void markLogChanged() EXCLUDES(state_.mutex);
    // The node's text becomes newText(its text, whether it is the entry node); false when the
    // node is no longer in the tree.
    bool rewriteNode(TreeNode* node,
                     const std::function<std::string(const std::string&, bool)>& newText)
        EXCLUDES(state_.mutex);
    // The variable's value as typed, in the site's encoding; one that a request removed comes
    // back at the end of the list.
    void setVariable(const std::string& name, const QString& typed) EXCLUDES(state_.mutex);
    // A variable removed, with the row it stood in, so that it can be put back.
    struct RemovedVariable {
        std::string name, value;
        std::size_t row = 0;
    };
    std::optional<RemovedVariable> removeVariable(const std::string& name) EXCLUDES(state_.mutex);
    // Puts a removed variable back in its row, unless a request has set the name again meanwhile
    // (its value is the newer one).
    void restoreVariable(const RemovedVariable& removed) EXCLUDES(state_.mutex);
    void resetVariableMarks() EXCLUDES(state_.mutex);
    void clearLog() EXCLUDES(state_.mutex);
    // The language export's folder, kept in the state and in the settings file at once (the file
    // is written after the lock is released; a read-only file is not written).
    void rememberExportFolder(const std::string& folder) EXCLUDES(state_.mutex);

    // The templates folder with its variables put in. With askUser the user is asked for each
    // variable (the lock is released while the box is open) and the rows found are marked.
    ExpandedFolder templatesFolder(ProgramHost& host, bool askUser,
                                   UiText captionId = UiText::DynamicPathCaption,
                                   UiText promptId = UiText::DynamicPathPrompt)
        EXCLUDES(state_.mutex);

    // Writes the state to the settings file: the file is read and written with the lock free,
    // and the state composed into it in one short locked step (serverActive and placement
    // included). lockWait bounds the wait for the lock (a request that does not end may hold
    // it). False when the file was not written (the reason in *failure); a read-only file is
    // never written, and that counts as saved.
    bool save(const WindowPlacement& placement, bool serverActive,
              std::chrono::milliseconds lockWait, std::string* failure = nullptr)
        EXCLUDES(state_.mutex);

  private:
    AppState& state_;
};

} // namespace pelotest::desktop

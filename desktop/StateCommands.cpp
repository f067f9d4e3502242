#include "desktop/StateCommands.h"

#include "desktop/Text.h"

namespace pelotest::desktop {

Settings StateCommands::settings() const {
    const StateLock lock(state_.mutex);
    return state_.settings;
}

VariableSortState StateCommands::variablesSort() const {
    const StateLock lock(state_.mutex);
    return state_.variablesSort;
}

std::optional<std::string> StateCommands::variableValue(const std::string& name) const {
    const StateLock lock(state_.mutex);
    if (const auto row = state_.variables.find(name))
        return state_.variables[*row].value;
    return std::nullopt;
}

std::string StateCommands::fileKey(std::string_view section, std::string_view key,
                                   std::string_view fallback) const {
    const StateLock lock(state_.mutex);
    return state_.profile.readString(section, key, fallback);
}

bool StateCommands::setUp() const {
    const StateLock lock(state_.mutex);
    const auto& roots = state_.tree.roots();
    const bool events = roots.size() > 1 || (!roots.empty() && !roots.front()->children.empty());
    return !state_.settings.dynamicPath.empty() && !state_.settings.staticPath.empty() && events;
}

bool StateCommands::requestLogged() const {
    const StateLock lock(state_.mutex);
    const auto& rows = state_.log.rows();
    return !rows.empty() && rows.front().loggedAt != 0;
}

std::optional<StateCommands::NodeCopy> StateCommands::node(const TreeNode* node) const {
    const StateLock lock(state_.mutex);
    if (!node || !state_.tree.contains(node))
        return std::nullopt;
    return NodeCopy{node->text, node == state_.tree.first()};
}

void StateCommands::changeSettings(const std::function<void(Settings&)>& change) {
    const StateLock lock(state_.mutex);
    change(state_.settings);
}

bool StateCommands::chooseLanguage(const std::string& fileName) {
    const StateLock lock(state_.mutex);
    if (fileName == state_.settings.languageDll)
        return false;
    state_.settings.languageDll = fileName;
    return true;
}

void StateCommands::setSettingsReadOnly(bool readOnly) {
    const StateLock lock(state_.mutex);
    state_.settingsReadOnly = readOnly;
}

void StateCommands::markTreeChanged() {
    const StateLock lock(state_.mutex);
    state_.treeChanged = true;
}

void StateCommands::markVariablesChanged() {
    const StateLock lock(state_.mutex);
    state_.variablesChanged = true;
}

void StateCommands::markLogChanged() {
    const StateLock lock(state_.mutex);
    state_.logChanged = true;
}

bool StateCommands::rewriteNode(
    TreeNode* node, const std::function<std::string(const std::string&, bool)>& newText) {
    const StateLock lock(state_.mutex);
    // The node as it is now: a request may have assigned it meanwhile; one that was removed
    // takes nothing.
    if (!node || !state_.tree.contains(node))
        return false;
    node->text = newText(node->text, node == state_.tree.first());
    state_.treeChanged = true;
    return true;
}

void StateCommands::setVariable(const std::string& name, const QString& typed) {
    const StateLock lock(state_.mutex);
    const std::string value = toSiteBytes(typed, state_.settings.siteEncoding);
    // Found again by name: requests move rows while a box is open.
    if (const auto row = state_.variables.find(name))
        state_.variables.setValue(*row, value);
    else
        state_.variables.add(name, value);
    state_.variablesChanged = true;
}

std::optional<StateCommands::RemovedVariable>
StateCommands::removeVariable(const std::string& name) {
    const StateLock lock(state_.mutex);
    const auto row = state_.variables.find(name);
    if (!row)
        return std::nullopt;
    RemovedVariable removed{state_.variables[*row].name, state_.variables[*row].value, *row};
    state_.variables.remove(*row);
    state_.variablesChanged = true;
    return removed;
}

void StateCommands::restoreVariable(const RemovedVariable& removed) {
    const StateLock lock(state_.mutex);
    if (state_.variables.find(removed.name))
        return;
    const std::size_t added = state_.variables.add(removed.name, removed.value);
    state_.variables.move(added, std::min(removed.row, state_.variables.size() - 1));
    state_.variablesChanged = true;
}

void StateCommands::resetVariableMarks() {
    const StateLock lock(state_.mutex);
    state_.variables.resetMarks();
    state_.variablesChanged = true;
}

void StateCommands::clearLog() {
    const StateLock lock(state_.mutex);
    state_.log.clear();
    state_.logChanged = true;
}

void StateCommands::rememberExportFolder(const std::string& folder) {
    bool readOnly = false;
    {
        const StateLock lock(state_.mutex);
        state_.settings.lastLangugeResPath = folder;
        readOnly = state_.settingsReadOnly;
    }
    // The file is the key's only keeper until the next save starts from it; a failure (or a
    // read-only settings file) only loses the remembered folder.
    if (!readOnly)
        (void)writeSettingsKey(state_.settingsPath, "Settings", "LastLangugeResPath", folder);
}

ExpandedFolder StateCommands::templatesFolder(ProgramHost& host, bool askUser, UiText captionId,
                                              UiText promptId) {
    const StateLock lock(state_.mutex);
    const std::string folder = state_.settings.dynamicPath;
    return expandFolderVariables(state_, host, coreTexts(state_), folder, askUser, captionId,
                                 promptId);
}

bool StateCommands::save(const WindowPlacement& placement, bool serverActive,
                         std::chrono::milliseconds lockWait, std::string* failure) {
    std::optional<ProfileFile> onDisk;
    if (!readFileForSave(state_.settingsPath, onDisk, failure))
        return false;
    SaveSnapshot snapshot;
    {
        StateLock lock(state_.mutex, std::defer_lock);
        if (!lock.tryLockFor(lockWait)) {
            if (failure)
                *failure = "a request still holds the state";
            return false;
        }
        if (state_.settingsReadOnly)
            return true;
        state_.settings.serverActive = serverActive;
        snapshot = composeSave(state_, std::move(onDisk), placement);
    }
    // One write of the whole file, with the state free: requests go on meanwhile.
    if (snapshot.file.save(state_.settingsPath, failure))
        return true;
    const StateLock lock(state_.mutex);
    keepUnsaved(state_, snapshot);
    return false;
}

} // namespace pelotest::desktop

#include "state/PersistentState.h"

#include "state/AtomicFile.h"
#include "state/SettingsEscapes.h"
#include "state/TextEdits.h"
#include "state/VariableReferences.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include <variant>

namespace pelotest {

namespace {

// ---------------------------------------------------------------------------------------------
// Reading with the rules of the settings file.
// ---------------------------------------------------------------------------------------------

constexpr std::string_view kSettings = "Settings";
constexpr std::string_view kConst = "Const";
constexpr std::string_view kTree = "Tree";
constexpr std::string_view kVariables = "Variables";
constexpr std::string_view kLog = "Log";

std::optional<std::string> readText(const ProfileFile& file, std::string_view section,
                                    std::string_view key) {
    if (auto value = file.readString(section, key))
        return unescapeBytes(*value);
    return std::nullopt;
}

std::string readText(const ProfileFile& file, std::string_view section, std::string_view key,
                     std::string_view fallback) {
    return readText(file, section, key).value_or(std::string(fallback));
}

std::optional<int> readInteger(const ProfileFile& file, std::string_view key) {
    if (const auto value = file.readString(kSettings, key))
        return parseSettingsInteger(*value);
    return std::nullopt;
}

int readInteger(const ProfileFile& file, std::string_view key, int fallback) {
    return readInteger(file, key).value_or(fallback);
}

// 0 is false, any other integer true, anything else the default.
bool readBoolean(const ProfileFile& file, std::string_view key, bool fallback) {
    if (const auto value = readInteger(file, key))
        return *value != 0;
    return fallback;
}

void writeText(ProfileFile& file, std::string_view key, std::string_view value) {
    file.writeString(kSettings, key, encodeValue(value));
}

void writeNumber(ProfileFile& file, std::string_view key, int value) {
    file.writeString(kSettings, key, std::to_string(value));
}

void writeBoolean(ProfileFile& file, std::string_view key, bool value) {
    file.writeString(kSettings, key, value ? "1" : "0");
}

// One key of [Settings] by its field's type: a text, an integer, a switch (0 or 1), or a window
// bound that only a window knows (absent until it does).
void readField(const ProfileFile& file, std::string_view key, const std::string& fallback,
               std::string& value) {
    value = readText(file, kSettings, key, fallback);
}
void readField(const ProfileFile& file, std::string_view key, int fallback, int& value) {
    value = readInteger(file, key, fallback);
}
void readField(const ProfileFile& file, std::string_view key, bool fallback, bool& value) {
    value = readBoolean(file, key, fallback);
}
void readField(const ProfileFile& file, std::string_view key, const std::optional<int>&,
               std::optional<int>& value) {
    value = readInteger(file, key);
}

void writeField(ProfileFile& file, std::string_view key, const std::string& value) {
    writeText(file, key, value);
}
void writeField(ProfileFile& file, std::string_view key, int value) {
    writeNumber(file, key, value);
}
void writeField(ProfileFile& file, std::string_view key, bool value) {
    writeBoolean(file, key, value);
}
void writeField(ProfileFile& file, std::string_view key, const std::optional<int>& value) {
    if (value)
        writeNumber(file, key, *value);
}

// The keys of [Settings], each with the field it fills, in the order a new file lists them. This
// table alone decides what is read at start and written at exit.
using SettingsField = std::variant<std::string*, int*, bool*, std::optional<int>*>;
enum class KeyRule {
    Plain,
    ReadFirst,        // read before the others: the language of the status texts
    ClampedToField,   // a number field of the settings tab (2 to 9999)
    WrittenOnceOn,    // written once switched on; absent until then
    StoredWhenChosen, // written when the user picks it, never at exit
};
struct SettingsKey {
    std::string_view name;
    SettingsField (*field)(Settings& s);
    KeyRule rule = KeyRule::Plain;
};
constexpr SettingsKey kSettingsKeys[] = {
    {"LanguageDll", [](Settings& s) -> SettingsField { return &s.languageDll; },
     KeyRule::ReadFirst},
    {"DynamicPath", [](Settings& s) -> SettingsField { return &s.dynamicPath; }},
    {"VirtualPath", [](Settings& s) -> SettingsField { return &s.virtualPath; }},
    {"StaticPath", [](Settings& s) -> SettingsField { return &s.staticPath; }},
    {"StaticSite", [](Settings& s) -> SettingsField { return &s.staticSite; }},
    {"StaticParameter", [](Settings& s) -> SettingsField { return &s.staticParameter; }},
    {"Port", [](Settings& s) -> SettingsField { return &s.port; }},
    {"MaxLog", [](Settings& s) -> SettingsField { return &s.maxLog; }, KeyRule::ClampedToField},
    {"RemoteEditReload", [](Settings& s) -> SettingsField { return &s.remoteEditReload; },
     KeyRule::ClampedToField},
    {"TreeWidth", [](Settings& s) -> SettingsField { return &s.placement.treeWidth; }},
    {"Left", [](Settings& s) -> SettingsField { return &s.placement.left; }},
    {"Top", [](Settings& s) -> SettingsField { return &s.placement.top; }},
    {"Width", [](Settings& s) -> SettingsField { return &s.placement.width; }},
    {"Height", [](Settings& s) -> SettingsField { return &s.placement.height; }},
    {"WindowState", [](Settings& s) -> SettingsField { return &s.placement.windowState; }},
    {"VariablesAutoSort", [](Settings& s) -> SettingsField { return &s.variablesAutoSort; }},
    {"RemoteEdit", [](Settings& s) -> SettingsField { return &s.remoteEdit; }},
    {"SaveLog", [](Settings& s) -> SettingsField { return &s.saveLog; }},
    {"LiveReload", [](Settings& s) -> SettingsField { return &s.liveReload; },
     KeyRule::WrittenOnceOn},
    {"LogTimeColumn", [](Settings& s) -> SettingsField { return &s.logTimeColumn; },
     KeyRule::WrittenOnceOn},
    {"LogQueryColumn", [](Settings& s) -> SettingsField { return &s.logQueryColumn; },
     KeyRule::WrittenOnceOn},
    {"ServerActive", [](Settings& s) -> SettingsField { return &s.serverActive; }},
    {"PageIndex", [](Settings& s) -> SettingsField { return &s.placement.pageIndex; }},
    {"LastLangugeResPath", [](Settings& s) -> SettingsField { return &s.lastLangugeResPath; },
     KeyRule::StoredWhenChosen},
};

struct ConstKey {
    std::string_view key;
    std::string_view fallback;
};
constexpr ConstKey kConstKeys[] = {{"VarBefore", "/("},
                                   {"VarAfter", ")"},
                                   {"Event", "PELO_EVENT"},
                                   {"SiteLogHorizontal", "10"},
                                   {"SiteLogVertical", "58"}};

// What the settings file holds, read into objects of its own without the state lock; they take
// the state's place in one short step.
struct StoredState {
    ProfileFile profile;
    Settings settings;
    EventTree tree;
    VariableTable variables;
    RequestLog log;
};

// A "Const" key present with an empty value gets its default written into the file, once, as a
// visible hint of what can be set there; an absent key stays absent.
void repairConstants(ProfileFile& profile, bool readOnly, const std::filesystem::path& path) {
    bool repaired = false;
    for (const ConstKey& c : kConstKeys) {
        const auto value = profile.readString(kConst, c.key);
        if (value && value->empty()) {
            profile.writeString(kConst, c.key, c.fallback);
            repaired = true;
        }
    }
    if (repaired && !readOnly)
        (void)profile.save(path); // a failed repair only loses the hint
}

void readConstants(StoredState& stored) {
    const ProfileFile& profile = stored.profile;
    Settings& s = stored.settings;
    const auto constant = [&](std::string_view key, std::string_view fallback) {
        std::string value = profile.readString(kConst, key, fallback);
        return value.empty() ? std::string(fallback) : value;
    };
    s.varBefore = constant("VarBefore", "/(");
    s.varAfter = constant("VarAfter", ")");
    s.event = constant("Event", "PELO_EVENT");
    s.bindAddress = constant("BindAddress", "127.0.0.1");
    s.allowedHosts = profile.readString(kConst, "AllowedHosts", "");
    s.siteEncoding = parseSiteEncoding(profile.readString(kConst, "SiteEncoding", ""));
    // Bounds of the variables list; a missing, invalid or non-positive value keeps the default.
    VariableLimits limits;
    if (const int rows = profile.readInt(kConst, "MaxVariables", 0); rows > 0)
        limits.maxRows = static_cast<std::size_t>(rows);
    if (const int bytes = profile.readInt(kConst, "MaxVariableBytes", 0); bytes > 0)
        limits.maxBytes = static_cast<std::size_t>(bytes);
    stored.variables.setLimits(limits);
    // Bounds of the tree, the same way.
    TreeLimits treeLimits;
    if (const int nodes = profile.readInt(kConst, "MaxTreeNodes", 0); nodes > 0)
        treeLimits.maxNodes = static_cast<std::size_t>(nodes);
    if (const int bytes = profile.readInt(kConst, "MaxTreeBytes", 0); bytes > 0)
        treeLimits.maxBytes = static_cast<std::size_t>(bytes);
    if (const int bytes = profile.readInt(kConst, "MaxTreeNodeBytes", 0); bytes > 0)
        treeLimits.maxNodeBytes = static_cast<std::size_t>(bytes);
    stored.tree.setLimits(treeLimits);
}

// Reads the keys of the table into s, each as its field's type reads: a missing or unusable
// value gives the field's default. firstOnly: the key the language depends on alone; else every
// other key.
void readSettings(const ProfileFile& profile, Settings& s, bool firstOnly) {
    Settings defaults;
    for (const SettingsKey& key : kSettingsKeys) {
        if ((key.rule == KeyRule::ReadFirst) != firstOnly)
            continue;
        const SettingsField fallback = key.field(defaults);
        std::visit(
            [&](auto* value) {
                using Value = std::remove_pointer_t<decltype(value)>;
                readField(profile, key.name, *std::get<Value*>(fallback), *value);
            },
            key.field(s));
        if (key.rule == KeyRule::ClampedToField) {
            int& value = *std::get<int*>(key.field(s));
            value = clampToField(value);
        }
    }
}

// One key of the table into the file, by its field's type.
void writeKey(ProfileFile& profile, std::string_view name, const SettingsField& field) {
    std::visit([&](auto* value) { writeField(profile, name, *value); }, field);
}

void writeSettings(AppState& state, const WindowPlacement& placement) REQUIRES(state.mutex) {
    Settings& s = state.settings;
    // What is written is what the window reports: keep the record in step with it.
    s.placement = placement;
    ProfileFile& profile = state.profile;
    for (const SettingsKey& key : kSettingsKeys) {
        if (key.rule == KeyRule::StoredWhenChosen)
            continue;
        // Written once switched on, so that the files of those who never use it stay as they
        // were.
        if (key.rule == KeyRule::WrittenOnceOn && !*std::get<bool*>(key.field(s)) &&
            !profile.readString(kSettings, key.name))
            continue;
        writeKey(profile, key.name, key.field(s));
    }
}

void applyRunOverrides(const RunOverrides& o, Settings& s) {
    if (o.port)
        s.port = *o.port;
    if (o.bindAddress)
        s.bindAddress = *o.bindAddress;
    if (o.staticPath)
        s.staticPath = *o.staticPath;
    if (o.templateFolder)
        s.dynamicPath = *o.templateFolder;
    if (o.virtualPath)
        s.virtualPath = *o.virtualPath;
}

// The settings keys that still hold this run's command-line value, with the text the file has
// for them now (nullopt: the key is absent). Taken before the settings are written, so that the
// file's own text goes back afterwards.
std::vector<std::pair<std::string_view, std::optional<std::string>>>
keysHoldingOverrides(const AppState& state) REQUIRES(state.mutex) {
    const RunOverrides& o = state.runOverrides;
    const Settings& s = state.settings;
    std::vector<std::pair<std::string_view, std::optional<std::string>>> keys;
    const auto keep = [&](std::string_view key) REQUIRES(state.mutex) {
        keys.emplace_back(key, state.profile.readString(kSettings, key));
    };
    if (o.port && s.port == *o.port)
        keep("Port");
    if (o.staticPath && s.staticPath == *o.staticPath)
        keep("StaticPath");
    if (o.templateFolder && s.dynamicPath == *o.templateFolder)
        keep("DynamicPath");
    if (o.virtualPath && s.virtualPath == *o.virtualPath)
        keep("VirtualPath");
    return keys; // BindAddress is a constant: it is never written
}

void writeVariables(AppState& state) REQUIRES(state.mutex) {
    std::vector<std::pair<std::string, std::string>> entries;
    entries.reserve(state.variables.size());
    for (const Variable& row : state.variables.rows())
        entries.emplace_back(encodeKey(row.name), encodeValue(row.value));
    state.profile.writeSection(kVariables, entries);
}

void writeLog(AppState& state) REQUIRES(state.mutex) {
    std::vector<std::pair<std::string, std::string>> entries;
    if (state.settings.saveLog) {
        entries.reserve(state.log.size());
        std::size_t index = 0;
        for (const LogEntry& entry : state.log.rows())
            entries.emplace_back("Line" + std::to_string(index++),
                                 protectValue(formatLogLine(entry)));
    }
    // An empty list just erases the section: a changed log is not kept without SaveLog.
    state.profile.writeSection(kLog, entries);
}

} // namespace

std::optional<int> parseSettingsInteger(std::string_view value) {
    if (!value.empty() && value.front() == '+') {
        value.remove_prefix(1);
        if (value.empty() || value.front() == '-')
            return std::nullopt;
    }
    int result = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), result);
    if (error != std::errc() || end != value.data() + value.size())
        return std::nullopt;
    return result;
}

std::string formatLogLine(const LogEntry& entry) {
    // The first four fields end at the next ';', so their own ';' is escaped; the path is the
    // rest of the value and keeps its ';' as it is (old files store paths with ';' that way).
    return std::to_string(entry.kind) + ';' + escapeBytes(entry.fileName, ";") + ';' +
           escapeBytes(entry.event, ";") + ';' + escapeBytes(entry.title, ";") + ';' +
           escapeBytes(entry.filePath);
}

LogEntry parseLogLine(std::string_view value) {
    std::string_view pieces[4];
    for (std::string_view& piece : pieces) {
        const std::size_t cut = value.find(';');
        if (cut == std::string_view::npos) {
            piece = value; // a short line: the missing fields stay empty
            value = {};
            continue;
        }
        piece = value.substr(0, cut);
        value.remove_prefix(cut + 1);
    }
    LogEntry entry;
    entry.kind = parseSettingsInteger(pieces[0]).value_or(-1);
    entry.fileName = unescapeBytes(pieces[1]);
    entry.event = unescapeBytes(pieces[2]);
    entry.title = unescapeBytes(pieces[3]);
    entry.filePath = unescapeBytes(value);
    return entry;
}

std::string readTreeSection(const ProfileFile& profile, EventTree& tree, std::string_view section,
                            bool expandRoot) {
    std::vector<std::string> lines;
    profile.forEachEntry(section, [&](std::string_view, std::string_view value) {
        std::string& line = lines.emplace_back(value);
        std::replace(line.begin(), line.end(), '#', '\t');
    });
    std::string error = tree.fromIndentedLines(lines);
    for (TreeNode* node : tree.flatten())
        if (node->text.find(kEscape) != std::string::npos)
            node->text = unescapeBytes(node->text);
    if (expandRoot && !tree.empty())
        tree.expandAll(*tree.first());
    return error;
}

std::string readTreeSection(AppState& state, std::string_view section, bool expandRoot) {
    return readTreeSection(state.profile, state.tree, section, expandRoot);
}

void writeTreeSection(AppState& state, std::string_view section) {
    std::vector<std::pair<std::string, std::string>> entries;
    std::size_t index = 0;
    state.tree.forEach([&](const TreeNode& node, int depth) {
        // A tab inside a text is stored as '#' and reads back as a tab, as always.
        std::string value(static_cast<std::size_t>(depth), '#');
        value += encodeNodeText(node.text);
        for (char& c : value)
            if (c == '\t')
                c = '#';
        entries.emplace_back("Node" + std::to_string(index++), protectValue(std::move(value)));
    });
    state.profile.writeSection(section, entries);
}

std::string loadState(AppState& state, ProgramHost& host, const TextLookup& text,
                      const std::function<void(AppState&)>& languageStartUp) {
    // The file is read into objects of its own with the state free: a file with 100,000
    // variables takes tens of milliseconds to read, and nobody should wait for the state that
    // long (the window's views, a server already started). The lock is taken twice, briefly: for
    // the language, and to put what was read in the state's place.
    StoredState stored;
    // Missing: every default. Unreadable (checkSettingsFile let it pass, and then it changed):
    // every default too, and the file is never written, so nothing in it is lost.
    std::string refusal;
    const bool refused = !stored.profile.load(state.settingsPath, &refusal) && !refusal.empty();

    // The language first, so that every status text below is in it.
    std::string settingsText, treeText, logText, variablesText;
    bool readOnly = false;
    {
        const StateLock lock(state.mutex);
        if (refused)
            state.settingsReadOnly = true;
        readOnly = state.settingsReadOnly;
        readSettings(stored.profile, state.settings, true);
        if (languageStartUp)
            languageStartUp(state);
        stored.settings = state.settings;
        settingsText = text(UiText::StatusLoadingSettings);
        treeText = text(UiText::StatusLoadingTree);
        logText = text(UiText::StatusLoadingLog);
        variablesText = text(UiText::StatusLoadingVariables);
    }

    // Constants.
    repairConstants(stored.profile, readOnly, state.settingsPath);
    readConstants(stored);

    // Settings and window.
    host.status(settingsText);
    const ProfileFile& profile = stored.profile;
    Settings& s = stored.settings;
    readSettings(profile, s, false);
    applyRunOverrides(state.runOverrides, s);

    // Tree. A bad line ends the tree there; the rest of the settings file still loads and the
    // message goes back to the caller to show.
    host.status(treeText);
    std::string treeError = readTreeSection(profile, stored.tree, kTree, true);

    // Log, only when it is kept between runs.
    if (s.saveLog) {
        host.status(logText);
        profile.forEachEntry(kLog, [&](std::string_view, std::string_view value) {
            stored.log.appendLoaded(parseLogLine(value), s.maxLog);
        });
    }

    // Variables. Each line keeps its own value, also when two names differ only in case.
    host.status(variablesText);
    std::vector<Variable> variables;
    // Grown step by step, a list of 100,000 rows would take and free twice its size on the way.
    variables.reserve(profile.sectionLines(kVariables));
    profile.forEachEntry(kVariables, [&](std::string_view key, std::string_view value) {
        variables.push_back({unescapeBytes(key), unescapeBytes(value), Mark::Plain});
    });
    stored.variables.assignLoaded(std::move(variables));

    // Whether to start the server (ServerActive) is the caller's next step.

    {
        const StateLock lock(state.mutex);
        // Swapped, not assigned: what the state held before goes with `stored`, after the lock.
        std::swap(state.profile, stored.profile);
        std::swap(state.settings, stored.settings);
        std::swap(state.tree, stored.tree);
        std::swap(state.variables, stored.variables);
        state.log.replaceRows(stored.log);
        // Nothing has changed yet, and no column of the variables list is the sort column.
        state.treeChanged = false;
        state.variablesChanged = false;
        state.logChanged = false;
        state.variablesSort = {};
        host.applyPlacement(state.settings.placement);
        host.treeChanged();
        host.variablesChanged();
        host.logChanged();
    }
    host.status(""); // the status line is the program's to draw: not under the lock
    return treeError;
}

bool readFileForSave(const std::filesystem::path& path, std::optional<ProfileFile>& onDisk,
                     std::string* failure) {
    ProfileFile file;
    std::string refusal;
    if (file.load(path, &refusal)) {
        onDisk = std::move(file);
        return true;
    }
    onDisk.reset();
    if (refusal.empty())
        return true; // gone missing: what was loaded is written anew
    if (failure)
        *failure = "it can no longer be read (" + refusal + "), so it is left as it is";
    return false;
}

SaveSnapshot composeSave(AppState& state, std::optional<ProfileFile> onDisk,
                         const WindowPlacement& placement) {
    // Start from the file as it is now, so that what was changed by hand while the program ran
    // (constants, the language export folder) is kept.
    if (onDisk)
        state.profile = std::move(*onDisk);
    const auto fileTexts = keysHoldingOverrides(state);
    writeSettings(state, placement);
    for (const auto& [key, value] : fileTexts) {
        if (value)
            state.profile.writeString(kSettings, key, *value);
        else
            state.profile.eraseKey(kSettings, key);
    }
    SaveSnapshot snapshot;
    snapshot.variablesChanged = std::exchange(state.variablesChanged, false);
    snapshot.treeChanged = std::exchange(state.treeChanged, false);
    snapshot.logChanged = std::exchange(state.logChanged, false);
    if (snapshot.variablesChanged)
        writeVariables(state);
    if (snapshot.treeChanged)
        writeTreeSection(state, kTree);
    if (snapshot.logChanged)
        writeLog(state);
    snapshot.file = state.profile;
    return snapshot;
}

void keepUnsaved(AppState& state, const SaveSnapshot& snapshot) {
    state.variablesChanged = state.variablesChanged || snapshot.variablesChanged;
    state.treeChanged = state.treeChanged || snapshot.treeChanged;
    state.logChanged = state.logChanged || snapshot.logChanged;
}

bool saveState(AppState& state, ProgramHost& host, const TextLookup& text, std::string* failure) {
    if (state.settingsReadOnly)
        return true;
    std::optional<ProfileFile> onDisk;
    if (!readFileForSave(state.settingsPath, onDisk, failure))
        return false;
    host.status(text(UiText::StatusSavingSettings));
    if (state.variablesChanged)
        host.status(text(UiText::StatusSavingVariables));
    if (state.treeChanged)
        host.status(text(UiText::StatusSavingTree));
    if (state.logChanged && state.settings.saveLog)
        host.status(text(UiText::StatusSavingLog));
    const SaveSnapshot snapshot = composeSave(state, std::move(onDisk), host.placement());
    // One write of the whole file: the old file stays complete until the new one replaces it.
    const bool saved = snapshot.file.save(state.settingsPath, failure);
    if (!saved)
        keepUnsaved(state, snapshot);
    host.status("");
    return saved;
}

bool writeSettingsKey(const std::filesystem::path& path, std::string_view section,
                      std::string_view key, std::string_view value) {
    ProfileFile onDisk;
    std::string refusal;
    if (!onDisk.load(path, &refusal) && !refusal.empty())
        return false;
    onDisk.writeString(section, key, encodeValue(value));
    return onDisk.save(path);
}

SettingsFileCheck checkSettingsFile(const std::filesystem::path& path) {
    std::error_code error;
    OpenFile file = openForReading(path, Links::DoNotFollowLast, error);
    if (!file.isOpen()) {
        std::error_code statusError;
        const FileStatus there = statusOf(path, Links::DoNotFollowLast, statusError);
        if (missing(error) && error != std::errc::not_a_directory &&
            there.kind == FileKind::Missing)
            return {};
        std::optional<std::string> refusal;
        if (there.kind != FileKind::Missing)
            refusal = notARegularFile(there.kind);
        return {SettingsAccess::Unusable,
                refusal ? *refusal : "it cannot be read: " + errorText(error)};
    }
    const auto status = file.status(error);
    file.close();
    if (!status)
        return {SettingsAccess::Unusable, "it cannot be read"};
    if (auto refusal = notARegularFile(status->kind))
        return {SettingsAccess::Unusable, *refusal};

    // Root may write what its mode forbids; a file or folder without any write permission was
    // made so on purpose, and is left alone by root too.
    constexpr unsigned kAnyWrite = 0222;
    if ((status->permissions & kAnyWrite) == 0 || !mayWrite(path))
        return {SettingsAccess::ReadOnly, "the file is read-only"};
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    const FileStatus folderStatus = statusOf(folder, Links::Follow, error);
    if (folderStatus.kind == FileKind::Missing || (folderStatus.permissions & kAnyWrite) == 0 ||
        !mayWrite(folder))
        return {SettingsAccess::ReadOnly, "its folder is read-only"};
    return {};
}

ExpandedFolder expandFolderVariables(AppState& state, ProgramHost& host, const TextLookup& text,
                                     std::string_view folder, bool askUser, UiText captionId,
                                     UiText promptId) {
    ReferencePolicy policy{.markRows = askUser};
    if (askUser)
        policy.ask = [&](const std::string& name, const std::string& value) {
            const std::string prompt = replaceAll(text(promptId), "%1", name);
            return host.askValue(text(captionId), prompt, value);
        };
    ExpandedReferences expanded = expandVariableReferences(state, &host, folder, policy);
    ExpandedFolder result{std::move(expanded.text), expanded.found};
    std::string& out = result.folder;

    // Folders use '/': a '\' from a file written on Windows becomes '/', and one trailing '/'
    // goes (but the root folder stays "/").
    for (char& c : out)
        if (c == '\\')
            c = '/';
    if (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return result;
}

} // namespace pelotest

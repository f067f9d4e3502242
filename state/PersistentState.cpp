#include "state/PersistentState.h"

#include "state/References.h"
#include "state/TextCase.h"

#include <algorithm>
#include <charconv>

namespace pelotest {

namespace {

// ---------------------------------------------------------------------------------------------
// Escapes of the stored values.
//
// The profile-file format cannot hold a line break, drops blanks around a value and one pair of
// quotes enclosing it, and gives ';' and '#' a meaning in the log and tree values. Bytes that
// would be changed are written as ESC (0x1B) followed by two upper-case hex digits. Files
// written before this escape existed never contain ESC (it cannot be typed and no request value
// in practice carries it), so they read exactly as before; values that need no escape are
// written exactly as before too. A value that begins or ends with a blank, or that begins and
// ends with the same quote, is enclosed in one more pair of double quotes, which every profile
// reader removes again.
// ---------------------------------------------------------------------------------------------

constexpr char kEscape = '\x1B';

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

void appendEscaped(std::string& out, char c) {
    out += kEscape;
    appendHexByte(out, static_cast<unsigned char>(c));
}

// Escapes ESC, CR, LF and every byte of `special`.
std::string escapeBytes(std::string_view text, std::string_view special = {}) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == kEscape || c == '\r' || c == '\n' || special.find(c) != std::string_view::npos)
            appendEscaped(out, c);
        else
            out += c;
    }
    return out;
}

// The reverse of escapeBytes; an ESC not followed by two hex digits stands for itself.
std::string unescapeBytes(std::string_view text) {
    if (text.find(kEscape) == std::string_view::npos)
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == kEscape && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
            hexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Encloses a value that a profile reader would trim or unquote in one more pair of quotes.
std::string protectValue(std::string value) {
    const bool outerBlank = !value.empty() && (isBlank(value.front()) || isBlank(value.back()));
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    if (outerBlank || quoted)
        return '"' + value + '"';
    return value;
}

std::string encodeValue(std::string_view value) {
    return protectValue(escapeBytes(value));
}

// A variable's name is a key: no '=', no leading ';' or '[', no blanks around it.
std::string encodeKey(std::string_view name) {
    std::string out = escapeBytes(name, "=");
    if (!out.empty() && (out.front() == ';' || out.front() == '[' || isBlank(out.front()))) {
        const char first = out.front();
        out.erase(0, 1);
        std::string head;
        appendEscaped(head, first);
        out.insert(0, head);
    }
    if (!out.empty() && isBlank(out.back())) {
        const char last = out.back();
        out.pop_back();
        appendEscaped(out, last);
    }
    return out;
}

// A tree node's text: its own '#' and leading blanks would read back as levels.
std::string encodeNodeText(std::string_view text) {
    std::string out;
    std::size_t i = 0;
    for (; i < text.size() && (text[i] == ' ' || text[i] == '\t'); ++i)
        appendEscaped(out, text[i]);
    out += escapeBytes(text.substr(i), "#");
    return out;
}

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

struct ConstKey {
    std::string_view key;
    std::string_view fallback;
};
constexpr ConstKey kConstKeys[] = {{"VarBefore", "/("},
                                   {"VarAfter", ")"},
                                   {"Event", "PELO_EVENT"},
                                   {"SiteLogHorizontal", "10"},
                                   {"SiteLogVertical", "58"}};

// A "Const" key present with an empty value gets its default written into the file, once, as a
// visible hint of what can be set there; an absent key stays absent.
void repairConstants(AppState& state) REQUIRES(state.mutex) {
    bool repaired = false;
    for (const ConstKey& c : kConstKeys) {
        const auto value = state.profile.readString(kConst, c.key);
        if (value && value->empty()) {
            state.profile.writeString(kConst, c.key, c.fallback);
            repaired = true;
        }
    }
    if (repaired)
        (void)state.profile.save(state.settingsPath); // a failed repair only loses the hint
}

void readConstants(AppState& state) REQUIRES(state.mutex) {
    Settings& s = state.settings;
    const auto constant = [&](std::string_view key,
                              std::string_view fallback) REQUIRES(state.mutex) {
        std::string value = state.profile.readString(kConst, key, fallback);
        return value.empty() ? std::string(fallback) : value;
    };
    s.varBefore = constant("VarBefore", "/(");
    s.varAfter = constant("VarAfter", ")");
    s.event = constant("Event", "PELO_EVENT");
    s.bindAddress = constant("BindAddress", "127.0.0.1");
    s.allowedHosts = state.profile.readString(kConst, "AllowedHosts", "");
    s.siteEncoding = parseSiteEncoding(state.profile.readString(kConst, "SiteEncoding", ""));
    // Bounds of the variables list; a missing, invalid or non-positive value keeps the default.
    VariableLimits limits;
    if (const int rows = state.profile.readInt(kConst, "MaxVariables", 0); rows > 0)
        limits.maxRows = static_cast<std::size_t>(rows);
    if (const int bytes = state.profile.readInt(kConst, "MaxVariableBytes", 0); bytes > 0)
        limits.maxBytes = static_cast<std::size_t>(bytes);
    state.variables.setLimits(limits);
}

void readPlacement(AppState& state, Host& host) REQUIRES(state.mutex) {
    Settings& s = state.settings;
    s.left = readInteger(state.profile, "Left");
    s.top = readInteger(state.profile, "Top");
    s.width = readInteger(state.profile, "Width");
    s.height = readInteger(state.profile, "Height");
    s.treeWidth = readInteger(state.profile, "TreeWidth");
    s.windowState = readText(state.profile, kSettings, "WindowState", "normal");

    WindowPlacement placement;
    placement.hasLeft = s.left.has_value();
    placement.hasTop = s.top.has_value();
    placement.hasWidth = s.width.has_value();
    placement.hasHeight = s.height.has_value();
    placement.hasTreeWidth = s.treeWidth.has_value();
    placement.left = s.left.value_or(0);
    placement.top = s.top.value_or(0);
    placement.width = s.width.value_or(0);
    placement.height = s.height.value_or(0);
    placement.treeWidth = s.treeWidth.value_or(345);
    placement.windowState = s.windowState;
    placement.pageIndex = s.pageIndex;
    host.applyPlacement(placement);
}

void writeSettings(AppState& state, const WindowPlacement& placement) REQUIRES(state.mutex) {
    Settings& s = state.settings;
    // What is written is what the window reports: keep the record in step with it.
    s.pageIndex = placement.pageIndex;
    s.windowState = placement.windowState;
    if (placement.hasLeft)
        s.left = placement.left;
    if (placement.hasTop)
        s.top = placement.top;
    if (placement.hasWidth)
        s.width = placement.width;
    if (placement.hasHeight)
        s.height = placement.height;
    if (placement.hasTreeWidth)
        s.treeWidth = placement.treeWidth;

    writeText(state.profile, "LanguageDll", s.languageDll);
    writeText(state.profile, "DynamicPath", s.dynamicPath);
    writeText(state.profile, "VirtualPath", s.virtualPath);
    writeText(state.profile, "StaticPath", s.staticPath);
    writeText(state.profile, "StaticSite", s.staticSite);
    writeText(state.profile, "StaticParameter", s.staticParameter);
    writeNumber(state.profile, "Port", s.port);
    writeNumber(state.profile, "MaxLog", s.maxLog);
    writeNumber(state.profile, "RemoteEditReload", s.remoteEditReload);
    if (placement.hasTreeWidth)
        writeNumber(state.profile, "TreeWidth", placement.treeWidth);
    if (placement.hasLeft)
        writeNumber(state.profile, "Left", placement.left);
    if (placement.hasTop)
        writeNumber(state.profile, "Top", placement.top);
    if (placement.hasWidth)
        writeNumber(state.profile, "Width", placement.width);
    if (placement.hasHeight)
        writeNumber(state.profile, "Height", placement.height);
    writeText(state.profile, "WindowState", placement.windowState);
    writeBoolean(state.profile, "VariablesAutoSort", s.variablesAutoSort);
    writeBoolean(state.profile, "RemoteEdit", s.remoteEdit);
    writeBoolean(state.profile, "SaveLog", s.saveLog);
    writeBoolean(state.profile, "ServerActive", s.serverActive);
    writeNumber(state.profile, "PageIndex", placement.pageIndex);
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

std::string readTreeSection(AppState& state, std::string_view section, bool expandRoot) {
    std::vector<std::string> lines;
    state.profile.forEachEntry(section, [&](std::string_view, std::string_view value) {
        std::string& line = lines.emplace_back(value);
        std::replace(line.begin(), line.end(), '#', '\t');
    });
    std::string error = state.tree.fromIndentedLines(lines);
    for (TreeNode* node : state.tree.flatten())
        if (node->text.find(kEscape) != std::string::npos)
            node->text = unescapeBytes(node->text);
    if (expandRoot && !state.tree.empty())
        state.tree.expandAll(*state.tree.first());
    return error;
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

std::string loadState(AppState& state, Host& host, const TextLookup& text,
                      const std::function<void(AppState&)>& languageStartUp) {
    Settings& s = state.settings;
    state.profile.load(state.settingsPath); // missing or unreadable: every default

    // The language first, so that every status text below is in it.
    s.languageDll = readText(state.profile, kSettings, "LanguageDll", "");
    if (languageStartUp)
        languageStartUp(state);

    // Constants.
    repairConstants(state);
    readConstants(state);

    // Settings and window.
    host.status(text(84));
    s.dynamicPath = readText(state.profile, kSettings, "DynamicPath", "");
    s.virtualPath = readText(state.profile, kSettings, "VirtualPath", "");
    s.staticPath = readText(state.profile, kSettings, "StaticPath", "");
    s.staticSite = readText(state.profile, kSettings, "StaticSite", "");
    s.staticParameter = readText(state.profile, kSettings, "StaticParameter", "");
    s.variablesAutoSort = readBoolean(state.profile, "VariablesAutoSort", true);
    s.remoteEdit = readBoolean(state.profile, "RemoteEdit", true);
    s.saveLog = readBoolean(state.profile, "SaveLog", false);
    s.port = readInteger(state.profile, "Port", 80);
    s.maxLog = clampToField(readInteger(state.profile, "MaxLog", 100));
    s.remoteEditReload = clampToField(readInteger(state.profile, "RemoteEditReload", 2));
    s.pageIndex = readInteger(state.profile, "PageIndex", 0);
    s.lastLangugeResPath = readText(state.profile, kSettings, "LastLangugeResPath", "");
    readPlacement(state, host);

    // Tree. A bad line ends the tree there; the rest of the settings file still loads and the
    // message goes back to the caller to show.
    host.status(text(48));
    std::string treeError = readTreeSection(state, kTree, true);

    // Log, only when it is kept between runs.
    state.log.clear();
    if (s.saveLog) {
        host.status(text(49));
        state.profile.forEachEntry(
            kLog, [&](std::string_view, std::string_view value) REQUIRES(state.mutex) {
                state.log.appendLoaded(parseLogLine(value), s.maxLog);
            });
    }

    // Variables. Each line keeps its own value, also when two names differ only in case.
    host.status(text(50));
    std::vector<Variable> variables;
    // Grown step by step, a list of 100,000 rows would take and free twice its size on the way.
    variables.reserve(state.profile.sectionLines(kVariables));
    state.profile.forEachEntry(kVariables, [&](std::string_view key, std::string_view value) {
        variables.push_back({unescapeBytes(key), unescapeBytes(value), Mark::Plain});
    });
    state.variables.assignLoaded(std::move(variables));

    // Whether to start the server is the caller's next step.
    host.status("");
    s.serverActive = readBoolean(state.profile, "ServerActive", false);

    // Nothing has changed yet, and no column of the variables list is the sort column.
    state.treeChanged = false;
    state.variablesChanged = false;
    state.logChanged = false;
    state.variablesSort = {};
    host.treeChanged();
    host.variablesChanged();
    host.logChanged();
    return treeError;
}

bool saveState(AppState& state, Host& host, const TextLookup& text, std::string* failure) {
    // Start from the file as it is now, so that what was changed by hand while the program ran
    // (constants, the language export folder) is kept; a file that has gone missing is written
    // anew from what was loaded.
    ProfileFile onDisk;
    if (onDisk.load(state.settingsPath))
        state.profile = std::move(onDisk);

    host.status(text(51));
    writeSettings(state, host.placement());
    if (state.variablesChanged) {
        host.status(text(52));
        writeVariables(state);
    }
    if (state.treeChanged) {
        host.status(text(53));
        writeTreeSection(state, kTree);
    }
    if (state.logChanged) {
        if (state.settings.saveLog)
            host.status(text(54));
        writeLog(state);
    }
    // One write of the whole file: the old file stays complete until the new one replaces it.
    const bool saved = state.profile.save(state.settingsPath, failure);
    if (saved) {
        state.treeChanged = false;
        state.variablesChanged = false;
        state.logChanged = false;
    }
    host.status("");
    return saved;
}

ExpandedFolder expandFolderVariables(AppState& state, Host& host, const TextLookup& text,
                                     std::string_view folder, bool askUser, int captionId,
                                     int promptId) {
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

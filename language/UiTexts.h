#pragma once
// UI texts by name: the built-in German table (Windows-1252 bytes) and language libraries
// (PE resource-only .dll files) that replace them id by id.

#include "language/PeResources.h"
#include "state/AppState.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelotest {

inline constexpr int kUiTextCount = 165;

// What each UI text is for. The values are the ids that language libraries carry (their string
// table uses the same numbers), so they never change; id 47 is not used.
enum class UiText : int {
    // The main window: caption, tabs, list columns, settings labels.
    WindowTitle = 1,
    TabGeneral = 2,
    TabLog = 3, // also the recent-sites page's title and the control page's button
    TabSettings = 4,
    TabEventsTemplates = 5,
    TabVariables = 6, // also the variables page's title and the control page's button
    ColumnVariable = 7,
    ColumnValue = 8,
    CreditLine = 9,
    TrademarkNotice = 10,
    ColumnFile = 11,
    ColumnEvent = 12,
    ColumnTitle = 13,
    GroupTemplates = 14,
    TemplateFolderLabel = 15,
    VirtualFolderLabel = 16,
    GroupStaticPages = 17,
    StartFolderLabel = 18,
    StartPageLabel = 19,
    StartParametersLabel = 20,
    GroupGeneral = 21,
    HttpPortLabel = 22,
    AutoSortVariables = 23,
    LogLimitLabel = 24,
    SaveLogOption = 25,
    RemoteEditorOption = 26,
    ReloadTimeLabel = 27,
    RemoteEditorHint = 28,
    // Menus and buttons of the main window and the notification icon.
    MenuEdit = 29,
    MenuDelete = 30,
    MenuAssign = 31,
    MenuExpandAll = 32,
    MenuCollapseAll = 33,
    MenuProperties = 34,
    MenuClearLog = 35,
    MenuShow = 36,
    ServerStart = 37,
    ServerStop = 38,
    MenuQuit = 39,
    StatusReady = 40,
    StatusActive = 41,
    // The small template selection dialog's defaults.
    SelectTemplateCaption = 42,
    SelectTemplatePrompt = 43,
    SelectTemplateOk = 44,
    SelectTemplateCancel = 45,
    NewValuePrompt = 46,
    // Status texts while the state is loaded and saved.
    StatusLoadingTree = 48,
    StatusLoadingLog = 49,
    StatusLoadingVariables = 50,
    StatusSavingSettings = 51,
    StatusSavingVariables = 52,
    StatusSavingTree = 53,
    StatusSavingLog = 54,
    // The editor's file information line.
    FileInfoUnknownDate = 55,
    FileInfoUnknownSize = 56,
    FileInfoDateFormat = 57,
    FileInfoDateBlank = 58, // stands for every blank of the formatted date
    FileInfoByteUnit = 59,
    FileInfoChangedOn = 60,
    FileInfoSizeLabel = 61,
    // The built-in pages under /$int.
    ControlStart = 62,
    ControlDynamicSites = 63,
    ControlStaticSites = 64,
    PageRefresh = 65,
    PageSecondsUnit = 66,
    VarListDeleteQuestion = 67, // script code
    VarListNewValuePrompt = 68, // script code
    FileListTitle = 69,
    EditorStaticPageTitle = 70,
    EditorTemplateTitle = 71,
    EditorLine = 72,
    EditorColumn = 73,
    EditorSaveChangesQuestion = 74,
    EditorUnchangedSaveQuestion = 75,
    EditorErrorTitle = 76,
    EditorSave = 77,
    EditorClose = 78,
    EditorFileNotFound = 79,
    ButtonBack = 80,
    EditorSavedTitle = 81,
    EditorFileSaved = 82,
    EditorSavedOk = 83,
    StatusLoadingSettings = 84,
    // The pages the server builds: unassigned event, welcome, not found.
    EventWithoutTemplate = 85,
    NoEntryTemplate = 86,
    AssignButton = 87,
    LogNoTemplateAssigned = 88,
    WelcomeHeading = 89,
    WelcomeNoStartPage = 90,
    WelcomeChooseStartPage = 91,
    WelcomeApply = 92,
    NotFoundTitle = 93,
    NotFoundMessage = 94,
    // Dialogs of the desktop program.
    DynamicPathCaption = 95,
    DynamicPathPrompt = 96,
    TreeFileNotFound = 97,
    AssignDynamicPathCaption = 98,
    AssignDynamicPathPrompt = 99,
    TreeDeleteEntryQuestion = 100,
    ChooseStaticFolder = 101,
    ChooseTemplateFolder = 102,
    PathVariablesReplaced = 103,
    ClearLogQuestion = 104,
    LogFileNotFound = 105,
    LogEventWithoutTemplate = 106,
    DynamicPathNotice = 107, // shown by a script
    InfoCaption = 108,
    WelcomeControlCentreLink = 109,
    VendorAddress = 110,
    WelcomeAbout = 111,
    // Message boxes.
    MessageOk = 112,
    MessageCancel = 113,
    MessageYes = 114,
    MessageNo = 115,
    MessageWarning = 116,
    MessageError = 117,
    MessageInformation = 118,
    MessageConfirmation = 119,
    AssignTemplateCaption = 120,
    AssignTemplatePrompt = 121,
    // Language selection, download and export.
    ChooseLanguage = 122,
    BuiltInLanguageName = 123,
    LoadLanguage = 124,
    LanguageDownloadCaption = 125,
    LanguageDownloadClose = 126,
    ExportLanguage = 127,
    ExportLanguageFolderPrompt = 128,
    LanguageCode = 129,
    OverwriteFileQuestion = 130,
    FileSavedMessage = 131,
    LanguageDownloadWait = 132,
    // The settings file at start: %1 its path, %2 why.
    SettingsFileUnusable = 133,
    SettingsFileReadOnly = 134,
    // The settings tab: live reload.
    LiveReloadOption = 135,
    // The desktop has no program for a file the window hands it.
    FileNotOpened = 136,
    // Why a port cannot be served (after a failed start of the server).
    PortInUse = 137,
    PortPrivileged = 138,
    PortNotServed = 139,
    // The labels of the properties dialog of a logged file.
    PropertiesPath = 140,
    PropertiesSize = 141,
    PropertiesType = 142,
    PropertiesPermissions = 143,
    PropertiesLinkTarget = 144,
    PropertiesCreated = 145,
    PropertiesModified = 146,
    PropertiesRead = 147,
    PropertiesSizeBytes = 148,
    // The settings tab's live reload box while --live-reload holds it on for this run.
    LiveReloadForThisRun = 149,
    // The status line while live reload is on: %1 the browsers listening.
    LiveReloadStatus = 150,
    // The settings tab: the desktop session starts the program (hidden, the server running).
    StartWithSessionOption = 151,
    // After PortInUse, when the system tells which program holds the port: %1 that program.
    PortHolder = 152,
    // What to do first, shown in the window while nothing is set up (no folders, no events).
    FirstRunHint = 153,
    // The placeholder of the filter fields above the variables and the log.
    FilterPlaceholder = 154,
    // The entry of the tree's and the log's menus that opens the page in the browser.
    MenuOpenInBrowser = 155,
    // The log's columns hidden by default: when the request came, and its query.
    ColumnTime = 156,
    ColumnQuery = 157,
    // The tip of a language library in the language box whose texts %1 (their ids) add markup and
    // so are not used.
    LanguageTextsNotUsed = 158,
    // The variables list while it holds its rows still under the pointer or during an edit.
    VariablesHolding = 159,
    // The variables list's menu entry (Ctrl+Z) that brings the variable deleted last back.
    MenuUndoDelete = 160,
    // No browser started for a page the program opens (%1 its address).
    NoBrowserStarted = 161,
    // The tip of a folder field's warning picture (%1 the folder).
    FolderDoesNotExist = 162,
    // The tip of the "?" between the start page and its parameters.
    StartParametersTip = 163,
    // The window's settings file (%1 its path), in the status line's tip and the window title.
    SettingsFileTip = 164,
    // The help or language dialog when its web view cannot start (%1 why).
    WebViewFailed = 165,
};

// The number of a text in the built-in table and in language libraries.
constexpr int uiTextId(UiText text) {
    return static_cast<int>(text);
}

// The markup of a text, piece by piece: each tag from "<" to the next ">", each entity from "&"
// to the next ";", each backslash with the character it escapes, each double-quoted stretch
// (quotes included, up to the next quote no backslash escapes), each single quote. A quoted stretch
// of blanks and the separators . , : / - only (a date format's) counts as one and the same piece,
// whatever separators it holds. A piece that runs to the end of the text without its end mark
// counts as written.
std::vector<std::string_view> markupOf(std::string_view text);
// Whether translated carries a piece of markup that builtIn does not (each piece of builtIn
// allows one of the same bytes): a language library's text is used only when it adds none.
bool addsMarkup(std::string_view translated, std::string_view builtIn);
// The ids of the library's texts that add markup to the built-in ones (and so are not used).
std::vector<int> textsWithAddedMarkup(const PeResources& library);

// The built-in text of id ("#13" turned into CR); empty for an id the table lacks.
std::string loadBuiltInUiText(UiText id);

// The text of id in the library languageDll (a bare file name looked for in folders, the first
// folder holding it wins), falling back to the built-in text id by id. An empty name, a name with
// a folder part, or a missing or unreadable file gives the built-in text. Texts are cut to 259
// characters and "#13" becomes CR. A library's texts are kept after the first read for as long as
// its file stays the same file (device, inode, size, change and modification times), so a library
// replaced or edited on disk is seen at the next lookup.
std::string loadUiText(std::span<const std::filesystem::path> folders, std::string_view languageDll,
                       UiText id);
// Convenience for a single lookup: the current LanguageDll and folders of the state. Reads the
// state without locking it: call it with state.mutex held, or on the thread that writes
// LanguageDll. A page that looks up several texts uses LanguageTexts instead.
std::string loadUiText(const AppState& state, UiText id) REQUIRES(state.mutex);

// loadUiText with every "%1" replaced by arg1 (then every "%2" by arg2).
std::string formatUiText(const AppState& state, UiText id, std::string_view arg1)
    REQUIRES(state.mutex);
std::string formatUiText(const AppState& state, UiText id, std::string_view arg1,
                         std::string_view arg2) REQUIRES(state.mutex);

// The texts of the current language as one request (or one dialog) sees them: the language
// library is read at the first lookup and kept for the object's lifetime, so a page reads it
// once however many texts it shows, and a library changed on disk shows at the next page. The
// LanguageDll of state is taken when the object is made, with state.mutex held (as every request
// holds it). Not for sharing between threads.
struct LanguageLibrary;

class LanguageTexts {
  public:
    explicit LanguageTexts(const AppState& state) REQUIRES(state.mutex)
        : languageDll_(state.settings.languageDll), folders_(state.languageFolders) {}

    std::string text(UiText id) const;
    // text with every "%1" replaced by arg1 (then every "%2" by arg2).
    std::string format(UiText id, std::string_view arg1) const;
    std::string format(UiText id, std::string_view arg1, std::string_view arg2) const;

  private:
    std::string languageDll_;
    std::span<const std::filesystem::path> folders_; // fixed before the server starts
    mutable bool read_ = false;
    mutable std::shared_ptr<const LanguageLibrary> library_; // null: none, or an unreadable one
};

// How many times a language library file has been read since the program started; tests use it
// to see that a page reads the library once, and that an unchanged library is not read again.
std::uint64_t languageLibraryReads();

} // namespace pelotest

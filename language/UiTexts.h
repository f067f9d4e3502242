#pragma once
// UI texts by name: the built-in German table (Windows-1252 bytes) and language libraries
// (PE resource-only .dll files) that replace them id by id.

#include "language/BuiltInUiTexts.h"
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

// The number of a text in the built-in table and in language libraries.
constexpr int uiTextId(UiText text) {
    return static_cast<int>(text);
}

// The markup of a text, piece by piece: each tag from "<" to the next ">", each entity from "&"
// to the next ";", each backslash with the character it escapes, each double-quoted stretch
// (quotes included, up to the next quote no backslash escapes), each single quote. A quoted stretch
// of blanks and the separators . , : / - only (a date format's) counts as one and the same piece,
// whatever separators it holds. A piece that runs to the end of the text without its end mark
// counts as written. Where a text stands decides what else counts: in a script (Script,
// ScriptLink) each line break, in a "javascript:" link each "%" (with the two hex digits after it
// that the browser decodes into a character before the script runs).
std::vector<std::string_view> markupOf(std::string_view text,
                                       TextContext context = TextContext::Html);
// Whether translated carries a piece of markup that builtIn does not (each piece of builtIn
// allows one of the same bytes) where it stands (context): a language library's text is used
// only when it adds none. An Address may name no scheme but http and https.
bool addsMarkup(std::string_view translated, std::string_view builtIn,
                TextContext context = TextContext::Html);
// Where the text of id stands (Window for an id the table lacks).
TextContext textContext(UiText id);
// The ids of the library's texts that add markup to the built-in ones where they stand (and so
// are not used).
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

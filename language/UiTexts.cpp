#include "language/UiTexts.h"

#include "state/FileIdentity.h"
#include "state/TextCase.h"
#include "state/TextEdits.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace pelotest {

// A library as read from its file, with every text of the built-in table's ids already
// converted and finished (empty where the library has none).
struct LanguageLibrary {
    explicit LanguageLibrary(PeResources read);
    PeResources resources;
    std::array<std::string, kUiTextCount + 1> texts;
};

namespace {

// One looked-up text holds at most this many characters; longer library strings are cut.
constexpr std::size_t kMaxUiTextLength = 259;

std::string finishText(std::string text) {
    if (text.size() > kMaxUiTextLength) {
        text.resize(kMaxUiTextLength);
    }
    return replaceAll(text, "#13", "\r");
}

// The text of number in the library, converted and finished; empty when it has none.
std::string libraryText(const PeResources& resources, int number) {
    return finishText(windows1252FromUtf16(resources.string(static_cast<std::uint32_t>(number))));
}

// A language library is named by its bare file name; anything that could reach another folder
// (a separator, "." or "..") or that a path cannot hold is not a library name.
bool isBareFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::atomic<std::uint64_t> libraryReads{0};

// The libraries read so far, by path, each with the identity its file had before it was read. A
// lookup that finds its file unchanged takes the texts from here; any change reads it anew. The
// stat comes before the read, so texts are never newer-looking than what was read: a change in
// between is seen by the next lookup.
class LibraryCache {
  public:
    std::shared_ptr<const LanguageLibrary> get(const std::filesystem::path& file,
                                               const FileIdentity& identity) {
        {
            const std::lock_guard lock(mutex_);
            if (const auto it = entries_.find(file.string());
                it != entries_.end() && it->second.identity == identity)
                return it->second.library;
        }
        libraryReads.fetch_add(1, std::memory_order_relaxed);
        std::shared_ptr<const LanguageLibrary> library;
        if (std::optional<PeResources> resources = PeResources::fromFile(file))
            library = std::make_shared<const LanguageLibrary>(std::move(*resources));
        const std::lock_guard lock(mutex_);
        // File times come from a clock that advances in ticks of a few milliseconds: a file
        // changed within the last second could change again without a visible difference, so
        // it is kept only once it has settled (and read anew until then).
        if (!identity.settled()) {
            entries_.erase(file.string());
            return library;
        }
        // A handful of libraries are in use at a time; names that never recur must not pile up.
        if (entries_.size() >= kMaxEntries && !entries_.contains(file.string()))
            entries_.clear();
        entries_[file.string()] = {identity, library};
        return library;
    }

  private:
    static constexpr std::size_t kMaxEntries = 16;
    struct Entry {
        FileIdentity identity;
        std::shared_ptr<const LanguageLibrary> library;
    };
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

LibraryCache& libraryCache() {
    static LibraryCache cache;
    return cache;
}

// The library named languageDll from the first folder that holds a regular file of that name;
// null when the name is no library name, no folder holds it, or the file cannot be read.
std::shared_ptr<const LanguageLibrary> readLibrary(std::span<const std::filesystem::path> folders,
                                                   std::string_view languageDll) {
    if (!isBareFileName(languageDll)) {
        return nullptr;
    }
    for (const std::filesystem::path& folder : folders) {
        const std::filesystem::path file = folder / languageDll;
        if (const std::optional<FileIdentity> identity = regularFileIdentity(file.string()))
            return libraryCache().get(file, *identity);
    }
    return nullptr;
}

// The text of id from the library (or the built-in one when the library lacks a non-empty
// string of that id).
std::string textOf(const std::shared_ptr<const LanguageLibrary>& library, UiText id) {
    const int number = uiTextId(id);
    if (library && number >= 0 && number <= kUiTextCount) {
        const std::string& text = library->texts[static_cast<std::size_t>(number)];
        if (!text.empty()) {
            return text;
        }
    } else if (library && number >= 0 && number <= 0xFFFF) {
        std::string text = libraryText(library->resources, number);
        if (!text.empty() && !addsMarkup(text, "")) {
            return text;
        }
    }
    return loadBuiltInUiText(id);
}

} // namespace

LanguageLibrary::LanguageLibrary(PeResources read) : resources(std::move(read)) {
    for (int number = 0; number <= kUiTextCount; ++number) {
        std::string text = libraryText(resources, number);
        // A text that brings markup of its own is not used: the built-in one stands.
        if (!addsMarkup(text, loadBuiltInUiText(UiText{number}), textContext(UiText{number})))
            texts[static_cast<std::size_t>(number)] = std::move(text);
    }
}

std::vector<std::string_view> markupOf(std::string_view text, TextContext context) {
    const bool script = context == TextContext::Script || context == TextContext::ScriptLink;
    const bool link = context == TextContext::ScriptLink;
    const auto isHex = [&](std::size_t at) {
        return at < text.size() && std::isxdigit(static_cast<unsigned char>(text[at]));
    };
    constexpr std::string_view kQuotedSeparator = "\"\"";
    constexpr std::size_t npos = std::string_view::npos;
    std::vector<std::string_view> pieces;
    // The stretch from at to the first end mark after it (or to the end of the text).
    const auto upTo = [&](std::size_t at, std::string_view endMarks) {
        const std::size_t end = text.find_first_of(endMarks, at + 1);
        return end == std::string_view::npos ? text.size() : end + 1;
    };
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = at + 1;
        switch (text[at]) {
        case '<':
            end = upTo(at, ">");
            break;
        case '&':
            end = upTo(at, ";");
            break;
        case '\\':
            end = std::min(at + 2, text.size());
            break;
        case '"':
            // Up to the next quote that no backslash escapes: in a script string that is what
            // the text runs as code (the "+name+" of a question), in a page a quoted name.
            for (end = at + 1; end < text.size() && text[end] != '"'; ++end)
                if (text[end] == '\\')
                    ++end;
            end = std::min(end + 1, text.size());
            // A separator quoted in a date format ("." or ":") is no markup of its own: any such
            // pair stands for any other.
            if (end - at >= 2 && text[end - 1] == '"' &&
                text.substr(at + 1, end - at - 2).find_first_not_of(" .,:/-") == npos) {
                pieces.emplace_back(kQuotedSeparator);
                at = end;
                continue;
            }
            break;
        case '\'':
            break;
        case '\r':
        case '\n':
            if (!script) {
                ++at;
                continue;
            }
            break;
        case '%':
            if (!link) {
                ++at;
                continue;
            }
            if (!isHex(at + 1) || !isHex(at + 2)) { // nothing the browser decodes
                ++at;
                continue;
            }
            end = at + 3;
            break;
        default:
            ++at;
            continue;
        }
        pieces.push_back(text.substr(at, end - at));
        at = end;
    }
    return pieces;
}

namespace {
// An address a link may lead to: one on the web (or one relative to the page), never a script
// ("javascript:"), data or a file. The browser drops blanks and control characters before an
// address and every tab and line break inside it before it reads the scheme, so the scheme is
// read the same way.
bool isWebAddress(std::string_view text) {
    std::string address;
    for (const char c : text)
        if ((!address.empty() || static_cast<unsigned char>(c) > ' ') && c != '\t' && c != '\n' &&
            c != '\r')
            address.push_back(c);
    const std::size_t colon = address.find(':');
    const std::string_view scheme = std::string_view(address).substr(0, colon);
    const bool namesScheme =
        colon != std::string::npos && !scheme.empty() &&
        std::isalpha(static_cast<unsigned char>(scheme[0])) &&
        std::all_of(scheme.begin(), scheme.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
        });
    return !namesScheme || equalsIgnoreCase(scheme, "http") || equalsIgnoreCase(scheme, "https");
}
} // namespace

TextContext textContext(UiText id) {
    const int number = uiTextId(id);
    return number >= 0 && number <= kUiTextCount
               ? built_in_texts::kContexts[static_cast<std::size_t>(number)]
               : TextContext::Window;
}

bool addsMarkup(std::string_view translated, std::string_view builtIn, TextContext context) {
    if (context == TextContext::Address && !translated.empty() && !isWebAddress(translated))
        return true;
    std::vector<std::string_view> allowed = markupOf(builtIn, context);
    std::sort(allowed.begin(), allowed.end());
    for (std::string_view piece : markupOf(translated, context)) {
        const auto found = std::lower_bound(allowed.begin(), allowed.end(), piece);
        if (found == allowed.end() || *found != piece)
            return true;
        allowed.erase(found); // each piece of the built-in text counts once
    }
    return false;
}

std::vector<int> textsWithAddedMarkup(const PeResources& library) {
    std::vector<int> ids;
    for (int number = 1; number <= kUiTextCount; ++number)
        if (addsMarkup(libraryText(library, number), loadBuiltInUiText(UiText{number}),
                       textContext(UiText{number})))
            ids.push_back(number);
    return ids;
}

std::string loadBuiltInUiText(UiText id) {
    const int number = uiTextId(id);
    if (number < 1 || number > kUiTextCount) {
        return {};
    }
    return finishText(std::string(built_in_texts::kTexts[static_cast<std::size_t>(number)]));
}

std::string loadUiText(std::span<const std::filesystem::path> folders, std::string_view languageDll,
                       UiText id) {
    return textOf(readLibrary(folders, languageDll), id);
}

std::string loadUiText(const AppState& state, UiText id) {
    return loadUiText(state.languageFolders, state.settings.languageDll, id);
}

std::string formatUiText(const AppState& state, UiText id, std::string_view arg1) {
    return replaceAll(loadUiText(state, id), "%1", arg1);
}

std::string formatUiText(const AppState& state, UiText id, std::string_view arg1,
                         std::string_view arg2) {
    return replaceAll(formatUiText(state, id, arg1), "%2", arg2);
}

std::string LanguageTexts::text(UiText id) const {
    if (!read_) {
        library_ = readLibrary(folders_, languageDll_);
        read_ = true;
    }
    return textOf(library_, id);
}

std::string LanguageTexts::format(UiText id, std::string_view arg1) const {
    return replaceAll(text(id), "%1", arg1);
}

std::string LanguageTexts::format(UiText id, std::string_view arg1, std::string_view arg2) const {
    return replaceAll(format(id, arg1), "%2", arg2);
}

std::uint64_t languageLibraryReads() {
    return libraryReads.load(std::memory_order_relaxed);
}

} // namespace pelotest

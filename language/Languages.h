#pragma once
// The language libraries on offer and the translator's template.
//
// Discovery lists the built-in language first, then every "*.dll" of the language folders that
// carries a non-empty flag ("lang_bmp") and names this program in its version strings. The export
// writes the five files from which a translator builds a new library: the texts of the current
// language as a resource script, a library project and its options, the flag and a read-me.

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelotest {

// The product name a library must carry (version string "ProductName") to be offered.
inline constexpr std::string_view kProgramProductName = "PelorinTest";

struct LanguageEntry {
    // Bare file name of the library; empty for the built-in language.
    std::string fileName;
    // Text of the entry (Windows-1252): the library's FileDescription, or its file name when that
    // is empty; for the built-in language UI text 123 of the language in use.
    std::string displayName;
    // The flag: the bytes of the "lang_bmp" resource (a Windows bitmap file).
    std::string flag;
    // Where the library lies (empty for the built-in language).
    std::filesystem::path path;
    // The ids of its texts that are not used (they add markup to the built-in texts, which stand
    // in their place), ascending; empty when every text is used.
    std::vector<int> textsNotUsed;
};

// Text ids as the listing and the window name them: "67, 94, 96".
std::string textIdList(std::span<const int> ids);

// The built-in language's flag and the export's read-me, as compiled into the program.
std::string_view builtInFlag();
std::string_view languageReadme();

// The libraries a folder list offers, the built-in entry first. Within a folder the files come in
// case-insensitive name order; a name already found in an earlier folder is left out (the text
// lookup would read the earlier file). Unreadable files, files without a flag or with an empty
// one, and files whose product name is not kProgramProductName (case-sensitive) are left out.
// currentLanguageDll only chooses the language of the built-in entry's text.
std::vector<LanguageEntry> discoverLanguages(std::span<const std::filesystem::path> folders,
                                             std::string_view currentLanguageDll);

// The entry whose file name equals name ignoring case; nullopt when none does.
std::optional<std::size_t> findLanguage(const std::vector<LanguageEntry>& entries,
                                        std::string_view name);

struct ExportFile {
    std::string name;
    std::string bytes;
};

// The five files of the template for the language languageDll (empty: built-in), in the order
// they are written: language.rc, lang_new.dpr, lang_new.dof, lang_new.bmp, lang_readme.txt.
// entries is the current discovery result; it names the language in the project options.
std::vector<ExportFile> languageExportFiles(std::span<const std::filesystem::path> folders,
                                            std::string_view languageDll,
                                            const std::vector<LanguageEntry>& entries);

// Writes the files into folder, each replacing a file of that name atomically. Stops at the first
// failure and returns its reason (the files written before it stay); nullopt on success.
std::optional<std::string> writeLanguageExport(const std::filesystem::path& folder,
                                               const std::vector<ExportFile>& files);

// Escapes a looked-up text for a string of the resource script: CR becomes "#13", a double quote
// a backslash and the quote, a backslash two backslashes. The escaping passes through the marks
// "~qt~" and "~sl~", so a text that itself holds one of them comes out with an escaped quote or a
// doubled backslash in its place.
std::string escapeForResourceScript(std::string_view text);

// Whether bytes are a language library this program can offer: a PE image with a non-empty flag
// and the program's product name. Used before a downloaded file replaces anything.
bool isLanguageLibrary(const std::string& bytes);

} // namespace pelotest

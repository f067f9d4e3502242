#include "language/Languages.h"

#include "language/PeResources.h"
#include "language/ProgramResources.h"
#include "language/UiTexts.h"
#include "state/AtomicFile.h"
#include "state/TextCase.h"
#include "state/TextEdits.h"

#include <algorithm>
#include <set>

namespace pelotest {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kCrLf = "\r\n";

std::string_view programResource(std::string_view name) {
    const program_resources::Resource* resource = program_resources::find(name);
    if (!resource)
        return {};
    return {reinterpret_cast<const char*>(resource->bytes.data()), resource->bytes.size()};
}

bool endsWithDll(std::string_view name) {
    return name.size() > 4 && endsWithIgnoreCase(name, ".dll");
}

// Lines joined by CR LF, the last one without a line end.
std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += kCrLf;
        text += lines[i];
    }
    return text;
}

// The files of a folder that may be libraries, in case-insensitive name order.
std::vector<fs::path> candidateFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        if (it->is_directory(typeError) || !endsWithDll(it->path().filename().string()))
            continue;
        files.push_back(it->path());
    }
    std::stable_sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
        return compareIgnoreCase(a.filename().string(), b.filename().string()) < 0;
    });
    return files;
}

// A library's entry, or nullopt when the file is no library of this program.
std::optional<LanguageEntry> offeredLibrary(const PeResources& library) {
    auto flag = library.rcdata("lang_bmp");
    if (!flag || flag->empty())
        return std::nullopt;
    if (library.versionString("ProductName") != kProgramProductName)
        return std::nullopt;
    LanguageEntry entry;
    entry.displayName = library.versionString("FileDescription");
    entry.flag = std::move(*flag);
    return entry;
}

} // namespace

std::string_view builtInFlag() {
    return programResource("flag-de.bmp");
}

std::string_view languageReadme() {
    return programResource("lang_readme.txt");
}

std::string textIdList(std::span<const int> ids) {
    std::string list;
    for (const int id : ids)
        list += (list.empty() ? "" : ", ") + std::to_string(id);
    return list;
}

std::vector<LanguageEntry> discoverLanguages(std::span<const fs::path> folders,
                                             std::string_view currentLanguageDll) {
    std::vector<LanguageEntry> entries;
    LanguageEntry builtIn;
    builtIn.displayName = loadUiText(folders, currentLanguageDll, UiText::BuiltInLanguageName);
    builtIn.flag = std::string(builtInFlag());
    entries.push_back(std::move(builtIn));

    // Names are compared ignoring case, as the lookup of the current language compares them.
    std::set<std::string> seen;
    for (const fs::path& folder : folders) {
        for (const fs::path& file : candidateFiles(folder)) {
            const std::string name = file.filename().string();
            if (!seen.insert(toLower(name)).second)
                continue;
            const auto library = PeResources::fromFile(file);
            if (!library)
                continue;
            auto entry = offeredLibrary(*library);
            if (!entry)
                continue;
            entry->fileName = name;
            if (entry->displayName.empty())
                entry->displayName = name;
            entry->path = file;
            entry->textsNotUsed = textsWithAddedMarkup(*library);
            entries.push_back(std::move(*entry));
        }
    }
    return entries;
}

std::optional<std::size_t> findLanguage(const std::vector<LanguageEntry>& entries,
                                        std::string_view name) {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (equalsIgnoreCase(entries[i].fileName, name))
            return i;
    return std::nullopt;
}

std::string escapeForResourceScript(std::string_view text) {
    std::string escaped = replaceAll(text, "\r", "#13");
    escaped = replaceAll(escaped, "\"", "~qt~");
    escaped = replaceAll(escaped, "\\", "~sl~");
    escaped = replaceAll(escaped, "~qt~", "\\\"");
    return replaceAll(escaped, "~sl~", "\\\\");
}

std::vector<ExportFile> languageExportFiles(std::span<const fs::path> folders,
                                            std::string_view languageDll,
                                            const std::vector<LanguageEntry>& entries) {
    std::vector<ExportFile> files;

    std::vector<std::string> script = {"STRINGTABLE", "BEGIN"};
    for (int id = 1; id <= kUiTextCount; ++id)
        script.push_back(std::to_string(id) + " , \"" +
                         escapeForResourceScript(loadUiText(folders, languageDll, UiText{id})) +
                         "\"");
    script.push_back("END");
    script.push_back("lang_bmp RCDATA lang_new.bmp");
    files.push_back({"language.rc", joinLines(script)});

    files.push_back({"lang_new.dpr", joinLines({"library lang_new;", "{$E dll}", "{$R *.res}",
                                                "begin", "{$R language.res}", "end."})});

    const auto current = findLanguage(entries, languageDll);
    const std::string description =
        current ? entries[*current].displayName + " [extracted]" : "blank languagefile [extracted]";
    files.push_back({"lang_new.dof", joinLines({"[Version Info]",
                                                "IncludeVerInfo=1",
                                                "AutoIncBuild=0",
                                                "MajorVer=1",
                                                "MinorVer=0",
                                                "Release=0",
                                                "Build=0",
                                                "Debug=0",
                                                "PreRelease=0",
                                                "Special=0",
                                                "Private=0",
                                                "DLL=0",
                                                "[Version Info Keys]",
                                                "CompanyName=Dunmere",
                                                "FileDescription=" + description,
                                                "FileVersion=1.0.0.0",
                                                "InternalName=",
                                                "LegalCopyright=",
                                                "LegalTrademarks=",
                                                "OriginalFilename=",
                                                "ProductName=" + std::string(kProgramProductName),
                                                "ProductVersion=1.0.0.0",
                                                "Comments=extracted language file"})});

    // The flag of the library in use; the program's own when there is none, or when the
    // library's is empty (a template with an empty flag would build a library nobody is offered).
    std::string flag(builtInFlag());
    if (!languageDll.empty()) {
        for (const fs::path& folder : folders) {
            const fs::path file = folder / std::string(languageDll);
            std::error_code error;
            if (!fs::is_regular_file(file, error))
                continue;
            if (const auto library = PeResources::fromFile(file))
                if (auto own = library->rcdata("lang_bmp"); own && !own->empty())
                    flag = std::move(*own);
            break;
        }
    }
    files.push_back({"lang_new.bmp", std::move(flag)});
    files.push_back({"lang_readme.txt", std::string(languageReadme())});
    return files;
}

std::optional<std::string> writeLanguageExport(const fs::path& folder,
                                               const std::vector<ExportFile>& files) {
    // One descriptor for all five: a link swapped into the folder's path meanwhile cannot send
    // the later files elsewhere.
    const FolderHandle target(folder);
    for (const ExportFile& file : files)
        if (auto failure = target.replace(file.name, file.bytes))
            return file.name + ": " + *failure;
    return std::nullopt;
}

bool isLanguageLibrary(const std::string& bytes) {
    if (bytes.size() > kMaxPeFileSize)
        return false;
    const PeResources library{std::string(bytes)};
    return library.hasResources() && offeredLibrary(library).has_value();
}

} // namespace pelotest

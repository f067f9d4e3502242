#include "app/TranslatorCommands.h"

#include "app/InstallLayout.h"
#include "app/TerminalText.h"
#include "language/Languages.h"
#include "state/ProfileFile.h"

#include <iostream>

namespace fs = std::filesystem;

namespace pelotest {

namespace {

// The language the settings file names, if it is still offered (else the built-in one, as at
// the window's start). Reads the file only.
std::string currentLanguage(const fs::path& settingsPath,
                            const std::vector<LanguageEntry>& entries) {
    const std::string stored =
        ProfileFile::readFromDisk(settingsPath, "Settings", "LanguageDll").value_or("");
    return findLanguage(entries, stored) ? stored : std::string();
}

} // namespace

int listLanguages(const Options& options) {
    const fs::path exeFolder = executableFolder();
    const std::vector<fs::path> folders = languageFolders(exeFolder);
    const std::string current =
        currentLanguage(settingsPathOf(options, exeFolder), discoverLanguages(folders, ""));
    for (const LanguageEntry& entry : discoverLanguages(folders, current)) {
        std::cout << terminalFileName(entry.fileName) << '\t' << terminalText(entry.displayName)
                  << '\n';
        if (!entry.textsNotUsed.empty())
            std::cerr << "pelotest: " << terminalFileName(entry.fileName) << ": texts "
                      << textIdList(entry.textsNotUsed)
                      << " carry markup that the built-in texts do not; the built-in texts are "
                         "used in their place\n";
    }
    return 0;
}

int exportLanguage(const Options& options) {
    const fs::path exeFolder = executableFolder();
    std::vector<fs::path> folders = languageFolders(exeFolder);
    std::string language;
    if (options.language) {
        // A path names a library outside the usual folders: its own folder is searched first.
        const fs::path named(*options.language);
        language = named.filename().string();
        if (named.has_parent_path())
            folders.insert(folders.begin(), fs::absolute(named.parent_path()));
        if (!language.empty() && !findLanguage(discoverLanguages(folders, ""), language)) {
            std::cerr << "pelotest: " << *options.language
                      << " is no language library of this program (it needs a flag \"lang_bmp\" "
                         "and the product name "
                      << kProgramProductName << ")\n";
            return 1;
        }
    } else {
        language =
            currentLanguage(settingsPathOf(options, exeFolder), discoverLanguages(folders, ""));
    }
    const std::vector<LanguageEntry> entries = discoverLanguages(folders, language);
    const fs::path folder = *options.exportFolder;
    std::error_code error;
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder, error)) {
        std::cerr << "pelotest: cannot write into " << folder.string() << ": it is no folder\n";
        return 1;
    }
    if (auto failure =
            writeLanguageExport(folder, languageExportFiles(folders, language, entries))) {
        std::cerr << "pelotest: cannot write the language template into " << folder.string() << ": "
                  << *failure << "\n";
        return 1;
    }
    std::cout << "wrote language.rc, lang_new.dpr, lang_new.dof, lang_new.bmp and "
                 "lang_readme.txt into "
              << folder.string() << "\n";
    return 0;
}

} // namespace pelotest

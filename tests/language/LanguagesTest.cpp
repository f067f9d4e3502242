// Discovery of language libraries, the translator's template (byte for byte), the round trip a
// translator makes with the read-me's Linux commands, and the command-line options for both.

#include "language/Languages.h"

#include "LanguageTestData.h"
#include "language/PeResources.h"
#include "language/UiTexts.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <vector>

namespace pelotest {
namespace {

namespace fs = std::filesystem;
using test::generatedExport;
using test::languageData;
using test::languageLibrary;
using test::readBytes;
using test::TempDir;

std::vector<fs::path> folders(std::initializer_list<fs::path> list) {
    return list;
}

void copyLibrary(const std::string& library, const fs::path& folder, std::string name = {}) {
    fs::create_directories(folder);
    fs::copy_file(languageLibrary(library), folder / (name.empty() ? library : name),
                  fs::copy_options::overwrite_existing);
}

// (file name, display name) of each entry.
std::vector<std::pair<std::string, std::string>> names(const std::vector<LanguageEntry>& entries) {
    std::vector<std::pair<std::string, std::string>> result;
    for (const LanguageEntry& entry : entries)
        result.emplace_back(entry.fileName, entry.displayName);
    return result;
}

TEST(Languages, DiscoveryOffersOnlyLibrariesOfThisProgram) {
    using Names = std::vector<std::pair<std::string, std::string>>;
    const std::pair<std::string, std::string> builtIn{"", "Deutsch (standard)"};
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files; // (library, name in the folder)
        Names expected;
    };
    const Case cases[] = {
        {"no libraries", {}, {builtIn}},
        {"a complete library",
         {{"lang_full.dll", ""}},
         {builtIn, {"lang_full.dll", "English (test)"}}},
        {"no description: listed by file name",
         {{"lang_nodesc.dll", ""}},
         {builtIn, {"lang_nodesc.dll", "lang_nodesc.dll"}}},
        {"no version information", {{"lang_nover.dll", ""}}, {builtIn}},
        {"a foreign product name", {{"lang_foreign.dll", ""}}, {builtIn}},
        {"an empty flag", {{"lang_emptyflag.dll", ""}}, {builtIn}},
        {"case-insensitive order and extension",
         {{"lang_nodesc.dll", "b.DLL"}, {"lang_full.dll", "A.dll"}, {"lang_full.dll", "c.dllx"}},
         {builtIn, {"A.dll", "English (test)"}, {"b.DLL", "b.DLL"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        for (const auto& [library, name] : c.files)
            copyLibrary(library, dir.path(), name);
        const auto entries = discoverLanguages(folders({dir.path()}), "");
        EXPECT_EQ(names(entries), c.expected);
        for (const LanguageEntry& entry : entries)
            EXPECT_FALSE(entry.flag.empty());
    }
}

TEST(Languages, DiscoverySkipsWhatIsNoLibraryAndPrefersTheFirstFolder) {
    TempDir first, second;
    first.write("junk.dll", "MZ not a portable executable");
    first.write("empty.dll", "");
    fs::create_directories(first.path() / "folder.dll");
    copyLibrary("lang_full.dll", first.path(), "shared.dll");
    copyLibrary("lang_nodesc.dll", second.path(), "SHARED.DLL");
    copyLibrary("lang_nodesc.dll", second.path(), "second.dll");
    const auto entries =
        discoverLanguages(folders({first.path(), first.path() / "missing", second.path()}), "");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"", "Deutsch (standard)"}, {"shared.dll", "English (test)"}, {"second.dll", "second.dll"}};
    EXPECT_EQ(names(entries), expected);
    EXPECT_EQ(entries[1].flag, readBytes(languageData("flag.bmp")));
    EXPECT_EQ(entries[1].path, first.path() / "shared.dll");
}

TEST(Languages, BuiltInEntryIsInTheCurrentLanguageWithTheProgramsFlag) {
    TempDir dir;
    copyLibrary("lang_full.dll", dir.path());
    const auto entries = discoverLanguages(folders({dir.path()}), "lang_full.dll");
    EXPECT_EQ(entries[0].displayName, "EN 123: Deutsch (standard)");
    // A 16 x 16 Windows bitmap of 16 colours whose pixel at x 0, y 14 is the transparent colour.
    const std::string flag = entries[0].flag;
    ASSERT_GE(flag.size(), 54u + 64u + 128u);
    EXPECT_EQ(flag.substr(0, 2), "BM");
    const auto word = [&](std::size_t at) {
        return static_cast<unsigned char>(flag[at]) | static_cast<unsigned char>(flag[at + 1]) << 8;
    };
    EXPECT_EQ(word(18), 16);
    EXPECT_EQ(word(22), 16);
    EXPECT_EQ(word(28), 4);
    EXPECT_EQ(flag, builtInFlag());
    EXPECT_EQ(findLanguage(entries, "LANG_FULL.DLL"), 1u);
    EXPECT_EQ(findLanguage(entries, ""), 0u);
    EXPECT_FALSE(findLanguage(entries, "lang_en.dll"));
}

TEST(Languages, EscapingForTheResourceScript) {
    const std::array<std::pair<std::string_view, std::string_view>, 7> cases = {{
        {"plain", "plain"},
        {"a\"b\"", "a\\\"b\\\""},
        {"c:\\/(Test)", "c:\\\\/(Test)"},
        {"\\\"", "\\\\\\\""},
        {"one\rtwo\r", "one#13two#13"},
        {"~qt~ and ~sl~", "\\\" and \\\\"},
        {"#13 stays", "#13 stays"},
    }};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(escapeForResourceScript(text), expected) << text;
}

// The export of a language compared byte for byte with the files in tests/data/lang/export/ and
// the language.rc files the build makes from the texts' data files (tools/make_ui_texts.py).
TEST(Languages, ExportWritesTheFiveFilesExactly) {
    struct Case {
        const char* language;
        const char* expectedPrefix;
        std::string flag;
    };
    const Case cases[] = {
        {"", "de", std::string(builtInFlag())},
        {"lang_full.dll", "full", readBytes(languageData("flag.bmp"))},
    };
    const fs::path expected = languageData("export");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        TempDir libraries, out;
        copyLibrary("lang_full.dll", libraries.path());
        const auto searched = folders({libraries.path()});
        const auto files =
            languageExportFiles(searched, c.language, discoverLanguages(searched, c.language));
        ASSERT_EQ(writeLanguageExport(out.path(), files), std::nullopt);
        const std::string prefix = std::string(c.expectedPrefix) + "-";
        EXPECT_EQ(readBytes(out.path() / "language.rc"),
                  readBytes(generatedExport(prefix + "language.rc")));
        EXPECT_EQ(readBytes(out.path() / "lang_new.dof"),
                  readBytes(expected / (prefix + "lang_new.dof")));
        EXPECT_EQ(readBytes(out.path() / "lang_new.dpr"), readBytes(expected / "lang_new.dpr"));
        EXPECT_EQ(readBytes(out.path() / "lang_new.bmp"), c.flag);
        EXPECT_EQ(readBytes(out.path() / "lang_readme.txt"),
                  readBytes(fs::path(PELOTEST_SOURCE_DIR) / "resources/lang/lang_readme.txt"));
        EXPECT_EQ(std::distance(fs::directory_iterator(out.path()), fs::directory_iterator()), 5);
    }
}

TEST(Languages, ExportOfAnUnofferedOrFlaglessLibrary) {
    TempDir libraries;
    copyLibrary("lang_nover.dll", libraries.path());
    copyLibrary("lang_emptyflag.dll", libraries.path());
    const auto searched = folders({libraries.path()});
    const auto entries = discoverLanguages(searched, "");
    struct Case {
        const char* language;
        const char* text1;
        std::string flag;
    };
    const std::string ownFlag = readBytes(languageData("flag.bmp"));
    const std::string programFlag(builtInFlag());
    for (const Case& c : {Case{"lang_nover.dll", "No version", ownFlag},
                          Case{"lang_emptyflag.dll", "Empty flag", programFlag},
                          Case{"gone.dll", "Testumgebung f\xFCr Pelorin-Templates", programFlag}}) {
        SCOPED_TRACE(c.language);
        const auto files = languageExportFiles(searched, c.language, entries);
        EXPECT_NE(files[0].bytes.find(std::string("\r\n1 , \"") + c.text1 + "\"\r\n"),
                  std::string::npos);
        EXPECT_NE(files[2].bytes.find("\r\nFileDescription=blank languagefile [extracted]\r\n"),
                  std::string::npos);
        // The library's own flag; the program's when it has none or an empty one.
        EXPECT_EQ(files[3].bytes, c.flag);
    }
}

TEST(Languages, ExportIntoAFolderThatCannotBeWrittenReportsTheFile) {
    TempDir dir;
    const fs::path notAFolder = dir.write("file", "x");
    const auto failure = writeLanguageExport(notAFolder, languageExportFiles({}, "", {}));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->rfind("language.rc: ", 0), 0u) << *failure;
}

// Runs a shell command line in folder; its exit status.
int runShell(const std::string& line, const fs::path& folder) {
    const std::string command = "cd '" + folder.string() + "' && { " + line + "\n} >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The commands of the read-me's Linux section: its lines starting with "$ ".
std::vector<std::string> readmeCommands(const std::string& readme) {
    std::vector<std::string> commands;
    std::istringstream lines(readme);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with("$ "))
            commands.push_back(line.substr(2));
    }
    return commands;
}

// What a translator does: export, translate, build with the read-me's commands, install, choose.
TEST(Languages, LibraryBuiltFromTheExportWithTheReadmeCommandsIsOffered) {
    const auto commands = readmeCommands(std::string(languageReadme()));
    ASSERT_EQ(commands.size(), 4u);
    for (const char* language : {"", "lang_full.dll"}) {
        SCOPED_TRACE(language);
        TempDir libraries, work;
        copyLibrary("lang_full.dll", libraries.path());
        const auto searched = folders({libraries.path()});
        ASSERT_EQ(writeLanguageExport(work.path(),
                                      languageExportFiles(searched, language,
                                                          discoverLanguages(searched, language))),
                  std::nullopt);
        // The translation: text 2 changes, with a quote and a backslash in it.
        std::string script = readBytes(work.path() / "language.rc");
        const std::string line2 =
            std::string("\r\n2 , \"") +
            escapeForResourceScript(loadUiText(searched, language, UiText::TabGeneral)) + "\"\r\n";
        const auto at = script.find(line2);
        ASSERT_NE(at, std::string::npos);
        script.replace(at, line2.size(), "\r\n2 , \"Gen\\\"er\\\\al\"\r\n");
        work.write("language.rc", script);
        for (const std::string& command : commands)
            ASSERT_EQ(runShell(command, work.path()), 0) << command;

        TempDir installed;
        fs::copy_file(work.path() / "lang_new.dll", installed.path() / "lang_new.dll");
        const auto entries = discoverLanguages(folders({installed.path()}), "");
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[1].fileName, "lang_new.dll");
        EXPECT_EQ(entries[1].displayName,
                  *language ? "English (test) [extracted]" : "Deutsch (standard) [extracted]");
        EXPECT_EQ(entries[1].flag, readBytes(work.path() / "lang_new.bmp"));
        const auto built = folders({installed.path()});
        // Text 2 came through the script unchanged; as it adds a quote and a backslash to the
        // built-in text, the built-in one is shown.
        const auto library = PeResources::fromFile(installed.path() / "lang_new.dll");
        ASSERT_TRUE(library);
        EXPECT_EQ(windows1252FromUtf16(library->string(2)), "Gen\"er\\al");
        for (int id = 1; id <= kUiTextCount; ++id) {
            const std::string expected = id == 2 ? loadBuiltInUiText(UiText::TabGeneral)
                                                 : loadUiText(searched, language, UiText{id});
            EXPECT_EQ(loadUiText(built, "lang_new.dll", UiText{id}), expected) << "id " << id;
        }
    }
}

TEST(Languages, OnlyLanguageLibrariesPassTheDownloadCheck) {
    struct Case {
        std::string bytes;
        bool library;
    };
    const Case cases[] = {
        {readBytes(languageLibrary("lang_full.dll")), true},
        {readBytes(languageLibrary("lang_full32.dll")), true},
        {readBytes(languageLibrary("lang_nover.dll")), false},
        {readBytes(languageLibrary("lang_foreign.dll")), false},
        {readBytes(languageLibrary("lang_emptyflag.dll")), false},
        {"<html>404 Not Found</html>", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isLanguageLibrary(c.bytes), c.library) << c.bytes.substr(0, 20);
}

// The English library built beside the program: every text translated, and every piece that the
// program or a page interprets (placeholders, line breaks, markup, script) kept.
TEST(Languages, ShippedEnglishLibraryTranslatesEveryTextAndKeepsItsMarkup) {
    const fs::path file = fs::path(PELOTEST_BINARY_DIR) / "lang_en.dll";
    const auto library = PeResources::fromFile(file);
    ASSERT_TRUE(library);
    EXPECT_TRUE(isLanguageLibrary(readBytes(file)));
    EXPECT_EQ(library->versionString("FileDescription"), "English");
    const std::vector<fs::path> beside = {file.parent_path()};
    const auto count = [](const std::string& text, std::string_view piece) {
        std::size_t n = 0;
        for (std::size_t at = text.find(piece); at != std::string::npos;
             at = text.find(piece, at + piece.size()))
            ++n;
        return n;
    };
    const std::string_view pieces[] = {"%1",   "%2",   "\r",     "<b>",    "</b>",
                                       "<u>",  "</u>", "<br>",   "&nbsp;", "&minus;",
                                       "\\\"", "\\n",  "+name+", "\""};
    for (int id = 1; id <= kUiTextCount; ++id) {
        SCOPED_TRACE(id);
        const std::string english = loadUiText(beside, "lang_en.dll", UiText{id});
        const std::string german = loadBuiltInUiText(UiText{id});
        if (id == 47) {
            EXPECT_EQ(english, "");
            continue;
        }
        EXPECT_FALSE(windows1252FromUtf16(library->string(static_cast<std::uint32_t>(id))).empty());
        // Words that read the same in both languages ("Log", "OK", "Start", the site address).
        static const std::set<int> same = {3, 5, 7, 12, 14, 44, 58, 62, 83, 108, 110, 112, 118};
        if (!same.contains(id)) {
            EXPECT_NE(english, german);
        }
        for (std::string_view piece : pieces)
            EXPECT_EQ(count(english, piece), count(german, piece)) << piece;
    }
    EXPECT_EQ(loadUiText(beside, "lang_en.dll", UiText::LanguageCode), "EN");
}

// --- the command line -------------------------------------------------------------------------

struct ProgramRun {
    int status;
    std::string output;
};

// Runs the program with arguments (already quoted for the shell) and the user's data folder.
ProgramRun runProgram(const std::string& arguments, const fs::path& dataHome) {
    const std::string command =
        "XDG_DATA_HOME='" + dataHome.string() + "' '" PELOTEST_PROGRAM "' " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    std::array<char, 4096> buffer{};
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
        output.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(Languages, CommandLineListsAndExportsWithoutTouchingTheSettings) {
    TempDir data, work;
    copyLibrary("lang_full.dll", data.path() / "pelotest" / "languages");
    const std::string settingsText = "[Settings]\r\nLanguageDll=lang_full.dll\r\n";
    const fs::path settings = work.write("pelotest.ini", settingsText);
    const std::string settingsOption = " --settings '" + settings.string() + "'";

    const ProgramRun list = runProgram("--list-languages" + settingsOption, data.path());
    EXPECT_EQ(list.status, 0);
    // The built-in entry first, in the language of the settings; then the libraries beside the
    // program (the shipped English one) and in the user's data folder.
    EXPECT_EQ(list.output, "\tEN 123: Deutsch (standard)\n"
                           "lang_en.dll\tEnglish\n"
                           "lang_full.dll\tEnglish (test)\n");

    const ProgramRun current = runProgram(
        "--export-language '" + (work.path() / "current").string() + "'" + settingsOption,
        data.path());
    EXPECT_EQ(current.status, 0) << current.output;
    EXPECT_EQ(readBytes(work.path() / "current" / "language.rc"),
              readBytes(generatedExport("full-language.rc")));

    const ProgramRun named = runProgram("--export-language '" + (work.path() / "de").string() +
                                            "' --language ''" + settingsOption,
                                        data.path());
    EXPECT_EQ(named.status, 0) << named.output;
    EXPECT_EQ(readBytes(work.path() / "de" / "lang_new.dof"),
              readBytes(languageData("export/de-lang_new.dof")));

    struct Failure {
        std::string arguments;
        std::string message;
    };
    // A link planted where the export writes is refused, and what it leads to stays as it was.
    const fs::path outside = work.write("outside.txt", "another user's file");
    fs::create_directories(work.path() / "shared");
    fs::create_symlink(outside, work.path() / "shared" / "lang_readme.txt");
    const Failure failures[] = {
        {"--export-language '" + (work.path() / "x").string() + "' --language nothere.dll",
         "nothere.dll is no language library"},
        {"--export-language '" + (work.path() / "shared").string() + "'",
         "lang_readme.txt: it is a link"},
        {"--export-language '" + settings.string() + "'", "cannot write into"},
        {"--export-language '" + (work.path() / "y").string() + "' --language '" +
             languageLibrary("lang_nover.dll").string() + "'",
         "is no language library"},
    };
    for (const Failure& f : failures) {
        const ProgramRun run = runProgram(f.arguments + settingsOption, data.path());
        EXPECT_EQ(run.status, 1) << f.arguments;
        EXPECT_NE(run.output.find(f.message), std::string::npos) << run.output;
    }
    EXPECT_FALSE(fs::exists(work.path() / "x" / "language.rc"));
    EXPECT_EQ(readBytes(settings), settingsText);
    EXPECT_EQ(readBytes(outside), "another user's file");
}

// A library's file name and description reach the terminal with their control characters escaped,
// and the listing says once which of its texts are not used.
TEST(Languages, ListingEscapesControlCharactersAndNamesTextsThatAreNotUsed) {
    TempDir data;
    copyLibrary("lang_hostile.dll", data.path() / "pelotest" / "languages", "x\x1b[2J\x9b.dll");
    const ProgramRun list =
        runProgram("--list-languages --settings /nonexistent/s.ini", data.path());
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.output.find("x\\x1b[2J\\x9b.dll\tHostile\\x1b[2J\\x1b]0;owned\\x07 end\n"),
              std::string::npos)
        << list.output;
    EXPECT_NE(list.output.find(
                  "pelotest: x\\x1b[2J\\x9b.dll: texts 67, 75, 94, 96, 107, 110 carry markup that "
                  "the built-in texts do not"),
              std::string::npos)
        << list.output;
    EXPECT_EQ(list.output.find('\x1b'), std::string::npos);
}

} // namespace
} // namespace pelotest

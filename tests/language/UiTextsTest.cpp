#include "language/UiTexts.h"

#include "LanguageTestData.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace pelotest {
namespace {

using test::finished;
using test::germanTable;
using test::languageLibrary;
using test::TempDir;

std::vector<std::filesystem::path> libraryFolder() {
    return {PELOTEST_LANGUAGE_LIBRARIES};
}

TEST(UiTexts, BuiltInTableHoldsEveryGermanText) {
    const auto table = germanTable();
    const std::vector<std::filesystem::path> folders = libraryFolder();
    for (int id = 1; id <= kUiTextCount; ++id) {
        SCOPED_TRACE(id);
        if (id == 47) {
            EXPECT_EQ(loadBuiltInUiText(UiText{id}), "");
            continue;
        }
        const std::string expected = finished(table.at(id));
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(loadBuiltInUiText(UiText{id}), expected);
        EXPECT_EQ(loadUiText(folders, "", UiText{id}), expected);
        EXPECT_EQ(loadUiText({}, "lang_full.dll", UiText{id}), expected); // no folder to look in
    }
}

TEST(UiTexts, BuiltInTextsAreWindows1252Bytes) {
    struct Case {
        int id;
        std::string_view bytes;
    };
    const Case cases[] = {
        {1, "Testumgebung f\xFCr Pelorin-Templates"},
        {15, "Ordner (Es k\xF6nnen auch Variablen verwendet werden, z.B. \"c:\\/(Test)\")"},
        {20, "Parameter (z.B. test=1&&test2=abc)"},
        {57, "dd\".\"mm\".\"yyyy hh\":\"nn\":\"ss"},
        {67, "Soll die Variable \\\"\"+name+\"\\\" wirklich gel\xF6scht werden?"},
        {68, "Bitte geben Sie hier den neuen Wert f\xFCr \\\"\" + name+\"\\\" ein.\\n"
             "(@Delete = Variable entfernen)"},
        {92, "\xDC"
             "bernehmen"},
        {97, "Die Datei\r%1\rwurde nicht gefunden!"},
        {109, "Sie k&ouml;nnen in das %1Kontrollzentrum%2 wechseln"},
        {119, "Best\xE4tigung"},
        {132, "Bitte warten...\r\rAchtung: Zum Anzeigen dieser Seite ben\xF6tigen Sie eine "
              "Verbindung zum Internet!"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(loadBuiltInUiText(UiText{c.id}), c.bytes) << "id " << c.id;
    EXPECT_EQ(loadBuiltInUiText(UiText::VendorAddress).rfind("https://", 0), 0u)
        << "id 110 is a web address";
    EXPECT_NE(loadBuiltInUiText(UiText::TrademarkNotice).find("Pelorin"), std::string::npos);
}

TEST(UiTexts, IdsWithoutTextAreEmptyUnlessALibrarySuppliesThem) {
    const auto folders = libraryFolder();
    for (int id : {47, 0, -1, kUiTextCount + 1, 1000, 65536, 1 << 30}) {
        EXPECT_EQ(loadBuiltInUiText(UiText{id}), "") << id;
        EXPECT_EQ(loadUiText(folders, "", UiText{id}), "") << id;
        EXPECT_EQ(loadUiText(folders, "lang_only1.dll", UiText{id}), "") << id;
    }
    EXPECT_EQ(loadUiText(folders, "lang_full.dll", UiText{47}), "EN 47: unused");
}

TEST(UiTexts, FullLibraryReplacesEveryId) {
    auto table = germanTable();
    table[47] = "unused";
    const auto folders = libraryFolder();
    for (const char* library : {"lang_full.dll", "lang_full32.dll"}) {
        for (int id = 1; id <= kUiTextCount; ++id) {
            EXPECT_EQ(loadUiText(folders, library, UiText{id}),
                      finished("EN " + std::to_string(id) + ": " + table.at(id)))
                << library << " id " << id;
        }
        // Umlauts, quotes and backslashes come through the UTF-16 of the library unchanged.
        EXPECT_EQ(loadUiText(folders, library, UiText::TemplateFolderLabel),
                  "EN 15: Ordner (Es k\xF6nnen auch Variablen verwendet werden, z.B. "
                  "\"c:\\/(Test)\")");
        EXPECT_EQ(loadUiText(folders, library, UiText::LogFileNotFound),
                  "EN 105: Die Datei\r%1\rwurde nicht gefunden!");
    }
}

TEST(UiTexts, MissingIdsFallBackOneByOne) {
    const auto table = germanTable();
    const auto folders = libraryFolder();
    EXPECT_EQ(loadUiText(folders, "lang_only1.dll", UiText::WindowTitle),
              "Test environment for Pelorin templates");
    for (int id = 2; id <= kUiTextCount; ++id) {
        const std::string expected = id == 47 ? "" : finished(table.at(id));
        EXPECT_EQ(loadUiText(folders, "lang_only1.dll", UiText{id}), expected) << id;
    }
    EXPECT_EQ(loadUiText(folders, "lang_nover.dll", UiText::WindowTitle), "No version");
    EXPECT_EQ(loadUiText(folders, "lang_nover.dll", UiText::TabGeneral), "Allgemein");
}

// A library's text is used only when it carries no markup beyond the built-in text of its id.
TEST(UiTexts, ALibraryTextThatAddsMarkupIsNotUsed) {
    const struct {
        int id;
        const char* expected; // nullptr: the built-in text
    } cases[] = {
        {2, "Hostile general"},
        {60, "Changed&nbsp;on&nbsp;"}, // the built-in entities, fewer of them
        {93, "Hostile: file not found - Error 404"},
        {94, nullptr},  // adds a tag
        {67, nullptr},  // other code between the quotes of its script string
        {96, nullptr},  // adds an entity
        {75, nullptr},  // a line break inside its script string
        {107, nullptr}, // "%27" inside a javascript: link is a quote to the browser
        {110, nullptr}, // a link's address that is a script
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(loadUiText(libraryFolder(), "lang_hostile.dll", UiText{c.id}),
                  c.expected ? std::string(c.expected) : loadBuiltInUiText(UiText{c.id}));
    }
}

// What a text may not add depends on where it stands: the characters the browser decodes there.
TEST(UiTexts, AddedMarkupIsJudgedWhereTheTextStands) {
    using enum TextContext;
    const struct {
        const char* translated;
        const char* builtIn;
        TextContext context;
        bool adds;
    } cases[] = {
        // A percent sign is plain text in a page and in a script string...
        {"100% sure", "sicher", Html, false},
        {"100% sure", "sicher", Attribute, false},
        {"50%27", "sicher", Script, false},
        // ...but a javascript: link decodes "%XX" before its script runs.
        {"Hint%27);alert(1);//", "Hinweis", ScriptLink, true},
        {"Hint%2", "Hinweis", ScriptLink, false}, // no two hex digits: nothing to decode
        {"Hint %1 here", "Hinweis %1", ScriptLink, false},
        {"Hint %12", "Hinweis %1", ScriptLink, true}, // "%12" decodes, "%1" was a placeholder
        {"Hint\\n", "Hinweis\\n", ScriptLink, false},
        {"Hint\\x27", "Hinweis\\n", ScriptLink, true},
        {"Hint&#39;", "Hinweis", ScriptLink, true},
        // A line break ends a script's string, not a page's text.
        {"one\rtwo", "eins zwei", Script, true},
        {"one\rtwo", "eins zwei", ScriptLink, true},
        {"one\rtwo", "eins\rzwei", Script, false},
        {"one\rtwo", "eins zwei", Window, false},
        // A link's address leads to the web only.
        {"https://example.org/x?a=%20", "https://www.pelorin.example/", Address, false},
        {"HTTP://example.org/", "https://www.pelorin.example/", Address, false},
        {"EN 110: https://example.org/", "https://www.pelorin.example/", Address, false},
        {" java\tscript:alert(1)", "https://www.pelorin.example/", Address, true},
        {"data:text/html,x", "https://www.pelorin.example/", Address, true},
        {"javascript:alert(document.domain)", "https://www.pelorin.example/", Address, true},
        {"file:///etc/passwd", "https://www.pelorin.example/", Address, true},
        {"https://x.example/\" onclick=\"a", "https://www.pelorin.example/", Address, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.translated);
        EXPECT_EQ(addsMarkup(c.translated, c.builtIn, c.context), c.adds);
    }
    // The texts the pages put into a script or a link know where they stand.
    EXPECT_EQ(textContext(UiText::DynamicPathNotice), ScriptLink);
    EXPECT_EQ(textContext(UiText::VarListDeleteQuestion), Script);
    EXPECT_EQ(textContext(UiText::VendorAddress), Address);
    EXPECT_EQ(textContext(UiText::InfoCaption), Attribute);
}

TEST(UiTexts, LibraryTextsAreConvertedAndFinished) {
    const auto folders = libraryFolder();
    struct Case {
        int id;
        std::string expected;
    };
    const Case cases[] = {
        {1, "Zeile eins\rZeile zwei"},
        {2, "CJK ? Ende"},
        {3, "\x80 \x84"
            "Anf\xFChrung\x93 \x85 \x99 \x8C \xFF"},
        {4, "Emoji ?!"},        // one character outside the BMP, one '?'
        {6, "Variablen"},       // empty in the library
        {7, "Variable"},        // missing from a block the library has
        {17, "Zweiter Block"},  // the second block
        {33, "Alle zuklappen"}, // a block the library lacks
        {8, "%1 und %1 und %2"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(loadUiText(folders, "lang_oddities.dll", UiText{c.id}), c.expected)
            << "id " << c.id;
    // 300 digits in the library, cut to 259.
    std::string digits;
    while (digits.size() < 259)
        digits += "0123456789";
    EXPECT_EQ(loadUiText(folders, "lang_oddities.dll", UiText{5}), digits.substr(0, 259));
}

// A script in the exported form (Windows-1252, CR LF, quotes and backslashes escaped with a
// backslash), built with windres as the translators' guide says, gives back the same bytes.
TEST(UiTexts, ExportedScriptBuildsAWorkingLibrary) {
    const auto folders = libraryFolder();
    EXPECT_EQ(loadUiText(folders, "lang_template.dll", UiText::WindowTitle),
              "Testumgebung f\xFCr Pelorin-Templates (Vorlage)");
    EXPECT_EQ(loadUiText(folders, "lang_template.dll", UiText::TemplateFolderLabel),
              loadBuiltInUiText(UiText::TemplateFolderLabel));
    EXPECT_EQ(loadUiText(folders, "lang_template.dll", UiText::TreeFileNotFound),
              loadBuiltInUiText(UiText::TreeFileNotFound));
    EXPECT_EQ(loadUiText(folders, "lang_template.dll", UiText::TabGeneral), "Allgemein");
}

TEST(UiTexts, LibraryIsLookedForInTheFoldersInOrder) {
    TempDir first, second;
    const std::vector<std::filesystem::path> folders{first.path(), second.path()};
    const std::string full = test::readBytes(languageLibrary("lang_full.dll"));
    const std::string only1 = test::readBytes(languageLibrary("lang_only1.dll"));

    second.write("lang.dll", only1);
    EXPECT_EQ(loadUiText(folders, "lang.dll", UiText::WindowTitle),
              "Test environment for Pelorin templates");
    first.write("lang.dll", full);
    EXPECT_EQ(loadUiText(folders, "lang.dll", UiText::WindowTitle),
              finished("EN 1: " + germanTable().at(1)));

    // The first file found decides, even when it is no library at all.
    first.write("lang.dll", "not a library");
    EXPECT_EQ(loadUiText(folders, "lang.dll", UiText::WindowTitle),
              loadBuiltInUiText(UiText::WindowTitle));
    // A folder of that name is not a file.
    std::filesystem::remove(first.path() / "lang.dll");
    std::filesystem::create_directory(first.path() / "lang.dll");
    EXPECT_EQ(loadUiText(folders, "lang.dll", UiText::WindowTitle),
              "Test environment for Pelorin templates");
}

TEST(UiTexts, OnlyBareFileNamesAreLibraryNames) {
    TempDir dir;
    const std::string only1 = test::readBytes(languageLibrary("lang_only1.dll"));
    dir.write("sub/lang.dll", only1);
    dir.write("lang.dll", only1);
    const std::vector<std::filesystem::path> inner{dir.path() / "sub"};
    const std::vector<std::filesystem::path> outer{dir.path()};
    for (const std::string& name :
         {std::string("sub/lang.dll"), std::string("sub\\lang.dll"), std::string("../lang.dll"),
          std::string(".."), std::string("lang.dll\0x", 10)}) {
        EXPECT_EQ(loadUiText(outer, name, UiText::WindowTitle),
                  loadBuiltInUiText(UiText::WindowTitle))
            << name;
        EXPECT_EQ(loadUiText(inner, name, UiText::WindowTitle),
                  loadBuiltInUiText(UiText::WindowTitle))
            << name;
    }
    EXPECT_EQ(loadUiText(inner, "lang.dll", UiText::WindowTitle),
              "Test environment for Pelorin templates");
}

TEST(UiTexts, ChangedOrRemovedLibraryIsSeenAtTheNextLookup) {
    TempDir dir;
    const std::vector<std::filesystem::path> folders{dir.path()};
    dir.write("lang.dll", test::readBytes(languageLibrary("lang_only1.dll")));
    EXPECT_EQ(loadUiText(folders, "lang.dll", UiText::WindowTitle),
              "Test environment for Pelorin templates");
    EXPECT_EQ(loadUiText(folders, "lang.dll", UiText::TabGeneral), "Allgemein");
    // Same size and same second would fool a cache keyed on them alone.
    dir.write("lang.dll", test::readBytes(languageLibrary("lang_full.dll")));
    EXPECT_EQ(loadUiText(folders, "lang.dll", UiText::TabGeneral), "EN 2: Allgemein");
    std::filesystem::remove(dir.path() / "lang.dll");
    EXPECT_EQ(loadUiText(folders, "lang.dll", UiText::TabGeneral), "Allgemein");
}

// The same library with the text of id 2 changed in place ("EN" becomes "XY"): the same size.
std::string withOtherTextTwo(std::string library) {
    const std::string from("E\0N\0 \0"
                           "2\0:\0",
                           10);
    const std::size_t at = library.find(from);
    if (at == std::string::npos)
        throw std::runtime_error("lang_full.dll holds no text 2");
    library.replace(at, 4, std::string("X\0Y\0", 4));
    return library;
}

TEST(UiTexts, KeptLibraryTextsGiveWayToAChangedFileOfTheSameSize) {
    const std::string full = test::readBytes(languageLibrary("lang_full.dll"));
    const std::string other = withOtherTextTwo(full);
    ASSERT_EQ(other.size(), full.size());
    const struct {
        const char* how;
        bool byRename;
    } cases[] = {{"written in place", false}, {"replaced by rename", true}};
    TempDir dirs[2];
    for (const TempDir& dir : dirs)
        dir.write("lang.dll", full);
    // Only a library that has not changed for a moment is kept (file times are coarse).
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].how);
        const TempDir& dir = dirs[i];
        const std::vector<std::filesystem::path> folders{dir.path()};
        const std::filesystem::path file = dir.path() / "lang.dll";
        EXPECT_EQ(loadUiText(folders, "lang.dll", UiText::TabGeneral), "EN 2: Allgemein");
        // Unchanged: the kept texts answer, the file is not read again.
        const std::uint64_t reads = languageLibraryReads();
        EXPECT_EQ(loadUiText(folders, "lang.dll", UiText::TabLog), "EN 3: Log");
        EXPECT_EQ(languageLibraryReads(), reads);

        if (cases[i].byRename) {
            std::filesystem::rename(dir.write("new.dll", other), file);
        } else {
            std::ofstream out(file, std::ios::binary | std::ios::in | std::ios::out);
            out.write(other.data(), static_cast<std::streamsize>(other.size()));
        }
        EXPECT_EQ(loadUiText(folders, "lang.dll", UiText::TabGeneral), "XY 2: Allgemein");
        EXPECT_EQ(languageLibraryReads(), reads + 1);
    }
}

TEST(UiTexts, DamagedLibrariesFallBackToBuiltInTexts) {
    TempDir dir;
    const std::vector<std::filesystem::path> folders{dir.path()};
    const std::string full = test::readBytes(languageLibrary("lang_full.dll"));
    std::string flippedMagic = full;
    flippedMagic[0] ^= 0x01; // "MZ" no more
    const std::pair<const char*, std::string> files[] = {
        {"empty.dll", ""},
        {"text.dll", "MZ but nothing else"},
        {"header.dll", full.substr(0, 0x200)},
        {"magic.dll", flippedMagic},
    };
    for (const auto& [name, bytes] : files) {
        dir.write(name, bytes);
        for (int id : {1, 2, 97, 132})
            EXPECT_EQ(loadUiText(folders, name, UiText{id}), loadBuiltInUiText(UiText{id}))
                << name << " " << id;
    }
    // Cut anywhere, a library yields each text either whole or not at all.
    const auto table = germanTable();
    for (std::size_t size = 0x300; size < full.size(); size += 97) {
        dir.write("cut.dll", full.substr(0, size));
        for (int id : {1, 64, 132}) {
            const std::string text = loadUiText(folders, "cut.dll", UiText{id});
            const std::string own = finished("EN " + std::to_string(id) + ": " + table.at(id));
            EXPECT_TRUE(text == own || text == loadBuiltInUiText(UiText{id})) << size << " " << id;
        }
    }
}

TEST(UiTexts, FormatFillsPlaceholders) {
    AppState state;
    EXPECT_EQ(formatUiText(state, UiText::FileSavedMessage, "kunde.htm"),
              "kunde.htm - wurde erfolgreich gespeichert");
    EXPECT_EQ(formatUiText(state, UiText::TreeFileNotFound, "c:\\x.htm"),
              "Die Datei\rc:\\x.htm\rwurde nicht gefunden!");
    EXPECT_EQ(formatUiText(state, UiText::WelcomeControlCentreLink, "<a href=\"/$int\">", "</a>"),
              "Sie k&ouml;nnen in das <a href=\"/$int\">Kontrollzentrum</a> wechseln");
    // "%2" is filled after "%1", also where the first argument brought it in.
    EXPECT_EQ(formatUiText(state, UiText::WelcomeControlCentreLink, "%2", "!"),
              "Sie k&ouml;nnen in das !Kontrollzentrum! wechseln");
    EXPECT_EQ(formatUiText(state, UiText::TabGeneral, "x", "y"), "Allgemein");
    EXPECT_EQ(formatUiText(state, UiText{47}, "x"), "");

    state.languageFolders = libraryFolder();
    state.settings.languageDll = "lang_oddities.dll";
    EXPECT_EQ(loadUiText(state, UiText::WindowTitle), "Zeile eins\rZeile zwei");
    EXPECT_EQ(formatUiText(state, UiText::ColumnValue, "a"), "a und a und %2");
    EXPECT_EQ(formatUiText(state, UiText::ColumnValue, "a", "b"), "a und a und b");
    EXPECT_EQ(formatUiText(state, UiText::FileSavedMessage, "kunde.htm"),
              "kunde.htm - wurde erfolgreich gespeichert");
    state.settings.languageDll = "lang_full.dll";
    EXPECT_EQ(formatUiText(state, UiText::FileSavedMessage, "kunde.htm"),
              "EN 131: kunde.htm - wurde erfolgreich gespeichert");
}

} // namespace
} // namespace pelotest

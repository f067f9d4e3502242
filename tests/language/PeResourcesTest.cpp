#include "language/PeResources.h"

#include "LanguageTestData.h"
#include "state/UiTextNames.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <functional>

namespace pelotest {
namespace {

using test::languageLibrary;
using test::readBytes;
using test::TempDir;

std::string library(const char* name) {
    return readBytes(languageLibrary(name));
}

std::uint32_t get16(const std::string& b, std::size_t at) {
    return static_cast<unsigned char>(b.at(at)) | static_cast<unsigned char>(b.at(at + 1)) << 8;
}
std::uint32_t get32(const std::string& b, std::size_t at) {
    return get16(b, at) | get16(b, at + 2) << 16;
}
void put16(std::string& b, std::size_t at, std::uint32_t v) {
    b.at(at) = static_cast<char>(v & 0xFF);
    b.at(at + 1) = static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

// Where things are in a well-formed image, found with the plain header layout, so that a test
// can damage one chosen field.
struct Image {
    std::string bytes;
    std::size_t coff = 0;         // COFF header
    std::size_t optional = 0;     // optional header
    std::size_t resourceSlot = 0; // data directory entry 2
    std::size_t rsrcSection = 0;  // section header holding the resources
    std::size_t root = 0;         // file offset of the resource root
    std::uint32_t rootRva = 0;
    std::uint32_t rvaToOffset = 0; // file offset = rva - rvaToOffset inside that section

    explicit Image(std::string file) : bytes(std::move(file)) {
        coff = get32(bytes, 0x3C) + 4;
        optional = coff + 20;
        resourceSlot = optional + (get16(bytes, optional) == 0x20B ? 112 : 96) + 16;
        rootRva = get32(bytes, resourceSlot);
        const std::size_t table = optional + get16(bytes, coff + 16);
        for (std::size_t i = 0; i < get16(bytes, coff + 2); ++i) {
            const std::size_t header = table + 40 * i;
            const std::uint32_t va = get32(bytes, header + 12);
            if (rootRva >= va && rootRva < va + get32(bytes, header + 8)) {
                rsrcSection = header;
                rvaToOffset = va - get32(bytes, header + 20);
            }
        }
        root = rootRva - rvaToOffset;
    }
    // The entry of id in the directory at file offset directory.
    std::size_t entry(std::size_t directory, std::uint32_t id) const {
        const std::size_t named = get16(bytes, directory + 12);
        const std::size_t total = named + get16(bytes, directory + 14);
        for (std::size_t i = named; i < total; ++i) {
            if (get32(bytes, directory + 16 + 8 * i) == id)
                return directory + 16 + 8 * i;
        }
        throw std::runtime_error("no entry " + std::to_string(id));
    }
    std::size_t target(std::size_t entry) const {
        return root + (get32(bytes, entry + 4) & 0x7FFFFFFF);
    }
    // The type directory's first named entry (LANG_BMP under RT_RCDATA).
    std::size_t firstNamed(std::size_t directory) const { return directory + 16; }
    // The data entry of the only language below a type/name pair.
    std::size_t dataEntry(std::size_t nameEntry) const {
        const std::size_t languages = target(nameEntry);
        return target(languages + 16);
    }
    std::size_t dataOffset(std::size_t dataEntry) const {
        return get32(bytes, dataEntry) - rvaToOffset;
    }
    // The version node whose key is the given ASCII text.
    std::size_t versionNode(std::string_view key) const {
        std::string utf16;
        for (char c : key)
            utf16 += std::string{c, '\0'};
        return bytes.find(utf16 + std::string(2, '\0')) - 6;
    }
};

struct Found {
    std::u16string id1, id16;
    std::optional<std::string> flag;
    std::string description;
};

Found lookAt(const std::string& bytes) {
    const PeResources pe(bytes);
    return {pe.string(1), pe.string(16), pe.rcdata("lang_bmp"),
            pe.versionString("FileDescription")};
}

const std::u16string kFullText1 = u"EN 1: Testumgebung f\u00FCr Pelorin-Templates";
const std::u16string kFullText16 = u"EN 16: Virtueller Ordner";

TEST(PeResources, ConvertsUtf16ToWindows1252) {
    struct Case {
        std::u16string_view in;
        std::string_view out;
    };
    const Case cases[] = {
        {u"Abc 1%", "Abc 1%"},
        {u"\u00E4\u00D6\u00DF\u00A0\u00FF", "\xE4\xD6\xDF\xA0\xFF"},
        {u"\u20AC\u201E\u2026\u2122\u0152\u0178\u02DC", "\x80\x84\x85\x99\x8C\x9F\x98"},
        {u"\u0081\u008D\u008F\u0090\u009D", "\x81\x8D\x8F\x90\x9D"}, // the undefined bytes
        {u"\u0080\u0100\u4E2D\u0416", "????"},
        {u"a\U0001F600b", "a?b"},  // a pair is one character
        {u"\xD800x\xDC00", "?x?"}, // unpaired surrogates
        {u"\xD83D", "?"},
        {std::u16string_view(u"a\0b", 3), std::string_view("a\0b", 3)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(windows1252FromUtf16(c.in), c.out);
}

TEST(PeResources, ReadsStringTablesOfBothImageFormats) {
    // lang_full holds every id of the built-in table, and none after it.
    const auto kLastId = static_cast<std::uint32_t>(kUiTextCount);
    for (const char* name : {"lang_full.dll", "lang_full32.dll"}) {
        SCOPED_TRACE(name);
        const std::string bytes = library(name);
        const Image image(bytes);
        EXPECT_EQ(get16(bytes, image.optional),
                  std::string_view(name) == "lang_full32.dll" ? 0x10Bu : 0x20Bu);
        const PeResources pe(bytes);
        ASSERT_TRUE(pe.hasResources());
        EXPECT_EQ(pe.string(1), kFullText1);
        EXPECT_EQ(pe.string(0x10001), kFullText1); // only the low word counts
        EXPECT_EQ(pe.string(15), u"EN 15: Ordner (Es k\u00F6nnen auch Variablen verwendet "
                                 u"werden, z.B. \"c:\\/(Test)\")");
        EXPECT_EQ(pe.string(16), kFullText16); // first of the second block
        EXPECT_EQ(pe.string(132), u"EN 132: Bitte warten...#13#13Achtung: Zum Anzeigen dieser "
                                  u"Seite ben\u00F6tigen Sie eine Verbindung zum Internet!");
        for (std::uint32_t missing : {0u, kLastId + 1, kLastId + 2, 0xFFFFu})
            EXPECT_EQ(pe.string(missing), u"") << missing;
    }
    // A German table without a neutral or US English entry is found through its first language.
    EXPECT_EQ(PeResources(library("lang_oddities.dll")).string(17), u"Zweiter Block");
}

TEST(PeResources, ReadsVersionStringsThroughTheFirstTranslation) {
    struct Case {
        const char* file;
        std::string_view description, product;
    };
    const Case cases[] = {
        {"lang_full.dll", "English (test)", "PelorinTest"},
        {"lang_full32.dll", "English (test)", "PelorinTest"},
        {"lang_only1.dll",
         "Fran\xE7"
         "ais (test) \x96 ?",
         "PelorinTest"},
        // Two translations: the first names a table written in lower case.
        {"lang_oddities.dll", "Deutsch (Sonderf\xE4lle)", "PelorinTest"},
        {"lang_nover.dll", "", ""},
        {"lang_template.dll", "Deutsch (Vorlage)", "PelorinTest"},
    };
    for (const Case& c : cases) {
        const PeResources pe(library(c.file));
        EXPECT_EQ(pe.versionString("FileDescription"), c.description) << c.file;
        EXPECT_EQ(pe.versionString("ProductName"), c.product) << c.file;
        EXPECT_EQ(pe.hasVersionInfo(), !c.product.empty()) << c.file;
    }
    const PeResources full(library("lang_full.dll"));
    EXPECT_EQ(full.versionString("productname"), "PelorinTest");
    EXPECT_EQ(full.versionString("CompanyName"), "Dunmere");
    EXPECT_EQ(full.versionString("Comments"), "");
    EXPECT_EQ(full.versionString("Product"), "");
    EXPECT_EQ(full.versionString(""), "");
}

TEST(PeResources, ReadsTheFlagByName) {
    const std::string flag = test::readBytes(test::languageData("flag.bmp"));
    for (const char* file :
         {"lang_full.dll", "lang_full32.dll", "lang_nover.dll", "lang_template.dll"}) {
        const PeResources pe(library(file));
        for (const char* name : {"lang_bmp", "LANG_BMP", "Lang_Bmp"})
            EXPECT_EQ(pe.rcdata(name), flag) << file << " " << name;
        for (const char* name : {"lang_bm", "lang_bmpx", "", "#1", "#99999", "#x"})
            EXPECT_EQ(pe.rcdata(name), std::nullopt) << file << " " << name;
        EXPECT_EQ(pe.named(kRtString, "lang_bmp"), std::nullopt);
    }
    // "#1" names an integer id: the version resource starts with its key VS_VERSION_INFO.
    const auto version = PeResources(library("lang_full.dll")).named(kRtVersion, "#1");
    ASSERT_TRUE(version && version->size() > 36);
    EXPECT_EQ(version->substr(6, 30),
              std::string("V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0", 30));
    EXPECT_EQ(PeResources(library("lang_nover.dll")).named(kRtVersion, "#1"), std::nullopt);
}

TEST(PeResources, InputThatIsNoImageFindsNothing) {
    for (const std::string& bytes :
         {std::string(), std::string("MZ"), std::string(64, '\0'), std::string(4096, 'M'),
          std::string("MZ") + std::string(0x3A, '\0') + std::string("\x40\0\0\0PE\0\0", 8)}) {
        const PeResources pe(bytes);
        EXPECT_FALSE(pe.hasResources());
        EXPECT_EQ(pe.string(1), u"");
        EXPECT_EQ(pe.rcdata("lang_bmp"), std::nullopt);
        EXPECT_EQ(pe.versionString("ProductName"), "");
    }
}

// Damage to one field loses what depends on it and nothing else.
TEST(PeResources, DamageIsContainedAndNeverCrashes) {
    const std::string flag = test::readBytes(test::languageData("flag.bmp"));
    const Found all{kFullText1, kFullText16, flag, "English (test)"};
    const Found nothing{u"", u"", std::nullopt, ""};
    Found noBlock1 = all;
    noBlock1.id1.clear();
    Found noFlag = all;
    noFlag.flag.reset();
    Found noVersion = all;
    noVersion.description.clear();
    Found emptyFlag = all;
    emptyFlag.flag = "";

    using Damage = std::function<void(Image&)>;
    const auto stringType = [](const Image& i) { return i.entry(i.root, 6); };
    const auto rcdataType = [](const Image& i) { return i.entry(i.root, 10); };
    const auto block1 = [&](const Image& i) { return i.entry(i.target(stringType(i)), 1); };
    const auto flagName = [&](const Image& i) { return i.firstNamed(i.target(rcdataType(i))); };
    struct Case {
        const char* what;
        Damage damage;
        Found expected;
    };
    const Case cases[] = {
        {"e_lfanew past the end", [](Image& i) { put32(i.bytes, 0x3C, i.bytes.size() - 2); },
         nothing},
        {"e_lfanew wraps", [](Image& i) { put32(i.bytes, 0x3C, 0xFFFFFFFC); }, nothing},
        {"unknown magic", [](Image& i) { put16(i.bytes, i.optional, 0x10C); }, nothing},
        {"optional header too small for the slot",
         [](Image& i) { put16(i.bytes, i.coff + 16, 100); }, nothing},
        {"two data directories only", [](Image& i) { put32(i.bytes, i.resourceSlot - 20, 2); },
         nothing},
        {"65535 sections", [](Image& i) { put16(i.bytes, i.coff + 2, 0xFFFF); }, nothing},
        {"no sections", [](Image& i) { put16(i.bytes, i.coff + 2, 0); }, nothing},
        {"resource section past the end",
         [](Image& i) { put32(i.bytes, i.rsrcSection + 20, 0x7FFFFFF0); }, nothing},
        {"raw size far past the end: what is in the file still reads",
         [](Image& i) { put32(i.bytes, i.rsrcSection + 16, 0xFFFFFFFF); }, all},
        // The version resource comes last; the file goes on after it, so only the section's own
        // size can tell that its last byte is not in the section's data.
        {"raw size one byte short of the last resource",
         [&](Image& i) {
             const std::size_t version = i.dataEntry(i.entry(i.target(i.entry(i.root, 16)), 1));
             const std::size_t end = i.dataOffset(version) + get32(i.bytes, version + 4);
             put32(i.bytes, i.rsrcSection + 16,
                   static_cast<std::uint32_t>(end - get32(i.bytes, i.rsrcSection + 20) - 1));
         },
         noVersion},
        {"resource root at the top of the address space",
         [](Image& i) { put32(i.bytes, i.resourceSlot, 0xFFFFFFF8); }, nothing},
        {"root claims 65535 entries", [](Image& i) { put16(i.bytes, i.root + 14, 0xFFFF); },
         nothing},
        {"type level points at a data entry",
         [&](Image& i) {
             put32(i.bytes, stringType(i) + 4, get32(i.bytes, stringType(i) + 4) & 0x7FFFFFFF);
         },
         Found{u"", u"", flag, "English (test)"}},
        {"type level loops back to the root",
         [&](Image& i) { put32(i.bytes, rcdataType(i) + 4, 0x80000000); }, noFlag},
        {"name level loops back to the root",
         [&](Image& i) { put32(i.bytes, block1(i) + 4, 0x80000000); }, noBlock1},
        {"language level points at a directory",
         [&](Image& i) { put32(i.bytes, i.target(block1(i)) + 16 + 4, 0x80000000); }, noBlock1},
        {"ID entry with high bits set", [&](Image& i) { put32(i.bytes, block1(i), 0x00010001); },
         noBlock1},
        {"flag data RVA outside every section",
         [&](Image& i) { put32(i.bytes, i.dataEntry(flagName(i)), 0x7FFFFF00); }, noFlag},
        {"flag data size past the section",
         [&](Image& i) { put32(i.bytes, i.dataEntry(flagName(i)) + 4, 0xFFFFFFF0); }, noFlag},
        {"flag data of size 0", [&](Image& i) { put32(i.bytes, i.dataEntry(flagName(i)) + 4, 0); },
         emptyFlag},
        {"name length 0xFFFF",
         [&](Image& i) {
             put16(i.bytes, i.root + (get32(i.bytes, flagName(i)) & 0x7FFFFFFF), 0xFFFF);
         },
         noFlag},
        {"name offset past the section", [&](Image& i) { put32(i.bytes, flagName(i), 0xFFFFFFFF); },
         noFlag},
        {"oversized first string of a block",
         [&](Image& i) { put16(i.bytes, i.dataOffset(i.dataEntry(block1(i))), 0xFFFF); }, noBlock1},
        {"string block cut short",
         [&](Image& i) { put32(i.bytes, i.dataEntry(block1(i)) + 4, 20); }, noBlock1},
        {"version root of length 0",
         [](Image& i) { put16(i.bytes, i.versionNode("VS_VERSION_INFO"), 0); }, noVersion},
        {"version root longer than the resource",
         [](Image& i) { put16(i.bytes, i.versionNode("VS_VERSION_INFO"), 0xFFFF); }, noVersion},
        {"version root key without its end",
         [](Image& i) { put16(i.bytes, i.versionNode("VS_VERSION_INFO"), 12); }, noVersion},
        {"fixed file information with a wrong signature",
         [](Image& i) { i.bytes[i.versionNode("VS_VERSION_INFO") + 40] ^= 1; }, noVersion},
        {"translation of 3 bytes",
         [](Image& i) { put16(i.bytes, i.versionNode("Translation") + 2, 3); }, noVersion},
        {"string node of length 0",
         [](Image& i) { put16(i.bytes, i.versionNode("CompanyName"), 0); }, noVersion},
        {"string table node that does not advance",
         [](Image& i) { put16(i.bytes, i.versionNode("StringFileInfo"), 4); }, noVersion},
        {"text value longer than its node",
         [](Image& i) { put16(i.bytes, i.versionNode("FileDescription") + 2, 0x7FFF); },
         Found{kFullText1, kFullText16, flag, "English (test)"}},
    };
    for (const char* file : {"lang_full.dll", "lang_full32.dll"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(file) + ": " + c.what);
            Image image(library(file));
            c.damage(image);
            const Found found = lookAt(image.bytes);
            EXPECT_EQ(found.id1, c.expected.id1);
            EXPECT_EQ(found.id16, c.expected.id16);
            EXPECT_EQ(found.flag, c.expected.flag);
            EXPECT_EQ(found.description, c.expected.description);
        }
    }
}

TEST(PeResources, CutImagesYieldWholeResourcesOrNothing) {
    for (const char* file : {"lang_oddities.dll", "lang_full32.dll"}) {
        const std::string bytes = library(file);
        const Found whole = lookAt(bytes);
        for (std::size_t size = 0; size < bytes.size(); ++size) {
            const Found cut = lookAt(bytes.substr(0, size));
            EXPECT_TRUE(cut.id1.empty() || cut.id1 == whole.id1) << size;
            EXPECT_TRUE(cut.id16.empty() || cut.id16 == whole.id16) << size;
            EXPECT_TRUE(!cut.flag || cut.flag == whole.flag) << size;
            EXPECT_TRUE(cut.description.empty() || cut.description == whole.description) << size;
        }
    }
}

TEST(PeResources, SurvivesRandomCorruption) {
    const std::string bytes = library("lang_full.dll");
    const Image image(bytes);
    std::uint32_t seed = 12345;
    const auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = bytes;
        const int flips = 1 + static_cast<int>(next() >> 16) % 4;
        for (int f = 0; f < flips; ++f) {
            // Mostly the headers and the resource tree, where offsets live.
            const std::size_t span = round % 2 ? damaged.size() : image.root + 0x200;
            damaged[(next() >> 8) % span] = static_cast<char>(next() >> 24);
        }
        const PeResources pe(damaged);
        for (std::uint32_t id : {1u, 16u, 47u, 132u})
            EXPECT_LE(pe.string(id).size(), 0xFFFFu);
        (void)pe.rcdata("lang_bmp");
        (void)pe.versionString("ProductName");
    }
}

TEST(PeResources, ReadsOnlyRegularFilesOfBoundedSize) {
    TempDir dir;
    EXPECT_EQ(PeResources::fromFile(dir.path() / "missing.dll"), std::nullopt);
    EXPECT_EQ(PeResources::fromFile(dir.path()), std::nullopt);
    const auto fifo = dir.path() / "fifo.dll";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(PeResources::fromFile(fifo), std::nullopt);
    const auto huge = dir.write("huge.dll", "MZ");
    std::filesystem::resize_file(huge, kMaxPeFileSize + 1);
    EXPECT_EQ(PeResources::fromFile(huge), std::nullopt);

    const auto copy = dir.write("copy.dll", library("lang_full.dll"));
    const auto pe = PeResources::fromFile(copy);
    ASSERT_TRUE(pe);
    EXPECT_EQ(pe->string(1), kFullText1);
}

} // namespace
} // namespace pelotest

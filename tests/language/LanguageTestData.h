#pragma once
// Test data of the language tests: the expected German table and the language libraries that
// the build compiles from tests/data/lang/*.rc.

#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

namespace pelotest::test {

inline std::filesystem::path languageData(const std::string& name) {
    return std::filesystem::path(PELOTEST_TEST_DATA) / "lang" / name;
}

// What the build made from the texts' data files: what exporting the built-in language and the
// complete test library writes as language.rc.
inline std::filesystem::path generatedExport(const std::string& name) {
    return std::filesystem::path(PELOTEST_GENERATED) / "lang" / "export" / name;
}

inline std::filesystem::path languageLibrary(const std::string& name) {
    return std::filesystem::path(PELOTEST_LANGUAGE_LIBRARIES) / name;
}

inline std::string readBytes(const std::filesystem::path& file) {
    if (!std::filesystem::is_regular_file(file))
        throw std::runtime_error("missing test file " + file.string());
    return TempDir::read(file);
}

// UTF-8 text of the Latin-1 range (all the table needs) as Windows-1252 bytes; written apart from
// the code under test so that the two can disagree.
inline std::string latin1FromUtf8(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            result.push_back(static_cast<char>(c));
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[++i]);
            result.push_back(static_cast<char>(((c & 0x03) << 6) | (next & 0x3F)));
        } else {
            throw std::runtime_error("character outside Latin-1 in " + text);
        }
    }
    return result;
}

// The German texts by id, read from the data file the program's table is made from
// (language/texts/de.tsv: "id<TAB>name<TAB>context<TAB>text" per line in UTF-8, notes starting
// with "#"), so that the table the build made can be checked against its source.
inline std::map<int, std::string> germanTable() {
    std::ifstream in(std::filesystem::path(PELOTEST_SOURCE_DIR) / "language/texts/de.tsv",
                     std::ios::binary);
    std::map<int, std::string> table;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const auto text = line.find('\t', line.find('\t', line.find('\t') + 1) + 1);
        table[std::stoi(line.substr(0, line.find('\t')))] = latin1FromUtf8(line.substr(text + 1));
    }
    if (table.size() < 157 || table.contains(47)) // ids 1 to at least 158 but 47
        throw std::runtime_error("language/texts/de.tsv is incomplete");
    return table;
}

// The finishing every lookup applies: at most 259 characters, then "#13" as CR.
inline std::string finished(std::string text) {
    text = text.substr(0, 259);
    for (std::size_t at; (at = text.find("#13")) != std::string::npos;)
        text.replace(at, 3, "\r");
    return text;
}

} // namespace pelotest::test

#pragma once
// An INI file with the semantics of the Windows profile API (see docs/settings-file.md):
// case-insensitive sections and keys, first match wins, values trimmed and one pair of enclosing
// quotes removed, key lists in file order, new keys at the end of their section. Kept in memory;
// save() writes it atomically (state/AtomicFile.h). Edits change only the lines they touch:
// comments, blank lines and line ends elsewhere stay byte for byte.

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelotest {

class ProfileFile {
  public:
    ProfileFile() = default;
    // Loads the file; a missing or unreadable file gives an empty profile (returns false). Reads
    // without waiting and only a regular file (readRegularFile): anything else is unreadable.
    // *refusal, when given, gets why a file that exists could not be read ("" when it is missing).
    bool load(const std::filesystem::path& path, std::string* refusal = nullptr);
    // Parses text (used by load and by the fuzzer).
    void parse(std::string_view text);
    // Writes the text form to path atomically (replaceFile); false (and the old file intact) on
    // failure, with the reason in *failure when given.
    bool save(const std::filesystem::path& path, std::string* failure = nullptr) const;
    std::string text() const;

    std::optional<std::string> readString(std::string_view section, std::string_view key) const;
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    // GetPrivateProfileInt rules: the integer at the start of the value, fallback when absent.
    int readInt(std::string_view section, std::string_view key, int fallback) const;
    // Keys of the first section of that name, in file order (duplicates repeated).
    std::vector<std::string> keys(std::string_view section) const;
    // (key, value) pairs of the first section of that name, in file order.
    std::vector<std::pair<std::string, std::string>> entries(std::string_view section) const;
    // How many lines the first section of that name holds after its header (0 when there is
    // none): room enough for its entries.
    std::size_t sectionLines(std::string_view section) const;
    // The same pairs handed to visit one by one as views into the lines held here (valid until
    // the next change): for sections of 100,000 lines read once at start-up, without copies.
    void forEachEntry(
        std::string_view section,
        const std::function<void(std::string_view key, std::string_view value)>& visit) const;
    bool hasSection(std::string_view section) const;

    // WritePrivateProfileString: replaces the value in place, or appends the key at the end of
    // its section (a new section at the end of the file).
    void writeString(std::string_view section, std::string_view key, std::string_view value);
    void eraseKey(std::string_view section, std::string_view key);
    // Removes the header and key lines of every section of that name (comments stay).
    void eraseSection(std::string_view section);
    // Erases the section and appends it anew at the end of the file with these entries in this
    // order, duplicates kept: the bulk form of eraseSection followed by one writeString per key,
    // in linear time.
    void writeSection(std::string_view section,
                      const std::vector<std::pair<std::string, std::string>>& entries);

    // Reads one value straight from the file on disk (for keys a hand edit may change while the
    // program runs).
    static std::optional<std::string> readFromDisk(const std::filesystem::path& path,
                                                   std::string_view section, std::string_view key);

  private:
    // A line is a stretch of text_ (without its line end) and its end: "\r\n", "\n", "\r" or ""
    // (last line without one), a literal. A file of 100,000 variables so stays one block instead
    // of 100,000 strings; an edited line's new text is appended to text_.
    struct Line {
        std::size_t at;
        std::size_t size;
        std::string_view end;
    };
    std::string_view textOf(const Line& line) const { return {text_.data() + line.at, line.size}; }
    // A line of the given text (appended to text_) and end.
    Line newLine(std::string_view text, std::string_view end = "\r\n");
    // Drops the text of lines that are gone or were edited, once it outweighs the rest.
    void compact();
    void parseOwned(std::string text);
    // The first section of that name: index of its header and one past its last line.
    struct Range {
        std::size_t header, end;
    };
    std::optional<Range> findSection(std::string_view section, std::size_t from = 0) const;
    std::optional<std::size_t> findKey(const Range& range, std::string_view key) const;
    void terminateLastLine();

    std::string text_;
    std::vector<Line> lines_;
    // Byte-order mark the file began with: kept on saving. A UTF-16LE file is held as
    // Windows-1252 bytes (what the program reads) and written back as UTF-16LE.
    enum class Encoding { Bytes, Utf8Bom, Utf16Le } encoding_ = Encoding::Bytes;
    // A UTF-16LE line holding a character that Windows-1252 lacks is held with '?' there; so that
    // nothing read is lost, such lines keep the units they were read as, keyed by their held
    // text: the n-th line of a text is written back as the n-th line read with it (lines of the
    // same held text that were read without loss included, so that they keep their places). A
    // key line also lends its name's units to a line that gives the key a new value.
    std::map<std::string, std::vector<std::string>, std::less<>> utf16Lines_;
    std::map<std::string, std::string, std::less<>> utf16KeyNames_;
    // A UTF-16LE file of an odd length: its last byte, written back after the rest.
    std::string utf16OddByte_;
    void keepUtf16Units(std::string_view units);
    std::string utf16Text() const;
};

} // namespace pelotest

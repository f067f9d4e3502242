// Settings-file parser: any bytes must parse, answer queries, take writes and come back as
// the same text.
#include "state/PersistentState.h"
#include "state/ProfileFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using pelotest::AppState;
using pelotest::LogEntry;
using pelotest::ProfileFile;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    ProfileFile file;
    file.parse(input);

    // Bytes without a UTF-16 mark come back unchanged.
    if (input.substr(0, 2) != "\xFF\xFE")
        check(file.text() == input);

    // Query with names taken from the input itself.
    const std::string_view name = input.substr(0, input.size() % 7);
    const std::string_view key = input.substr(input.size() / 2, 3);
    (void)file.readString(name, key);
    (void)file.readString(name, key, "fallback ");
    (void)file.readInt(name, key, 5);
    (void)file.hasSection(name);
    for (const auto& [entryKey, value] : file.entries(name))
        (void)file.readString(name, entryKey);
    (void)file.keys("Settings");

    // Writes keep the file parseable: the text reads back as the same text, and a plain key
    // reads back as written.
    file.writeString(name, key, input.substr(input.size() / 3));
    file.writeString("Fz", "Key", "value");
    check(file.readString("fz", "key") == std::string("value"));
    file.eraseKey(name, key);
    file.writeSection("Log", {{"Line0", std::string(input.substr(0, 16))}, {"Line1", ""}});
    file.eraseSection(name);

    const std::string text = file.text();
    ProfileFile again;
    again.parse(text);
    // (Bytes that happen to begin with a UTF-16 mark after the edits read as UTF-16.)
    if (text.substr(0, 2) != "\xFF\xFE") {
        check(again.text() == text);
        check(again.readString("fz", "key") == file.readString("fz", "key"));
    }

    // The tree and log sections of any file: what was read is written and read back the same.
    AppState state;
    state.profile.parse(input);
    (void)pelotest::readTreeSection(state, "Tree", true);
    const auto lines = state.tree.toIndentedLines();
    pelotest::writeTreeSection(state, "Tree");
    // (Written at the end, the section may leave bytes in front that read as a UTF-16 mark.)
    if (const std::string written = state.profile.text(); written.substr(0, 2) != "\xFF\xFE") {
        state.profile.parse(written);
        check(pelotest::readTreeSection(state, "Tree", false).empty());
        check(state.tree.toIndentedLines() == lines);
    }

    for (const auto& [lineKey, value] : state.profile.entries("Log")) {
        const LogEntry entry = pelotest::parseLogLine(value);
        check(pelotest::parseLogLine(pelotest::formatLogLine(entry)) == entry);
    }
    const LogEntry raw{7, std::string(input.substr(0, 9)), std::string(key), std::string(name),
                       std::string(input.substr(input.size() / 4))};
    check(pelotest::parseLogLine(pelotest::formatLogLine(raw)) == raw);
    return 0;
}

// Feeds arbitrary bytes to the PE resource reader as a language library file: every lookup a
// language library gets (string table, the flag by name, version strings) must stay within the
// bytes and terminate, whatever the headers, the resource tree or the version blob claim.

#include "language/PeResources.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pelotest::PeResources pe(std::string(reinterpret_cast<const char*>(data), size));
    if (!pe.hasResources()) {
        return 0;
    }
    // Ids at block edges, the unused id, one past the table, and the top of the id range.
    for (std::uint32_t id : {0u, 1u, 15u, 16u, 47u, 132u, 133u, 0xFFFFu, 0x10001u}) {
        const std::u16string text = pe.string(id);
        if (text.size() > size) {
            __builtin_trap(); // a string can never be longer than the file that holds it
        }
        (void)pelotest::windows1252FromUtf16(text);
    }
    if (const auto flag = pe.rcdata("lang_bmp"); flag && flag->size() > size) {
        __builtin_trap();
    }
    (void)pe.named(pelotest::kRtVersion, "#1");
    (void)pe.versionString("FileDescription");
    (void)pe.versionString("ProductName");
    return 0;
}

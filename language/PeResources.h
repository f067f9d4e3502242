#pragma once
// Reads the resources of a PE32 or PE32+ image (a Windows .dll or .exe) straight from its bytes,
// without loading or mapping it: string tables, named raw-data resources and version strings.
// Language libraries come from anywhere (downloads, other people's disks), so every offset, size
// and count in the file is checked; malformed input finds nothing and never crashes or hangs.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelotest {

// Larger files are not read at all; real language libraries are a few kilobytes.
inline constexpr std::uint64_t kMaxPeFileSize = 64ull << 20;

// Resource types used here.
inline constexpr std::uint16_t kRtString = 6;
inline constexpr std::uint16_t kRtRcdata = 10;
inline constexpr std::uint16_t kRtVersion = 16;

class PeResources {
  public:
    // Takes the whole file. An image that is not PE, or has no resource directory, finds nothing.
    explicit PeResources(std::string bytes);

    // Reads a regular file of at most kMaxPeFileSize bytes; nullopt when that fails.
    static std::optional<PeResources> fromFile(const std::filesystem::path& file);

    // Whether the headers were valid and name a resource directory.
    bool hasResources() const { return resourceRootRva_ != 0; }

    // String id of the string tables as LoadString reads it: block (id >> 4) + 1, entry id & 15
    // (only the low 16 bits of id count). Empty when the string is missing, empty or damaged.
    std::u16string string(std::uint32_t id) const;

    // The bytes of the resource of the given type named name (looked up in upper case, as
    // FindResource does: "lang_bmp" finds LANG_BMP). An empty string is an existing empty
    // resource; nullopt means missing or damaged.
    std::optional<std::string> named(std::uint16_t type, std::string_view name) const;
    std::optional<std::string> rcdata(std::string_view name) const {
        return named(kRtRcdata, name);
    }

    // Whether the file has a version resource at all.
    bool hasVersionInfo() const { return versionInfo().has_value(); }

    // The version string name (e.g. "FileDescription", "ProductName") of the first language and
    // code page listed under \VarFileInfo\Translation, in Windows-1252. Empty when the file has
    // no version information, no translation, or no such string.
    std::string versionString(std::string_view name) const;

  private:
    struct Section {
        std::uint32_t virtualAddress;
        std::uint32_t virtualSize;
        std::uint32_t rawSize;
        std::uint32_t rawPointer;
    };
    // One resource is found by three keys: type, name or id, language.
    struct Key {
        std::uint16_t id = 0;
        std::u16string name; // used when not empty
    };

    void parseHeaders();
    std::optional<std::uint64_t> fileOffset(std::uint64_t rva, std::uint64_t length) const;
    std::optional<std::uint32_t> findEntry(std::uint32_t directory, const Key& key) const;
    std::optional<std::uint32_t> findLanguageEntry(std::uint32_t directory) const;
    std::optional<std::string_view> resource(std::uint16_t type, const Key& key) const;
    std::optional<std::string_view> versionInfo() const;

    std::string bytes_;
    std::vector<Section> sections_;
    std::uint32_t resourceRootRva_ = 0;
};

// UTF-16 to Windows-1252: every character without a Windows-1252 byte (and every unpaired
// surrogate) becomes '?'; a surrogate pair becomes one '?'.
std::string windows1252FromUtf16(std::u16string_view text);

} // namespace pelotest

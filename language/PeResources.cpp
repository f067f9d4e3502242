#include "language/PeResources.h"

#include "state/RegularFile.h"
#include "state/TextCase.h"

#include <algorithm>
#include <array>

namespace pelotest {

namespace {

// Little-endian reads. Callers check every range first; a read outside the bytes still yields 0
// rather than touching memory it must not.
std::uint16_t le16(std::string_view bytes, std::uint64_t pos) {
    if (pos > bytes.size() || bytes.size() - pos < 2) {
        return 0;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + pos);
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t le32(std::string_view bytes, std::uint64_t pos) {
    return le16(bytes, pos) | (static_cast<std::uint32_t>(le16(bytes, pos + 2)) << 16);
}

constexpr std::uint64_t align4(std::uint64_t value) {
    return (value + 3) & ~std::uint64_t{3};
}

// The loader of Windows refuses images with more sections than this.
constexpr std::uint16_t kMaxSections = 96;

constexpr std::uint32_t kHighBit = 0x80000000u;

// Offsets of the optional header fields that differ between PE32 and PE32+.
struct OptionalHeaderLayout {
    std::uint16_t magic;
    std::uint32_t numberOfRvaAndSizes;
    std::uint32_t dataDirectory;
};
constexpr std::array<OptionalHeaderLayout, 2> kLayouts{{{0x10B, 92, 96}, {0x20B, 108, 112}}};

constexpr std::uint32_t kResourceDirectoryIndex = 2;

// Language entries tried for a resource, as Windows does without a thread or user locale:
// neutral, then US English, then whatever comes first.
constexpr std::array<std::uint16_t, 2> kPreferredLanguages{0x0000, 0x0409};

char16_t upperAscii(char16_t c) {
    return c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c;
}

// Names of named resources are stored in upper case; the caller's name is upper-cased the same
// way. Names are ASCII in practice; other bytes are taken as Latin-1 and upper-cased likewise.
std::u16string upperResourceName(std::string_view name) {
    std::u16string result;
    result.reserve(name.size());
    for (unsigned char c : name) {
        char16_t unit = c;
        if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) {
            unit -= 0x20;
        }
        result.push_back(upperAscii(unit));
    }
    return result;
}

bool equalsIgnoringAsciiCase(std::u16string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upperAscii(a[i]) != upperAscii(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// ---- Version information: a tree of nodes, each wLength, wValueLength, wType, a NUL-terminated
// key, the value and the children, everything 4-aligned relative to the start of the blob.

struct VersionNode {
    std::uint64_t end = 0; // one past the node's last byte
    std::u16string key;
    std::uint16_t type = 0;
    std::uint16_t valueLength = 0; // as stored: UTF-16 units for text, bytes otherwise
    std::uint64_t valueBegin = 0;
    std::uint64_t valueEnd = 0; // clamped to the node
    std::uint64_t childrenBegin = 0;
};

std::optional<VersionNode> parseVersionNode(std::string_view blob, std::uint64_t pos,
                                            std::uint64_t limit) {
    if (limit > blob.size() || pos > limit || limit - pos < 6) {
        return std::nullopt;
    }
    const std::uint16_t length = le16(blob, pos);
    if (length < 6 || length > limit - pos) {
        return std::nullopt;
    }
    VersionNode node;
    node.end = pos + length;
    node.valueLength = le16(blob, pos + 2);
    node.type = le16(blob, pos + 4);
    std::uint64_t at = pos + 6;
    for (;; at += 2) {
        if (node.end - at < 2) {
            return std::nullopt; // key without its terminating NUL
        }
        const char16_t unit = le16(blob, at);
        if (unit == 0) {
            break;
        }
        node.key.push_back(unit);
    }
    const std::uint64_t valueBytes =
        node.type == 1 ? std::uint64_t{node.valueLength} * 2 : node.valueLength;
    node.valueBegin = std::min(align4(at + 2), node.end);
    node.valueEnd = std::min(node.valueBegin + valueBytes, node.end);
    node.childrenBegin = align4(node.valueBegin + valueBytes);
    return node;
}

// Resolves a path of keys below the root like VerQueryValue: at each level the first child whose
// key matches ignoring case.
template <std::size_t N>
std::optional<VersionNode> queryVersionNode(std::string_view blob,
                                            const std::array<std::string_view, N>& path) {
    auto node = parseVersionNode(blob, 0, blob.size());
    if (!node) {
        return std::nullopt;
    }
    for (std::string_view part : path) {
        std::optional<VersionNode> match;
        std::uint64_t child = node->childrenBegin;
        while (child < node->end) {
            auto candidate = parseVersionNode(blob, child, node->end);
            if (!candidate) {
                break;
            }
            if (equalsIgnoringAsciiCase(candidate->key, part)) {
                match = std::move(candidate);
                break;
            }
            // wLength is at least 6, so this always moves forward.
            child = align4(candidate->end);
        }
        if (!match) {
            return std::nullopt;
        }
        node = std::move(match);
    }
    return node;
}

std::u16string textValue(std::string_view blob, const VersionNode& node) {
    std::u16string text;
    for (std::uint64_t at = node.valueBegin; at < node.valueEnd && node.valueEnd - at >= 2;
         at += 2) {
        const char16_t unit = le16(blob, at);
        if (unit == 0) {
            break;
        }
        text.push_back(unit);
    }
    return text;
}

std::string hex4(std::uint16_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(4, '0');
    for (int i = 3; i >= 0; --i, value >>= 4) {
        text[i] = kDigits[value & 0xF];
    }
    return text;
}

} // namespace

PeResources::PeResources(std::string bytes) : bytes_(std::move(bytes)) {
    parseHeaders();
}

std::optional<PeResources> PeResources::fromFile(const std::filesystem::path& file) {
    // The size is checked again while reading: the file may grow in between.
    std::optional<std::string> bytes = RegularFile(file.string()).readAll(kMaxPeFileSize);
    if (!bytes)
        return std::nullopt;
    return PeResources(std::move(*bytes));
}

void PeResources::parseHeaders() {
    const std::string_view file = bytes_;
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') {
        return;
    }
    const std::uint64_t pe = le32(file, 0x3C);
    const std::uint64_t coff = pe + 4;
    const std::uint64_t optional = coff + 20;
    if (optional + 2 > file.size() || file.substr(pe, 4) != std::string_view("PE\0\0", 4)) {
        return;
    }
    const std::uint16_t sectionCount = le16(file, coff + 2);
    const std::uint16_t optionalSize = le16(file, coff + 16);
    const std::uint16_t magic = le16(file, optional);
    const auto layout = std::find_if(kLayouts.begin(), kLayouts.end(),
                                     [magic](const auto& l) { return l.magic == magic; });
    if (layout == kLayouts.end()) {
        return;
    }
    // The resource slot must lie inside the optional header as its size declares it.
    const std::uint64_t slot = layout->dataDirectory + 8 * kResourceDirectoryIndex;
    if (optionalSize < slot + 8 || optional + optionalSize > file.size() ||
        le32(file, optional + layout->numberOfRvaAndSizes) <= kResourceDirectoryIndex) {
        return;
    }
    const std::uint32_t rootRva = le32(file, optional + slot);
    const std::uint32_t rootSize = le32(file, optional + slot + 4);
    const std::uint64_t table = optional + optionalSize;
    if (rootRva == 0 || rootSize == 0 || sectionCount > kMaxSections ||
        table + std::uint64_t{sectionCount} * 40 > file.size()) {
        return;
    }
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t header = table + std::uint64_t{i} * 40;
        sections_.push_back({le32(file, header + 12), le32(file, header + 8),
                             le32(file, header + 16), le32(file, header + 20)});
    }
    resourceRootRva_ = rootRva;
    if (!fileOffset(rootRva, 16)) {
        resourceRootRva_ = 0;
        sections_.clear();
    }
}

// The file offset of length bytes at rva, when they all lie in the raw data of one section and
// in the file. The first section whose virtual range holds rva decides, as in the loader.
std::optional<std::uint64_t> PeResources::fileOffset(std::uint64_t rva,
                                                     std::uint64_t length) const {
    for (const Section& section : sections_) {
        const std::uint64_t begin = section.virtualAddress;
        const std::uint64_t span = std::max(section.virtualSize, section.rawSize);
        if (rva < begin || rva - begin >= span) {
            continue;
        }
        const std::uint64_t delta = rva - begin;
        if (length > section.rawSize || delta > section.rawSize - length) {
            return std::nullopt; // past the raw data: zero-filled memory that is not in the file
        }
        const std::uint64_t offset = std::uint64_t{section.rawPointer} + delta;
        if (offset > bytes_.size() || length > bytes_.size() - offset) {
            return std::nullopt;
        }
        return offset;
    }
    return std::nullopt;
}

// The target field (bit 31: subdirectory) of the entry for key in the directory at the given
// offset from the resource root. Named entries come first, then ID entries.
std::optional<std::uint32_t> PeResources::findEntry(std::uint32_t directory, const Key& key) const {
    const std::string_view file = bytes_;
    const std::uint64_t rva = std::uint64_t{resourceRootRva_} + directory;
    const auto header = fileOffset(rva, 16);
    if (!header) {
        return std::nullopt;
    }
    const std::uint32_t namedCount = le16(file, *header + 12);
    const std::uint32_t total = namedCount + le16(file, *header + 14);
    const auto entries = fileOffset(rva + 16, std::uint64_t{total} * 8);
    if (!entries) {
        return std::nullopt;
    }
    const bool byName = !key.name.empty();
    for (std::uint32_t i = byName ? 0 : namedCount; i < (byName ? namedCount : total); ++i) {
        const std::uint32_t nameField = le32(file, *entries + std::uint64_t{i} * 8);
        const std::uint32_t target = le32(file, *entries + std::uint64_t{i} * 8 + 4);
        if (!byName) {
            // An ID entry has bits 16 to 31 clear.
            if (nameField == key.id) {
                return target;
            }
            continue;
        }
        if ((nameField & kHighBit) == 0) {
            continue;
        }
        const std::uint64_t nameRva = std::uint64_t{resourceRootRva_} + (nameField & ~kHighBit);
        const auto lengthAt = fileOffset(nameRva, 2);
        if (!lengthAt || le16(file, *lengthAt) != key.name.size()) {
            continue;
        }
        const auto textAt = fileOffset(nameRva + 2, key.name.size() * 2);
        if (!textAt) {
            continue;
        }
        bool equal = true;
        for (std::size_t c = 0; c < key.name.size() && equal; ++c) {
            equal = le16(file, *textAt + 2 * c) == key.name[c];
        }
        if (equal) {
            return target;
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> PeResources::findLanguageEntry(std::uint32_t directory) const {
    for (std::uint16_t language : kPreferredLanguages) {
        if (auto entry = findEntry(directory, Key{language, {}})) {
            return entry;
        }
    }
    const std::uint64_t rva = std::uint64_t{resourceRootRva_} + directory;
    const auto header = fileOffset(rva, 16);
    if (!header || le16(bytes_, *header + 12) + le16(bytes_, *header + 14) == 0) {
        return std::nullopt;
    }
    const auto first = fileOffset(rva + 16, 8);
    if (!first) {
        return std::nullopt;
    }
    return le32(bytes_, *first + 4);
}

// The data of a resource: type and name levels must be subdirectories, the language level a
// data entry whose RVA and size lie in the file. A lookup always descends exactly three levels,
// so a directory that points back at itself cannot make it loop.
std::optional<std::string_view> PeResources::resource(std::uint16_t type, const Key& key) const {
    if (!hasResources()) {
        return std::nullopt;
    }
    const auto typeEntry = findEntry(0, Key{type, {}});
    if (!typeEntry || (*typeEntry & kHighBit) == 0) {
        return std::nullopt;
    }
    const auto nameEntry = findEntry(*typeEntry & ~kHighBit, key);
    if (!nameEntry || (*nameEntry & kHighBit) == 0) {
        return std::nullopt;
    }
    const auto languageEntry = findLanguageEntry(*nameEntry & ~kHighBit);
    if (!languageEntry || (*languageEntry & kHighBit) != 0) {
        return std::nullopt;
    }
    const auto dataEntry = fileOffset(std::uint64_t{resourceRootRva_} + *languageEntry, 16);
    if (!dataEntry) {
        return std::nullopt;
    }
    const std::uint32_t size = le32(bytes_, *dataEntry + 4);
    const auto data = fileOffset(le32(bytes_, *dataEntry), size);
    if (!data) {
        return std::nullopt;
    }
    return std::string_view(bytes_).substr(*data, size);
}

std::u16string PeResources::string(std::uint32_t id) const {
    const std::uint16_t low = static_cast<std::uint16_t>(id & 0xFFFF);
    const auto block = resource(kRtString, Key{static_cast<std::uint16_t>((low >> 4) + 1), {}});
    if (!block) {
        return {};
    }
    // Sixteen counted strings in a row; a block that ends early lacks the remaining ones.
    std::uint64_t at = 0;
    for (unsigned index = 0;; ++index) {
        if (at > block->size() || block->size() - at < 2) {
            return {};
        }
        const std::uint64_t units = le16(*block, at);
        at += 2;
        if (units * 2 > block->size() - at) {
            return {};
        }
        if (index == (low & 15u)) {
            std::u16string text(units, u'\0');
            for (std::uint64_t i = 0; i < units; ++i) {
                text[i] = le16(*block, at + 2 * i);
            }
            return text;
        }
        at += units * 2;
    }
}

std::optional<std::string> PeResources::named(std::uint16_t type, std::string_view name) const {
    Key key;
    if (name.size() > 1 && name.front() == '#') {
        // "#123" names the integer id 123.
        std::uint32_t id = 0;
        for (char c : name.substr(1)) {
            if (c < '0' || c > '9' || (id = id * 10 + (c - '0')) > 0xFFFF) {
                return std::nullopt;
            }
        }
        key.id = static_cast<std::uint16_t>(id);
    } else if (name.empty() || name.size() > 0xFFFF) {
        return std::nullopt;
    } else {
        key.name = upperResourceName(name);
    }
    const auto data = resource(type, key);
    if (!data) {
        return std::nullopt;
    }
    return std::string(*data);
}

std::optional<std::string_view> PeResources::versionInfo() const {
    const auto blob = resource(kRtVersion, Key{1, {}});
    if (!blob) {
        return std::nullopt;
    }
    const auto root = parseVersionNode(*blob, 0, blob->size());
    if (!root) {
        return std::nullopt;
    }
    // A fixed file information value, when there is one, starts with its signature.
    if (root->type == 0 && root->valueLength >= 52 &&
        (root->valueEnd - root->valueBegin < 52 || le32(*blob, root->valueBegin) != 0xFEEF04BD)) {
        return std::nullopt;
    }
    return blob;
}

std::string PeResources::versionString(std::string_view name) const {
    const auto blob = versionInfo();
    if (!blob) {
        return {};
    }
    const auto translation =
        queryVersionNode(*blob, std::array<std::string_view, 2>{"VarFileInfo", "Translation"});
    if (!translation) {
        return {};
    }
    const std::uint64_t length = translation->valueEnd - translation->valueBegin;
    if (length < 4 || length % 4 != 0) {
        return {};
    }
    const std::string table =
        hex4(le16(*blob, translation->valueBegin)) + hex4(le16(*blob, translation->valueBegin + 2));
    const auto text =
        queryVersionNode(*blob, std::array<std::string_view, 3>{"StringFileInfo", table, name});
    if (!text) {
        return {};
    }
    return windows1252FromUtf16(textValue(*blob, *text));
}

std::string windows1252FromUtf16(std::u16string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (const std::optional<char> byte = windows1252FromUtf16Unit(c)) {
            result.push_back(*byte);
            continue;
        }
        // A surrogate pair is one character and becomes one '?'.
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            ++i;
        }
        result.push_back('?');
    }
    return result;
}

} // namespace pelotest

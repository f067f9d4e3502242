#include "server/PortOwner.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <system_error>

namespace pelotest {

namespace fs = std::filesystem;

namespace {

// The state column's value for a listening socket.
constexpr std::string_view kListen = "0A";
// A process's name is at most 15 characters; a larger comm file is no comm file.
constexpr std::size_t kMaxCommand = 64;

std::string readSmallFile(const fs::path& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

std::string readWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The process whose open descriptors include the socket with this inode.
std::optional<int> processHoldingSocket(const fs::path& procRoot, std::uint64_t inode) {
    const std::string link = "socket:[" + std::to_string(inode) + "]";
    std::error_code ec;
    for (fs::directory_iterator process(procRoot, ec), end; !ec && process != end;
         process.increment(ec)) {
        const std::string name = process->path().filename().string();
        int pid = 0;
        const auto [rest, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (error != std::errc() || rest != name.data() + name.size())
            continue;
        std::error_code fdError; // another user's descriptors are closed to us: skip them
        for (fs::directory_iterator fd(process->path() / "fd", fdError), fdEnd;
             !fdError && fd != fdEnd; fd.increment(fdError)) {
            std::error_code linkError;
            if (fs::read_symlink(fd->path(), linkError).string() == link && !linkError)
                return pid;
        }
    }
    return std::nullopt;
}

// The length of the UTF-8 character at the start of text that is printable (U+00A0 and above,
// no surrogate, no overlong form); 0 when there is none.
std::size_t printableUtf8Length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || text.size() < length)
        return 0;
    char32_t code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (byte(i) & 0x3F);
    }
    constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kShortest[length] || code < 0xA0 || (code >= 0xD800 && code <= 0xDFFF) ||
        code > 0x10FFFF)
        return 0;
    return length;
}

} // namespace

std::string printableName(std::string_view name) {
    std::string out;
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += name[i++];
            continue;
        }
        if (const std::size_t length = printableUtf8Length(name.substr(i))) {
            out.append(name.substr(i, length));
            i += length;
            continue;
        }
        constexpr char kHex[] = "0123456789ABCDEF";
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
        ++i;
    }
    return out;
}

std::uint64_t listeningSocketInode(std::string_view table, std::uint16_t port) {
    // Each row: "sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid
    // timeout inode ...", the local address as HEX_IP:HEX_PORT.
    std::istringstream rows{std::string(table)};
    std::string row;
    std::getline(rows, row); // the heading
    while (std::getline(rows, row)) {
        std::istringstream fields(row);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
              timeout >> inode))
            continue;
        const std::size_t colon = local.rfind(':');
        unsigned localPort = 0;
        if (state != kListen || colon == std::string::npos ||
            std::from_chars(local.data() + colon + 1, local.data() + local.size(), localPort, 16)
                    .ec != std::errc() ||
            localPort != port)
            continue;
        std::uint64_t number = 0;
        if (std::from_chars(inode.data(), inode.data() + inode.size(), number).ec == std::errc() &&
            number != 0)
            return number;
    }
    return 0;
}

namespace {

// The inode of the socket listening on port, from the IPv4 and then the IPv6 table.
std::uint64_t listeningInode(std::uint16_t port, const fs::path& procRoot) {
    for (const char* table : {"net/tcp", "net/tcp6"})
        if (const std::uint64_t inode = listeningSocketInode(readWholeFile(procRoot / table), port))
            return inode;
    return 0;
}

std::optional<PortOwner> ownerOfSocket(std::uint64_t inode, const fs::path& procRoot) {
    const std::optional<int> pid = processHoldingSocket(procRoot, inode);
    if (!pid)
        return std::nullopt;
    std::string command = readSmallFile(procRoot / std::to_string(*pid) / "comm", kMaxCommand);
    while (!command.empty() && command.back() == '\n')
        command.pop_back();
    // The name is the other program's choice: it reaches a terminal without control bytes.
    return PortOwner{*pid, printableName(command)};
}

} // namespace

std::optional<PortOwner> findPortOwner(std::uint16_t port, const fs::path& procRoot) {
    const std::uint64_t inode = listeningInode(port, procRoot);
    return inode ? ownerOfSocket(inode, procRoot) : std::nullopt;
}

std::optional<std::string> describePortInUse(std::uint16_t port, const fs::path& procRoot) {
    const std::uint64_t inode = listeningInode(port, procRoot);
    if (inode == 0)
        return std::nullopt;
    std::string text = "Port " + std::to_string(port) + " is in use by ";
    const std::optional<PortOwner> owner = ownerOfSocket(inode, procRoot);
    if (!owner)
        return text + "another program";
    return text + (owner->command.empty() ? "a program" : owner->command) + " (pid " +
           std::to_string(owner->pid) + ")";
}

} // namespace pelotest

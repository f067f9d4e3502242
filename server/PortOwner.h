#pragma once
// Which program holds a TCP port: read from /proc (the listening socket's inode in
// /proc/net/tcp and tcp6, then the process whose descriptors include that socket). The answer is
// a courtesy for the message about a port that is taken; when the system does not tell us (the
// holder belongs to another user, or there is no /proc), there is none.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pelotest {

struct PortOwner {
    int pid = 0;
    std::string command; // the process's name as /proc/PID/comm gives it, printableName'd
};

// A name another program chose, as plain text for a terminal or a message: printable ASCII and
// whole UTF-8 characters stay; control bytes (C0, DEL), the C1 controls U+0080 to U+009F, bytes
// that are no UTF-8 (a lone 0x9B is CSI to some terminals) and the backslash become \xHH.
std::string printableName(std::string_view name);

// The process that listens on port, looked up below procRoot (the file system root of /proc;
// tests pass a folder of their own). nullopt when no socket listens there or its holder is not
// ours to see.
std::optional<PortOwner> findPortOwner(std::uint16_t port,
                                       const std::filesystem::path& procRoot = "/proc");

// The inode of the socket listening on port in one /proc/net/tcp-style table; 0 when none.
std::uint64_t listeningSocketInode(std::string_view table, std::uint16_t port);

// "Port 8080 is in use by nginx (pid 1234)", or "Port 8080 is in use by another program" when
// the holder is not ours to see; nullopt when, as far as procRoot shows, nothing listens there.
std::optional<std::string> describePortInUse(std::uint16_t port,
                                             const std::filesystem::path& procRoot = "/proc");

} // namespace pelotest

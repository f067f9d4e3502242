#pragma once
// What keeps the window's single-instance socket to its user: a folder closed to other users,
// the user at the other end of a local connection, and the user's own name for the socket.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace pelotest {

// A folder in which only this user can create names: a real folder (not a link) owned by this
// user that no one else may write to. When create is set, a missing folder is made with mode
// 0700, and one of this user's that others may reach is narrowed to 0700. The reason otherwise.
std::optional<std::string> refusePrivateFolder(const std::filesystem::path& folder, bool create);

// Whether the peer of the connected local socket is this user.
bool peerIsThisUser(std::intptr_t socket);

// The number that tells this user from others on this machine (the effective user id).
std::uint64_t currentUserNumber();

// The longest path a local socket may be bound to.
std::size_t longestSocketPath();

} // namespace pelotest

#include "platform/Sockets.h"

#include <algorithm>
#include <vector>
#include <winsock2.h>

namespace pelotest {

namespace {

// One block per send: large enough that the socket's buffer is kept full, small enough that a
// step never holds the connection's thread for long.
constexpr std::size_t kBlock = 256 * 1024;

} // namespace

SendStep sendFileStep(NativeSocket socket, const OpenFile& file, std::uint64_t& offset,
                      std::size_t count) {
    thread_local std::vector<char> block(kBlock);
    std::error_code error;
    const auto got = file.readAt(offset, block.data(), std::min(count, block.size()), error);
    if (!got)
        return {SendStep::Outcome::Failed, 0};
    if (*got == 0)
        return {SendStep::Outcome::FileEnded, 0};
    const int sent = ::send(static_cast<SOCKET>(socket), block.data(), static_cast<int>(*got), 0);
    if (sent == SOCKET_ERROR)
        return {::WSAGetLastError() == WSAEWOULDBLOCK ? SendStep::Outcome::WouldBlock
                                                      : SendStep::Outcome::Failed,
                0};
    offset += static_cast<std::uint64_t>(sent);
    return {SendStep::Outcome::Sent, static_cast<std::size_t>(sent)};
}

void setCorked(NativeSocket, bool) {}

void keepSendsToAGonePeerFromEndingTheProcess() {} // Windows reports it as an error of the send

bool takePortForListening(NativeSocket socket) {
    const BOOL on = TRUE;
    return ::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                        reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

} // namespace pelotest

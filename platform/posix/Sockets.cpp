#include "platform/Sockets.h"

#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/sendfile.h>
#include <sys/socket.h>

namespace pelotest {

SendStep sendFileStep(NativeSocket socket, const OpenFile& file, std::uint64_t& offset,
                      std::size_t count) {
    for (;;) {
        auto at = static_cast<off_t>(offset);
        const ssize_t n =
            ::sendfile(static_cast<int>(socket), static_cast<int>(file.native()), &at, count);
        if (n > 0) {
            offset = static_cast<std::uint64_t>(at);
            return {SendStep::Outcome::Sent, static_cast<std::size_t>(n)};
        }
        if (n == 0)
            return {SendStep::Outcome::FileEnded, 0};
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EPIPE) {
            // The signal that came with the error stays pending on this thread (it is blocked
            // here): it is taken back, so that it never reaches the process later.
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec none{};
            ::sigtimedwait(&pipe, nullptr, &none);
        }
        if (error == EAGAIN || error == EWOULDBLOCK)
            return {SendStep::Outcome::WouldBlock, 0};
        return {SendStep::Outcome::Failed, 0};
    }
}

void setCorked(NativeSocket socket, bool corked) {
    const int on = corked ? 1 : 0;
    ::setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_CORK, &on, sizeof on);
}

void keepSendsToAGonePeerFromEndingTheProcess() {
    // sendfile has no flag against SIGPIPE: the signal stays blocked on the sending threads, and
    // one raised is taken back where the error is seen (sendFileStep).
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

bool takePortForListening(NativeSocket socket) {
    const int on = 1;
    return ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

} // namespace pelotest

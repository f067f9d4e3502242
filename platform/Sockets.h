#pragma once
// What the server asks of the system beyond Asio: sending a file's bytes straight from the file
// to a socket, holding a socket's short segments back while a file goes out, a peer that leaves
// during a send, and a listening port that no other program can take over.

#include "platform/Files.h"

#include <cstddef>
#include <cstdint>

namespace pelotest {

// A socket as Asio's native_handle() gives it: a descriptor on Linux, a SOCKET on Windows.
using NativeSocket = std::uintptr_t;

struct SendStep {
    enum class Outcome {
        Sent,       // sent bytes left the file for the socket
        WouldBlock, // the socket takes nothing now: wait until it is writable
        FileEnded,  // the file ended before offset + count: it shrank
        Failed,     // the peer left, or the socket or the file failed
    };
    Outcome outcome = Outcome::Failed;
    std::size_t sent = 0;
};

// Sends up to count bytes of file, from offset on, to the non-blocking socket, and advances
// offset by what was sent. On Linux the kernel copies them (sendfile); on Windows they are read
// and sent in blocks.
SendStep sendFileStep(NativeSocket socket, const OpenFile& file, std::uint64_t& offset,
                      std::size_t count);

// While corked, a TCP socket sends full segments only (Linux's TCP_CORK); uncorking sends the
// rest. Where the system has no such option, nothing is done: Nagle's rule does much the same.
void setCorked(NativeSocket socket, bool corked);

// A peer that leaves during a send then fails that send instead of ending the process (on Linux
// SIGPIPE is blocked on the calling thread). Each thread that sends calls it once.
void keepSendsToAGonePeerFromEndingTheProcess();

// Makes a listening socket, before it is bound, take its port as the system's rules allow a
// server: on Linux SO_REUSEADDR (a port whose old connections linger in TIME_WAIT is taken
// again at once; one another program listens on is still refused); on Windows
// SO_EXCLUSIVEADDRUSE (there SO_REUSEADDR would let a second program take a port in use).
// Returns false when the system refused the option.
bool takePortForListening(NativeSocket socket);

} // namespace pelotest

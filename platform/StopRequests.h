#pragma once
// The requests of the user or the system to end the program: SIGINT and SIGTERM on Linux;
// Ctrl+C, Ctrl+Break, closing the console, logoff and shutdown on Windows.

namespace pelotest {

class StopRequests {
  public:
    // Takes the stop requests over from the default handling (which ends the process at once).
    // Made before any other thread starts: on Linux the signals are blocked for this thread and
    // every thread started after it, so only wait() receives them.
    StopRequests();
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

    // Waits for the next stop request.
    void wait();

    // Says that the program has done what it does before it ends (the state is saved). Windows
    // ends a process as soon as its handler returns for a closed console, a logoff or a
    // shutdown, so the handler waits for this (within the system's own time limit).
    void finished();
};

} // namespace pelotest

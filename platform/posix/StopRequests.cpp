#include "platform/StopRequests.h"

#include <csignal>
#include <pthread.h>

namespace pelotest {

namespace {

sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

} // namespace

StopRequests::StopRequests() {
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

StopRequests::~StopRequests() = default;

void StopRequests::wait() {
    const sigset_t signals = stopSignals();
    int received = 0;
    sigwait(&signals, &received);
}

void StopRequests::finished() {}

} // namespace pelotest

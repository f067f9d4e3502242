#pragma once
// The window's server: starting it on the port and address of the settings, stopping it within a
// time limit while the window goes on (its events are handled meanwhile), and what happens when a
// request does not end in time. Such a request's thread still uses the state and the host, so the
// server is then given up, never destroyed, and the program ends without running a destructor
// under it (endProcess), as the headless program does.

#include "desktop/Text.h"
#include "server/RequestHandler.h"
#include "state/AppState.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pelotest {
class HttpServer;
}

namespace pelotest::desktop {

// Flushes the standard streams and ends the process at once (std::_Exit).
[[noreturn]] void endProcessNow(int code);

class ServerController : public QObject {
    Q_OBJECT

  public:
    enum class Phase { Stopped, Running, Stopping };

    struct Options {
        // The route table (tests hold a request in one of their own); empty: the program's.
        Router routes;
        // How long a stop waits for the requests being handled.
        std::chrono::milliseconds stopLimit{5000};
        // Ends the process after a request was left running (tests record it instead).
        std::function<void(int code)> endProcess = endProcessNow;
    };

    struct StartFailure {
        BindFailure why = BindFailure::Other;
        int port = 0;
        QString detail;
    };

    ServerController(AppState& state, Host& host, Options options, QObject* parent = nullptr);
    // Stops a server that still runs (without handling the window's events); a server given up
    // is left as it is.
    ~ServerController() override;

    // Starts on the port and address of the settings (read under the state lock). Nothing
    // happens while a stop is still under way.
    std::optional<StartFailure> start();
    // Stops within the limit; the window's events are handled meanwhile, and a second call waits
    // for the first. False when a request did not end: the server is given up and
    // requestLeftRunning() holds from then on.
    bool stop();

    Phase phase() const { return phase_; }
    bool running() const { return phase_ == Phase::Running; }
    // A request outlived a stop: its thread may use the state until the process ends.
    bool requestLeftRunning() const { return abandoned_ != nullptr; }
    // The address a browser opens (empty unless running).
    QString address() const { return address_; }
    std::uint16_t port() const;
    // The pages listening for live reload (0 unless running).
    std::size_t liveStreamCount() const;
    // The folders live reload cannot watch now (none unless running).
    std::vector<std::string> unwatchedFolders() const;
    // Why the address listened on is open to the network (empty unless running on one that is
    // not loopback only).
    QString networkWarning() const { return networkWarning_; }
    // Live reload was switched off: the open pages stop listening now.
    void switchLiveReloadOff();
    // The window's reaction to a request left running, once the state is saved as far as it can
    // be: the process ends (with code) without destroying what the request uses.
    void endProcess(int code);

  signals:
    void phaseChanged(ServerController::Phase phase);

  private:
    // Runs on the window's thread after the stopping thread is done.
    Q_INVOKABLE void finishStop();
    void setPhase(Phase phase);

    AppState& state_;
    Host& host_;
    Options options_;
    Phase phase_ = Phase::Stopped;
    std::shared_ptr<RequestHandler> handler_;
    std::unique_ptr<HttpServer> server_;
    QString address_;
    QString networkWarning_;
    // The stop under way, on a thread of its own, and whether it saw every request end.
    std::thread stopping_;
    bool stopEnded_ = false;
    // A server whose request did not end (never destroyed).
    HttpServer* abandoned_ = nullptr;
};

} // namespace pelotest::desktop

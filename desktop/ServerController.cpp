#include "desktop/ServerController.h"

#include "desktop/StateCommands.h"
#include "pages/Routes.h"
#include "server/HttpServer.h"
#include "server/ServerAddress.h"

#include <QEventLoop>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <system_error>

namespace pelotest::desktop {
namespace {

// Why the server could not listen, from the error code its start reported (the message is in
// the user's locale, so its words cannot be compared).
BindFailure bindFailureOf(const std::error_code& code) {
    if (code == std::errc::address_in_use)
        return BindFailure::InUse;
    if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted)
        return BindFailure::Privileged;
    return BindFailure::Other;
}

} // namespace

void endProcessNow(int code) {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(code);
}

ServerController::ServerController(AppState& state, Host& host, Options options, QObject* parent)
    : QObject(parent), state_(state), host_(host), options_(std::move(options)) {
    if (!options_.routes)
        options_.routes = routeRequest;
}

ServerController::~ServerController() {
    if (stopping_.joinable())
        stopping_.join(); // its result is taken below, without a window to handle events
    if (phase_ == Phase::Stopping)
        finishStop();
    if (server_ && !server_->stop(options_.stopLimit)) {
        abandoned_ = server_.release();
        std::cerr << "pelotest: a request was still running when the window closed\n";
        endProcess(1);
    }
    // The program has ended by now whenever a server was given up. Where its end was handed to
    // somebody else (the tests), a server whose request has ended since is destroyed after all.
    if (abandoned_ && abandoned_->stop(options_.stopLimit)) {
        delete abandoned_;
        abandoned_ = nullptr;
    }
}

std::optional<ServerController::StartFailure> ServerController::start() {
    if (phase_ != Phase::Stopped)
        return std::nullopt;
    const Settings settings = StateCommands(state_).settings();
    const std::string& bindAddress = settings.bindAddress;
    const int port = settings.port;
    if (port < 1 || port > 65535)
        return StartFailure{BindFailure::Other, port,
                            QStringLiteral("Port %1 (1 - 65535)").arg(port)};
    auto handler = std::make_shared<RequestHandler>(state_, host_, options_.routes);
    auto server = std::make_unique<HttpServer>(handler);
    try {
        server->start(bindAddress, static_cast<std::uint16_t>(port));
    } catch (const std::system_error& e) {
        return StartFailure{bindFailureOf(e.code()), port, QString::fromLocal8Bit(e.what())};
    } catch (const std::exception& e) {
        return StartFailure{BindFailure::Other, port, QString::fromLocal8Bit(e.what())};
    }
    handler_ = std::move(handler);
    server_ = std::move(server);
    address_ = QString::fromStdString(browserAddress(bindAddress, server_->port()));
    // Listening beyond this computer is said where the address is shown, and once on stderr.
    if (const auto warning = openToTheNetworkWarning(bindAddress)) {
        networkWarning_ = QString::fromStdString(*warning);
        std::cerr << "pelotest: " << *warning << std::endl;
    }
    setPhase(Phase::Running);
    return std::nullopt;
}

bool ServerController::stop() {
    if (phase_ == Phase::Running) {
        setPhase(Phase::Stopping);
        address_.clear();
        networkWarning_.clear();
        // The server's own thread waits for the requests, so that the window's thread goes on
        // painting and answering; the result comes back to this thread as a queued call.
        HttpServer* server = server_.get();
        const auto limit = options_.stopLimit;
        stopping_ = std::thread([this, server, limit] {
            stopEnded_ = server->stop(limit);
            QMetaObject::invokeMethod(this, "finishStop", Qt::QueuedConnection);
        });
    }
    if (phase_ == Phase::Stopping) {
        // Any caller waits here, also one that came while an earlier stop was under way: the
        // queued call ends every waiting loop, whichever of them runs it.
        QEventLoop waiting;
        connect(this, &ServerController::phaseChanged, &waiting, &QEventLoop::quit);
        waiting.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return !requestLeftRunning();
}

void ServerController::finishStop() {
    if (phase_ != Phase::Stopping)
        return;
    if (stopping_.joinable())
        stopping_.join();
    if (!stopEnded_) {
        // The request's thread still uses the server, its handler, the state and the host: none
        // of them may be destroyed before the process ends.
        // (The server keeps its own share of the handler.)
        abandoned_ = server_.release();
        std::cerr
            << "pelotest: a request was still running "
            << std::chrono::duration_cast<std::chrono::milliseconds>(options_.stopLimit).count()
            << " ms after the server was asked to stop\n";
    }
    server_.reset();
    handler_.reset();
    setPhase(Phase::Stopped);
}

void ServerController::setPhase(Phase phase) {
    phase_ = phase;
    emit phaseChanged(phase);
}

std::uint16_t ServerController::port() const {
    return running() ? server_->port() : 0;
}

std::size_t ServerController::liveStreamCount() const {
    return running() ? server_->liveStreamCount() : 0;
}

std::vector<std::string> ServerController::unwatchedFolders() const {
    if (!running())
        return {};
    return handler_->liveReload().unwatchedFolders();
}

void ServerController::switchLiveReloadOff() {
    if (running())
        handler_->switchLiveReloadOff();
}

void ServerController::endProcess(int code) {
    options_.endProcess(code);
}

} // namespace pelotest::desktop

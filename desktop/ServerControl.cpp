// The window's server control: starting and stopping the server from the button, the tray or
// F5, the messages when the port cannot be served, and what the status line and the tray say
// about the running server. Part of MainWindow, kept in a file of its own so that the window's
// building, placement and shutdown read apart from it.
#include "desktop/MainWindow.h"

#include "desktop/SettingsTab.h"
#include "desktop/Text.h"
#include "pages/Routes.h"
#include "server/HttpServer.h"
#include "server/PortOwner.h"

#include <QLabel>
#include <QStatusBar>
#include <QStringList>
#include <QSystemTrayIcon>

#include <iostream>
#include <memory>
#include <string>
#include <system_error>

namespace pelotest::desktop {
namespace {

// The tooltip of a notification icon holds at most this many characters.
constexpr int kTrayTipLength = 63;

// Why the server could not listen, from the error code its start reported (the message is in
// the user's locale, so its words cannot be compared).
BindFailure bindFailureOf(const std::error_code& code) {
    if (code == std::errc::address_in_use)
        return BindFailure::InUse;
    if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted)
        return BindFailure::Privileged;
    return BindFailure::Other;
}

// The address a browser on this machine uses for the server.
QString serverAddress(const std::string& bindAddress, int port) {
    QString host = QString::fromStdString(bindAddress);
    if (bindAddress == "127.0.0.1" || bindAddress == "0.0.0.0" || bindAddress == "::" ||
        bindAddress == "::1")
        host = QStringLiteral("localhost");
    else if (host.contains(':'))
        host = '[' + host + ']';
    return QStringLiteral("http://%1:%2/").arg(host).arg(port);
}

} // namespace

bool MainWindow::serverRunning() const {
    return server_ && server_->running();
}

std::uint16_t MainWindow::serverPort() const {
    return serverRunning() ? server_->port() : 0;
}

void MainWindow::setStatusText(const QString& text) {
    statusText_->setText(text);
    if (statusText_->isVisible())
        statusText_->repaint();
}

// Everything that shows whether the server runs.
void MainWindow::showServerState(bool running) {
    setStatusText(uiText(state_, running ? UiText::StatusActive : UiText::StatusReady));
    settingsTab_->showServerState(running);
    startStopAction_->setIcon(images_.icon(running ? ImageList::kStop : ImageList::kStart));
    startStopAction_->setText(uiText(state_, running ? UiText::ServerStop : UiText::ServerStart));
    rootImage_ = running ? ImageList::kRootRunning : ImageList::kRootStopped;
    emit rootImageChanged(rootImage_);
    const QIcon icon = images_.icon(running ? ImageList::kTrayRunning : ImageList::kTrayStopped);
    setWindowIcon(icon);
    if (tray_)
        tray_->setIcon(icon);
    if (!running)
        serverUrl_.clear();
    showTrayTip();
    showLiveStatus();
}

void MainWindow::showLiveStatus() {
    if (!settingsTab_->liveReloadOn()) {
        liveStatus_->clear();
        liveStatus_->hide();
        return;
    }
    const std::size_t listening = serverRunning() ? server_->liveStreamCount() : 0;
    QString text = uiTextWith(state_, UiText::LiveReloadStatus, QString::number(listening));
    // A folder the system refuses to watch reloads no page: the status line says which, each with
    // the system's reason, until it is watched again.
    QStringList unwatched;
    if (serverRunning() && handler_)
        for (const std::string& folder : handler_->liveReload().unwatchedFolders())
            unwatched << QString::fromLocal8Bit(folder);
    if (!unwatched.isEmpty())
        text += QStringLiteral(" \u26A0 ") + unwatched.join(QStringLiteral(", "));
    liveStatus_->setText(text);
    liveStatus_->setToolTip(unwatched.join(QLatin1Char('\n')));
    liveStatus_->show();
}

// The tray's tip: the program, whether the server runs, and where.
void MainWindow::showTrayTip() {
    if (!tray_)
        return;
    QString tip =
        windowTitle().left(kTrayTipLength) + QLatin1Char('\n') +
        uiText(state_, settingsTab_->serverWanted() ? UiText::StatusActive : UiText::StatusReady);
    if (!serverUrl_.isEmpty())
        tip += QLatin1Char(' ') + serverUrl_;
    tray_->setToolTip(tip);
}

void MainWindow::followStartStopButton() {
    if (!settingsTab_->serverWanted()) {
        showServerState(false);
        if (server_)
            server_->stop();
        server_.reset();
        handler_.reset();
        serverLink_->clear();
        serverLink_->setToolTip({});
        showLiveStatus();
        return;
    }

    std::string address;
    int port = 0;
    {
        const StateLock lock(state_.mutex);
        address = state_.settings.bindAddress;
        port = state_.settings.port;
    }
    showServerState(true);
    QString failure;
    BindFailure why = BindFailure::Other;
    if (port < 1 || port > 65535) {
        failure = QStringLiteral("Port %1 (1 - 65535)").arg(port);
    } else {
        auto handler = std::make_shared<RequestHandler>(state_, host_, routeRequest);
        auto server = std::make_unique<HttpServer>(handler);
        try {
            server->start(address, static_cast<std::uint16_t>(port));
            server_ = std::move(server);
            handler_ = std::move(handler);
        } catch (const std::system_error& e) {
            // The system's own words, below the translated sentence: the program's sentence
            // around them is in English.
            failure = QString::fromLocal8Bit(e.code().message());
            why = bindFailureOf(e.code());
        } catch (const std::exception& e) {
            failure = QString::fromLocal8Bit(e.what());
        }
    }
    if (!failure.isEmpty()) {
        // Back to stopped, as if the button had not been pressed.
        settingsTab_->setServerWanted(false);
        showServerState(false);
        serverLink_->clear();
        serverLink_->setToolTip({});
        reportStartFailure(why, port, failure);
        return;
    }
    const QString url = serverAddress(address, server_->port());
    serverLink_->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(url.toHtmlEscaped()));
    // Listening beyond this computer is said where the address is shown, and once on stderr.
    const auto warning = openToTheNetworkWarning(address);
    serverLink_->setToolTip(warning ? QString::fromStdString(*warning) : QString());
    if (warning)
        std::cerr << "pelotest: " << *warning << std::endl;
    serverUrl_ = url;
    showTrayTip();
    showLiveStatus();
}

void MainWindow::reportStartFailure(BindFailure why, int port, const QString& detail) {
    // The program that holds the port tells the user what to stop, when the system says.
    QString holder;
    if (why == BindFailure::InUse)
        if (const auto owner = findPortOwner(static_cast<std::uint16_t>(port)))
            holder = QStringLiteral("%1 (PID %2)")
                         .arg(QString::fromLocal8Bit(owner->command))
                         .arg(owner->pid);
    dialogs_->message(MessageKind::Error, bindFailureText(state_, why, port, detail, holder));
}

void MainWindow::serverSwitchedByUser() {
    storedServerActive_.reset();
}

void MainWindow::toggleServerFromTray() {
    serverSwitchedByUser();
    settingsTab_->setServerWanted(!settingsTab_->serverWanted());
    followStartStopButton();
}

} // namespace pelotest::desktop

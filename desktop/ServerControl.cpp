// The window's side of the server: what the status line, the tray and the settings tab's button
// show about it, the messages when the port cannot be served, and the user's start and stop (the
// button, the tray, F5). The server itself is the ServerController's.
#include "desktop/MainWindow.h"

#include "desktop/SettingsTab.h"
#include "desktop/Text.h"
#include "server/PortOwner.h"

#include <QLabel>
#include <QStatusBar>
#include <QStringList>
#include <QSystemTrayIcon>

#include <string>

namespace pelotest::desktop {
namespace {

// The tooltip of a notification icon holds at most this many characters.
constexpr int kTrayTipLength = 63;

} // namespace

bool MainWindow::serverRunning() const {
    return server_->running();
}

std::uint16_t MainWindow::serverPort() const {
    return server_->port();
}

void MainWindow::setStatusText(const QString& text) {
    statusText_->setText(text);
    if (statusText_->isVisible())
        statusText_->repaint();
}

// Everything that shows whether the server runs, as the controller says.
void MainWindow::showServerState() {
    const bool running = server_->running();
    setStatusText(uiText(state_, running ? UiText::StatusActive : UiText::StatusReady));
    settingsTab_->showServerState(running, server_->phase() == ServerController::Phase::Stopping);
    startStopAction_->setIcon(images_.icon(running ? ImageList::kStop : ImageList::kStart));
    startStopAction_->setText(uiText(state_, running ? UiText::ServerStop : UiText::ServerStart));
    rootImage_ = running ? ImageList::kRootRunning : ImageList::kRootStopped;
    emit rootImageChanged(rootImage_);
    const QIcon icon = images_.icon(running ? ImageList::kTrayRunning : ImageList::kTrayStopped);
    setWindowIcon(icon);
    if (tray_)
        tray_->setIcon(icon);
    serverUrl_ = server_->address();
    if (serverUrl_.isEmpty())
        serverLink_->clear();
    else
        serverLink_->setText(
            QStringLiteral("<a href=\"%1\">%1</a>").arg(serverUrl_.toHtmlEscaped()));
    serverLink_->setToolTip(server_->networkWarning());
    showTrayTip();
    showLiveStatus();
}

void MainWindow::showLiveStatus() {
    if (!settingsTab_->liveReloadOn()) {
        liveStatus_->clear();
        liveStatus_->hide();
        return;
    }
    QString text =
        uiTextWith(state_, UiText::LiveReloadStatus, QString::number(server_->liveStreamCount()));
    // A folder the system refuses to watch reloads no page: the status line says which, each with
    // the system's reason, until it is watched again.
    QStringList unwatched;
    for (const std::string& folder : server_->unwatchedFolders())
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
    QString tip = windowTitle().left(kTrayTipLength) + QLatin1Char('\n') +
                  uiText(state_, server_->running() ? UiText::StatusActive : UiText::StatusReady);
    if (!serverUrl_.isEmpty())
        tip += QLatin1Char(' ') + serverUrl_;
    tray_->setToolTip(tip);
}

void MainWindow::switchServer(bool on) {
    if (!on) {
        server_->stop();
        showServerState();
        return;
    }
    const auto failure = server_->start();
    showServerState();
    if (failure)
        reportStartFailure(*failure);
}

void MainWindow::reportStartFailure(const ServerController::StartFailure& failure) {
    // The program that holds the port tells the user what to stop, when the system says.
    QString holder;
    if (failure.why == BindFailure::InUse)
        if (const auto owner = findPortOwner(static_cast<std::uint16_t>(failure.port)))
            holder = QStringLiteral("%1 (PID %2)")
                         .arg(QString::fromLocal8Bit(owner->command))
                         .arg(owner->pid);
    dialogs_->message(MessageKind::Error,
                      bindFailureText(state_, failure.why, failure.port, failure.detail, holder));
}

void MainWindow::toggleServerByUser() {
    // From now on the file keeps what the user chose.
    storedServerActive_.reset();
    if (server_->phase() != ServerController::Phase::Stopping)
        switchServer(!server_->running());
    else
        showServerState();
}

} // namespace pelotest::desktop

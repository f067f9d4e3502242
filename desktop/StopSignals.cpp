#include "desktop/StopSignals.h"

#include "desktop/MainWindow.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pelotest::desktop {
namespace {

int pipeFds[2] = {-1, -1};
struct sigaction previousTerm {};
struct sigaction previousInt {};

void cancelDialog(QDialog& dialog) {
    // close() is what Escape does to a message box (its Escape button counts as clicked) and,
    // for any other dialog, a reject. A box without an Escape button refuses to close: rejected.
    dialog.close();
    if (dialog.isVisible())
        dialog.reject();
}

void onSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const auto written = ::write(pipeFds[0], &byte, 1);
    errno = saved;
}

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeFds) != 0)
        return;
    // A full buffer must never block the handler; one byte waiting is enough to close.
    ::fcntl(pipeFds[0], F_SETFL, ::fcntl(pipeFds[0], F_GETFL) | O_NONBLOCK);
    notifier_ = new QSocketNotifier(pipeFds[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::readSignal);

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, &previousTerm);
    ::sigaction(SIGINT, &action, &previousInt);
}

StopSignals::~StopSignals() {
    if (!notifier_)
        return;
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    ::sigaction(SIGINT, &previousInt, nullptr);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void cancelOpenDialogs() {
    // Every top-level widget, not only the active modal one: a dialog under another one has its
    // own loop further down the stack, which must end as well.
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible())
            cancelDialog(*dialog);
}

ProgramCloser::ProgramCloser(MainWindow& window, QObject* parent)
    : QObject(parent), window_(window) {}

void ProgramCloser::closeProgram() {
    if (closing_)
        return;
    closing_ = true;
    qApp->installEventFilter(this);
    cancelOpenDialogs();
    window_.close();
    // A window that never was shown does not run its close handling.
    window_.shutdown();
}

bool ProgramCloser::eventFilter(QObject* watched, QEvent* event) {
    // A dialog that the code after a cancelled one opens: cancelled once its loop runs.
    if (event->type() == QEvent::Show)
        if (auto* dialog = qobject_cast<QDialog*>(watched); dialog && dialog->isWindow())
            QMetaObject::invokeMethod(
                dialog,
                [shown = QPointer<QDialog>(dialog)] {
                    if (shown && shown->isVisible())
                        cancelDialog(*shown);
                },
                Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

void StopSignals::readSignal() {
    char byte = 0;
    if (::read(pipeFds[1], &byte, 1) == 1)
        emit stopRequested(static_cast<unsigned char>(byte));
}

} // namespace pelotest::desktop

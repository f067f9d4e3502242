#pragma once
// One program per settings file: the first one listens on a local socket named after the
// settings file (and the user); a second one started on the same file tells the first to come to
// the front and ends, instead of fighting over the port and the file.
//
// The socket lives in a folder only this user can create names in, and either side believes the
// other only when it runs as this user: another user on the machine can neither keep the window
// from starting nor bring it to the front.

#include "platform/UserSession.h"

#include <QObject>
#include <QString>

#include <filesystem>
#include <optional>
#include <string>

class QLocalServer;
class QLocalSocket;

namespace pelotest::desktop {

// Why a folder cannot hold the socket (platform/UserSession.h).
using pelotest::refusePrivateFolder;

// Whether the program at the other end of a connected local socket runs as this user.
bool peerIsThisUser(const QLocalSocket& socket);

class SingleInstance : public QObject {
    Q_OBJECT

  public:
    // socketName: keyFor() of the settings file; empty when there is no safe place for it (the
    // program then neither asks nor listens).
    explicit SingleInstance(QString socketName, QObject* parent = nullptr);

    // The socket for a settings file: a hash of its absolute path and the user id, in
    // $XDG_RUNTIME_DIR when that is this user's private folder, else in the folder
    // pelotest-UID of the temporary folder ($TMPDIR or /tmp), made and checked here. Empty when
    // neither is usable; why is then set to the reason.
    static QString keyFor(const std::filesystem::path& settingsFile, std::string* why = nullptr);

    // True when another program of this user serves this settings file and was asked to come
    // to the front.
    bool handOver();
    // Starts listening for later programs; false when the socket cannot be made.
    bool listen();

  signals:
    void activationRequested();

  private:
    QString key_;
    QLocalServer* server_ = nullptr;
};

} // namespace pelotest::desktop

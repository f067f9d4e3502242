#include "desktop/SingleInstance.h"

#include "platform/UserSession.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <cstdlib>

namespace pelotest::desktop {
namespace {

namespace fs = std::filesystem;

constexpr int kWaitMs = 2000;
const QByteArray kActivate = QByteArrayLiteral("activate\n");

// A socket's path must fit the address a socket is bound to.
bool fitsSocketAddress(const fs::path& path) {
    return path.native().size() <= longestSocketPath();
}

} // namespace

bool peerIsThisUser(const QLocalSocket& socket) {
    return pelotest::peerIsThisUser(static_cast<std::intptr_t>(socket.socketDescriptor()));
}

SingleInstance::SingleInstance(QString socketName, QObject* parent)
    : QObject(parent), key_(std::move(socketName)) {}

QString SingleInstance::keyFor(const fs::path& settingsFile, std::string* why) {
    std::error_code ec;
    fs::path absolute = fs::weakly_canonical(settingsFile, ec);
    if (ec)
        absolute = fs::absolute(settingsFile);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArray::number(static_cast<qulonglong>(currentUserNumber())));
    hash.addData(QByteArrayLiteral("\n"));
    hash.addData(QFile::encodeName(QString::fromStdString(absolute.string())));
    const std::string name = "pelotest-" + hash.result().toHex().left(32).toStdString();

    // The session's runtime folder is the place for it; without one (or with one that is not
    // private), a folder of our own in the temporary folder, where another user may have put a
    // name first: it is used only when it is this user's and closed to others.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        const fs::path socket = fs::path(runtime) / name;
        if (fitsSocketAddress(socket) && !refusePrivateFolder(runtime, false))
            return QFile::decodeName(socket.c_str());
    }
    const fs::path own = fs::path(QFile::encodeName(QDir::tempPath()).toStdString()) /
                         ("pelotest-" + std::to_string(currentUserNumber()));
    std::optional<std::string> refused = refusePrivateFolder(own, true);
    if (!refused && !fitsSocketAddress(own / name))
        refused = (own / name).string() + " is too long for a socket";
    if (refused) {
        if (why)
            *why = *refused;
        return {};
    }
    return QFile::decodeName((own / name).c_str());
}

bool SingleInstance::handOver() {
    if (key_.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(key_);
    // A socket that another user made at this name is no program of ours.
    if (!socket.waitForConnected(kWaitMs) || !peerIsThisUser(socket))
        return false;
    socket.write(kActivate);
    if (!socket.waitForBytesWritten(kWaitMs))
        return false;
    // The first program answers once it has taken the request.
    return socket.waitForReadyRead(kWaitMs) && socket.readAll().startsWith("ok");
}

bool SingleInstance::listen() {
    if (key_.isEmpty())
        return false;
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(key_)) {
        // A socket left behind by a program that crashed: nobody answered handOver(), so it is
        // stale and can go.
        QLocalServer::removeServer(key_);
        if (!server_->listen(key_))
            return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            if (!peerIsThisUser(*socket)) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                if (socket->readLine() == kActivate) {
                    socket->write("ok\n");
                    socket->flush();
                    emit activationRequested();
                }
                socket->disconnectFromServer();
            });
        }
    });
    return true;
}

} // namespace pelotest::desktop

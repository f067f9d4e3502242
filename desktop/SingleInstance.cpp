#include "desktop/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace pelotest::desktop {
namespace {

namespace fs = std::filesystem;

constexpr int kWaitMs = 2000;
const QByteArray kActivate = QByteArrayLiteral("activate\n");

std::string systemError() {
    return std::strerror(errno);
}

// A socket's path must fit the address a socket is bound to.
bool fitsSocketAddress(const fs::path& path) {
    return path.native().size() < sizeof(sockaddr_un{}.sun_path);
}

} // namespace

std::optional<std::string> refusePrivateFolder(const fs::path& folder, bool create) {
    if (create && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return "cannot create " + folder.string() + ": " + systemError();
    // Opened without following a link, the checks and the narrowing below hold for the folder
    // itself, whatever its name is made to point at meanwhile.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return folder.string() + " is not a folder (" + systemError() + ")";
    struct stat status {};
    std::optional<std::string> refused;
    if (::fstat(fd, &status) != 0)
        refused = folder.string() + ": " + systemError();
    else if (status.st_uid != ::geteuid())
        refused = folder.string() + " belongs to another user";
    else if ((status.st_mode & 077) != 0 && (!create || ::fchmod(fd, 0700) != 0))
        refused = folder.string() + " is open to other users";
    ::close(fd);
    return refused;
}

bool peerIsThisUser(const QLocalSocket& socket) {
    const auto fd = static_cast<int>(socket.socketDescriptor());
    if (fd < 0)
        return false;
#if defined(SO_PEERCRED)
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           size == sizeof credentials && credentials.uid == ::geteuid();
#else
    uid_t uid = 0;
    gid_t gid = 0;
    return ::getpeereid(fd, &uid, &gid) == 0 && uid == ::geteuid();
#endif
}

SingleInstance::SingleInstance(QString socketName, QObject* parent)
    : QObject(parent), key_(std::move(socketName)) {}

QString SingleInstance::keyFor(const fs::path& settingsFile, std::string* why) {
    std::error_code ec;
    fs::path absolute = fs::weakly_canonical(settingsFile, ec);
    if (ec)
        absolute = fs::absolute(settingsFile);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArray::number(static_cast<qulonglong>(::getuid())));
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
                         ("pelotest-" + std::to_string(::geteuid()));
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

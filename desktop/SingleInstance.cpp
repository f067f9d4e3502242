#include "desktop/SingleInstance.h"

#include <QCryptographicHash>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace pelotest::desktop {
namespace {

constexpr int kWaitMs = 2000;
const QByteArray kActivate = QByteArrayLiteral("activate\n");

} // namespace

SingleInstance::SingleInstance(const std::filesystem::path& settingsFile, QObject* parent)
    : QObject(parent), key_(keyFor(settingsFile)) {}

QString SingleInstance::keyFor(const std::filesystem::path& settingsFile) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::weakly_canonical(settingsFile, ec);
    if (ec)
        absolute = std::filesystem::absolute(settingsFile);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArray::number(static_cast<qulonglong>(::getuid())));
    hash.addData(QByteArrayLiteral("\n"));
    hash.addData(QFile::encodeName(QString::fromStdString(absolute.string())));
    return QStringLiteral("pelotest-") + QString::fromLatin1(hash.result().toHex().left(32));
}

bool SingleInstance::handOver() {
    QLocalSocket socket;
    socket.connectToServer(key_);
    if (!socket.waitForConnected(kWaitMs))
        return false;
    socket.write(kActivate);
    if (!socket.waitForBytesWritten(kWaitMs))
        return false;
    // The first program answers once it has taken the request.
    return socket.waitForReadyRead(kWaitMs) && socket.readAll().startsWith("ok");
}

bool SingleInstance::listen() {
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

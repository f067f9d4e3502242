#pragma once
// One program per settings file: the first one listens on a local socket named after the
// settings file (and the user); a second one started on the same file tells the first to come to
// the front and ends, instead of fighting over the port and the file.

#include <QObject>
#include <QString>

#include <filesystem>

class QLocalServer;

namespace pelotest::desktop {

class SingleInstance : public QObject {
    Q_OBJECT

  public:
    explicit SingleInstance(const std::filesystem::path& settingsFile, QObject* parent = nullptr);

    // The socket name for a settings file: a hash of its absolute path and the user id.
    static QString keyFor(const std::filesystem::path& settingsFile);

    // True when another program serves this settings file and was asked to come to the front.
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

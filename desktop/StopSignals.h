#pragma once
// SIGTERM and SIGINT as a Qt signal: the handler only writes one byte into a socket pair, and a
// QSocketNotifier turns it into stopRequested() on the user-interface thread, where the program
// closes as "Beenden" does.

#include <QObject>

class QSocketNotifier;

namespace pelotest::desktop {

class StopSignals : public QObject {
    Q_OBJECT

  public:
    // Installs the handlers (one object per process); the old ones come back with the destructor.
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

  signals:
    void stopRequested(int signal);

  private:
    void readSignal();

    QSocketNotifier* notifier_ = nullptr;
};

} // namespace pelotest::desktop

#pragma once
// SIGTERM and SIGINT as a Qt signal: the handler only writes one byte into a socket pair, and a
// QSocketNotifier turns it into stopRequested() on the user-interface thread, where the program
// closes as "Beenden" does, whatever dialog is open.

#include <QObject>

class QDialog;
class QSocketNotifier;

namespace pelotest::desktop {

class MainWindow;

// Cancels every open dialog of the program as Escape would (a message box takes its Escape
// button; any other dialog is rejected), so that the code that opened it goes on as after a
// cancel. Dialogs opened inside others are cancelled too; their loops end as the stack unwinds.
void cancelOpenDialogs();

// Closes the program when asked from outside (a stop signal): a question open at that moment
// must not keep it running, nor may one that the code after it opens.
class ProgramCloser : public QObject {
    Q_OBJECT

  public:
    explicit ProgramCloser(MainWindow& window, QObject* parent = nullptr);

    // Cancels the open dialogs and every dialog shown from now on, then closes the window, which
    // stops the server and writes the state. The window's finished() ends the program's event
    // loop when it runs; closing() tells one that has not begun yet not to begin.
    void closeProgram();
    bool closing() const { return closing_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    MainWindow& window_;
    bool closing_ = false;
};

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

#pragma once
// The core's Host on the desktop. Colours and message icons come from the application's palette
// and style, copied on the user-interface thread (and again when the palette or style changes) so
// that connection threads read them without touching a widget. Change notifications arrive on
// connection threads with the state lock held: each becomes a queued signal, and a burst of them
// gives one signal until the window has taken it, so the window never blocks a request and a
// request never waits for the window.

#include "state/Host.h"

#include <QObject>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace pelotest::desktop {

// What the host needs from the window (user-interface thread only).
class HostWindow {
  public:
    virtual ~HostWindow() = default;
    virtual WindowPlacement placement() const = 0;
    virtual void showStatus(const std::string& text) = 0;
    virtual std::optional<std::string>
    askValue(const std::string& caption, const std::string& prompt, const std::string& preset) = 0;
};

class QtHost : public QObject, public ProgramHost {
    Q_OBJECT

  public:
    explicit QtHost(HostWindow& window, QObject* parent = nullptr);
    ~QtHost() override;

    Rgb color(ColorRole role) const override;
    IconPixels messageIcon(MessageIcon icon) const override;
    std::string caption() const override;
    int variableColumnWidth() const override;

    // The load hands over the stored placement with the state lock held: it is kept here and
    // shown by the window once the lock is free (takeLoadedPlacement).
    void applyPlacement(const WindowPlacement& stored) override;
    std::optional<WindowPlacement> takeLoadedPlacement();
    WindowPlacement placement() const override { return window_.placement(); }
    std::optional<std::string> askValue(const std::string& caption, const std::string& prompt,
                                        const std::string& preset) override {
        return window_.askValue(caption, prompt, preset);
    }
    void status(const std::string& text) override { window_.showStatus(text); }

    void settingsChanged() override { post(Change::Settings); }
    void treeChanged() override { post(Change::Tree); }
    void variablesChanged() override { post(Change::Variables); }
    void logChanged() override { post(Change::Log); }
    void liveStreamsChanged(std::size_t) override { post(Change::LiveStreams); }
    // The status line that counts the listening browsers also names the folders not watched.
    void liveFoldersUnwatched(const std::vector<std::string>&) override {
        post(Change::LiveStreams);
    }

    // The window's caption (Windows-1252) and the width of the variables list's first column.
    void setCaption(std::string caption);
    void setVariableColumnWidth(int width);
    // Copies colours and icons from the application again (user-interface thread).
    void refreshAppearance();
    // The program is closing: no more change notifications reach the window (a request that does
    // not end may hold the state, which the panes would wait for while the server stops).
    void stopNotifying() { notifying_ = false; }

  signals:
    void settingsChangedQueued();
    void treeChangedQueued();
    void variablesChangedQueued();
    void logChangedQueued();
    // The server counts the browsers listening for live reload anew (it knows their number).
    void liveStreamsChangedQueued();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    enum class Change { Settings, Tree, Variables, Log, LiveStreams };
    void post(Change change);
    // Run on the user-interface thread for a posted change (its number).
    Q_INVOKABLE void deliver(int change);

    HostWindow& window_;
    mutable std::mutex mutex_; // guards the copies below
    std::array<Rgb, 7> colors_{};
    std::array<IconPixels, 3> icons_{};
    std::string caption_;
    int columnWidth_ = 150;
    std::optional<WindowPlacement> loadedPlacement_;
    // A notification is waiting in the event queue.
    std::array<std::atomic<bool>, 5> pending_{};
    bool notifying_ = true; // user-interface thread only
};

} // namespace pelotest::desktop

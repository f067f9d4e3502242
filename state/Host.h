#pragma once
// What the core needs from the desktop (or from the headless stand-in), in two parts.
// Host: colours, message icons, caption, a column width and change notifications. Request
// threads call it, mostly while the state lock is held: implementations never block on the
// user interface (they queue the notification instead).
// ProgramHost: window placement, status texts and questions to the user, which only the
// program's own thread asks for (the window's thread; the headless program's main thread), while
// loading, saving or expanding a folder for the user. A request handler is never given one.

#include "state/Settings.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelotest {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

enum class ColorRole {
    ButtonFace,       // system colour 15
    WindowText,       // 8
    ButtonShadow,     // 16
    ButtonHighlight,  // 20
    WindowBackground, // 5
    ButtonText,       // 18
    GrayText,         // 17
};

enum class MessageIcon { Warning, Error, Information };

// 32x32 pixels, row by row from the top, RGBA.
using IconPixels = std::array<std::uint8_t, 32 * 32 * 4>;

class Host {
  public:
    virtual ~Host() = default;

    virtual Rgb color(ColorRole role) const = 0;
    virtual IconPixels messageIcon(MessageIcon icon) const = 0;
    // The main window caption (UI text 1 when headless).
    virtual std::string caption() const = 0;
    // Width in pixels of the first column of the variables list (150 when headless).
    virtual int variableColumnWidth() const = 0;

    // The start page and its parameters were set from the browser (the settings fields show them).
    virtual void settingsChanged() {}
    virtual void treeChanged() {}
    virtual void variablesChanged() {}
    virtual void logChanged() {}
    // The number of pages listening for live reload changed (called from any thread, without the
    // state lock).
    virtual void liveStreamsChanged(std::size_t open) { (void)open; }
    // The folders live reload cannot watch changed (called from any thread, without the state
    // lock): each "folder (why)", empty once every folder is watched again. Their changes reload
    // no page meanwhile.
    virtual void liveFoldersUnwatched(const std::vector<std::string>& folders) { (void)folders; }
};

class ProgramHost : public Host {
  public:
    // Window placement: loadState hands over what the file held (absent keys empty), with the
    // state lock held (keep it, show it afterwards); saveState asks for what to write.
    virtual void applyPlacement(const WindowPlacement& stored) = 0;
    virtual WindowPlacement placement() const = 0;

    // Asks the user for a value (ExpandFolderVariables); nullopt when cancelled. May wait for the
    // user as long as the user takes.
    virtual std::optional<std::string>
    askValue(const std::string& caption, const std::string& prompt, const std::string& preset) = 0;
    // Status line text while loading and saving ("" clears it).
    virtual void status(const std::string& text) { (void)text; }
};

} // namespace pelotest

#pragma once
// The user's settings and the constants of the settings file, one field per key.

#include "state/DisplayText.h"

#include <optional>
#include <string>

namespace pelotest {

// The number fields of the settings tab (MaxLog, RemoteEditReload) hold 2 to 9999; a value
// outside, from a hand-edited file, is pulled into range as the field would.
constexpr int clampToField(int value) {
    return value < 2 ? 2 : value > 9999 ? 9999 : value;
}

// The window's placement as the settings file holds it. A bound that the file does not hold (or
// holds unusable) is empty: only a window knows its current bounds. A window fills in all of its
// own; a host without a window hands back what it was given, so that keys absent from the file
// stay absent.
struct WindowPlacement {
    std::optional<int> left, top, width, height, treeWidth;
    std::string windowState = "normal";
    int pageIndex = 0;
};

// The port of a settings file that names none (a new one above all). On Linux a port below 1024
// needs administrator rights, so a newcomer's first start would fail there with 80.
#ifdef _WIN32
inline constexpr int kDefaultPort = 80;
#else
inline constexpr int kDefaultPort = 8080;
#endif

struct Settings {
    // Section "Settings".
    std::string languageDll;
    std::string dynamicPath;
    std::string virtualPath;
    std::string staticPath;
    std::string staticSite;
    std::string staticParameter;
    bool variablesAutoSort = true;
    bool remoteEdit = true;
    bool saveLog = false;
    // Open pages reload when a file of the site changes.
    bool liveReload = false;
    // The log's time and query columns are shown (the window's headings menu).
    bool logTimeColumn = false;
    bool logQueryColumn = false;
    int port = kDefaultPort;
    int maxLog = 100;
    int remoteEditReload = 2;
    WindowPlacement placement;
    bool serverActive = false;
    std::string lastLangugeResPath;

    // Section "Const" (only a hand edit changes them).
    std::string varBefore = "/(";
    std::string varAfter = ")";
    std::string event = "PELO_EVENT";
    // Also in "Const": the address the server binds to (loopback unless the user opens it) and the
    // extra host names it answers (comma-separated).
    std::string bindAddress = "127.0.0.1";
    std::string allowedHosts;
    // Also in "Const": the encoding of the site's templates, which text typed in the window or
    // on the variables page is stored in (SiteEncoding=utf-8; absent: Windows-1252).
    SiteEncoding siteEncoding = SiteEncoding::Windows1252;
};

// Values given on the command line for one run. They replace what the settings file says while
// the program runs and are never written back: at save, a key whose value is still the one given
// here keeps the text the file has (a value the user changed during the run is saved as usual).
struct RunOverrides {
    std::optional<int> port;
    std::optional<std::string> bindAddress;
    std::optional<std::string> staticPath;
    std::optional<std::string> templateFolder; // the DynamicPath key
    std::optional<std::string> virtualPath;
    // Live reload for this run whatever the key LiveReload says (--live-reload); never stored.
    bool liveReload = false;
};

} // namespace pelotest

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
    int port = 80;
    int maxLog = 100;
    int remoteEditReload = 2;
    int pageIndex = 0;
    // Window placement: absent in the file means "the window's current bounds", which only a
    // window knows; the host fills them in.
    std::optional<int> left, top, width, height, treeWidth;
    std::string windowState = "normal";
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

} // namespace pelotest

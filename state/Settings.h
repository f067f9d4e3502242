#pragma once
// The user's settings and the constants of the settings file, one field per key.

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
    std::string LanguageDll;
    std::string DynamicPath;
    std::string VirtualPath;
    std::string StaticPath;
    std::string StaticSite;
    std::string StaticParameter;
    bool VariablesAutoSort = true;
    bool RemoteEdit = true;
    bool SaveLog = false;
    int Port = 80;
    int MaxLog = 100;
    int RemoteEditReload = 2;
    int PageIndex = 0;
    // Window placement: absent in the file means "the window's current bounds", which only a
    // window knows; the host fills them in.
    std::optional<int> Left, Top, Width, Height, TreeWidth;
    std::string WindowState = "normal";
    bool ServerActive = false;
    std::string LastLangugeResPath;

    // Section "Const" (only a hand edit changes them).
    std::string VarBefore = "/(";
    std::string VarAfter = ")";
    std::string Event = "PELO_EVENT";
    // Also in "Const": the address the server binds to (loopback unless the user opens it) and the
    // extra host names it answers (comma-separated).
    std::string BindAddress = "127.0.0.1";
    std::string AllowedHosts;
};

} // namespace pelotest

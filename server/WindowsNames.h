#pragma once
// Names that Windows resolves in its own way and that a request or an editor path must never
// reach there: devices (CON, NUL, COM1... with any extension), a trailing dot or space (which
// Windows drops, so "page.htm." would open "page.htm" past every check made on the name), a
// colon (a drive letter, or an alternate data stream such as "page.htm::$DATA"), the device and
// UNC forms ("\\?\", "\\.\", "\\server"), and the characters Windows takes as wildcards or
// refuses. The rules are the same code on every system and tested everywhere; the Windows build
// applies them to every path below a site's folder (kWindowsNameRules).

#include <string_view>

namespace pelotest {

#ifdef _WIN32
inline constexpr bool kWindowsNameRules = true;
#else
inline constexpr bool kWindowsNameRules = false;
#endif

// Whether relative (a path below a site's folder; '/' and '\' both separate) holds a name that
// Windows would resolve to something else than the file of that name, or that is no file name
// there at all. "." and ".." are left to the caller's resolving.
bool holdsWindowsSpecialName(std::string_view relative);

// Whether one component (no separator in it) names a device: CON, PRN, AUX, NUL, COM0-COM9,
// LPT0-LPT9 (also with the superscript digits ¹²³ of Windows-1252 and their UTF-8 forms),
// CONIN$, CONOUT$, any case, followed by nothing, by spaces or by an extension.
bool namesWindowsDevice(std::string_view component);

} // namespace pelotest

#pragma once
// Texts of the desktop: the Windows-1252 bytes of the state shown as QString and edits turned
// back into bytes, and every lookup of a UI text the window makes (one place, so a change of how
// texts are named touches only this file and its .cpp).

#include "language/UiTexts.h"
#include "state/AppState.h"
#include "state/DisplayText.h"
#include "state/PersistentState.h"

#include <QString>

#include <string>
#include <string_view>

namespace pelotest::desktop {

// Bytes of the state (settings, UI texts) as text; every byte has a character.
QString fromWindows1252(std::string_view bytes);
// Text typed by the user as bytes; a character without a Windows-1252 byte becomes '?'.
std::string toWindows1252(const QString& text);

// Bytes of the site (titles, events, variables) as text: valid UTF-8 as UTF-8, anything else as
// Windows-1252. With a limit, at most that many bytes are shown, cut between two characters.
QString fromSiteBytes(std::string_view bytes, std::size_t limit = std::string_view::npos);
// Text typed by the user as bytes in the site's encoding (see siteBytes).
std::string toSiteBytes(const QString& text, SiteEncoding encoding);

// File system paths use the file system's encoding, not Windows-1252.
QString fromPathBytes(const std::string& bytes);
std::string toPathBytes(const QString& path);
// A path as the server uses it and as messages name it: absolute (a relative path is taken from
// the working folder), with the platform's separators.
QString absolutePath(const QString& path);

// A UI text in the current language, as text, its line-break markers as line breaks. Call on the
// user-interface thread (the only one that changes the language), without the state lock: the
// language is read under it.
QString uiText(const AppState& state, UiText id) EXCLUDES(state.mutex);
// A UI text with its %1 filled in and its line-break markers shown as line breaks, as a message
// box shows it.
QString uiTextWith(const AppState& state, UiText id, const QString& arg) EXCLUDES(state.mutex);
// A text whose line-break markers (CR LF, CR) are shown as line breaks.
QString withLineBreaks(QString text);
// A tooltip that shows text as it is, markup included, wrapped to the tip's width instead of one
// line as wide as the screen.
QString wrappedTip(const QString& text);
// The lookup the core's load, save and folder expansion use (Windows-1252 bytes): called by
// them with the state lock held, it reads the language as it stands.
TextLookup coreTexts(const AppState& state);

// Why a port cannot be served, for the message box after a failed start; holder names the
// program that holds a port in use, when the system told (empty: it did not).
enum class BindFailure { InUse, Privileged, Other };
QString bindFailureText(const AppState& state, BindFailure failure, int port, const QString& detail,
                        const QString& holder = {}) EXCLUDES(state.mutex);

} // namespace pelotest::desktop

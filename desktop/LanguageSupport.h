#pragma once
// What the language box and the web dialog share: flag pictures, the maker's address, and the
// address of the maker's download and help pages with the query that describes this program.

#include "desktop/StateCommands.h"
#include "state/AppState.h"

#include <QColor>
#include <QIcon>
#include <QString>
#include <QUrl>

#include <string_view>

namespace pelotest::desktop {

// Where the maker's download and help pages are, unless [Const] DownloadURL names another host.
inline constexpr std::string_view kDefaultDownloadUrl = "https://www.dunmere.example";

// The icon of a flag (a Windows bitmap); the colour of its pixel at x 0, y 14 is transparent.
// An undecodable flag gives an empty icon.
QIcon flagIcon(std::string_view bitmap);

// [Const] DownloadURL of the settings file, or kDefaultDownloadUrl; without a trailing '/'.
QString downloadHost(const StateCommands& commands);

// Qt's own texts (standard dialogs, the text fields' menus) in the current language: the Qt
// translation named by UI text 129 (qtbase_de for "DE") from Qt's translations folder, when it is
// installed; otherwise Qt's English.
void followLanguageInQtTexts(const AppState& state) EXCLUDES(state.mutex);

// The program's file version as four numbers ("0.1.0.0").
QString fileVersion();

// The page of kind ("language" or "help") on host: the path /download/additional/KIND.php and the
// query Lang (UI text 129 of languageDll, as it is), App, Ver, the six colours of the palette
// ("#RRGGBB", encoded), winFont and winFontSize, in that order.
QUrl pageAddress(const AppState& state, const QString& host, const QString& kind,
                 const std::string& languageDll, const QString& fontFamily, int fontPointSize);

} // namespace pelotest::desktop

#pragma once
// The text machinery of the request handler: variable references, page titles, the popup
// scripts put into pages, and the small encoders of the generated pages.

#include "state/AppState.h"
#include "state/Host.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace pelotest {

// ExpandReferences on one template line: unknown names are created (empty value), referenced
// Plain rows marked Used at LeadingPassedCount while auto-sort is on. Sets VariablesChanged
// (and notifies host) when rows change.
std::string expandReferences(AppState& state, Host& host, std::string_view line);

// A page file for titles and the log: extension .htm, .html, .js or .css, ignoring case.
bool isPageFile(std::string_view filePath);
// PageTitle of a file (.htm/.html/.js/.css only, ignoring case); "" otherwise or when absent.
// Throws std::runtime_error when the file exists but cannot be read.
std::string pageTitle(const std::string& filePath);

// A file as lines split at CR LF, CR or LF; a NUL ends the text. Throws when unreadable.
std::vector<std::string> readLines(const std::string& filePath);
std::vector<std::string> splitLines(std::string_view text);
// The title of a page given as lines (first line holding "<title>", "</title>" on the same
// line, the German entities decoded); pageTitle applies it to a file of a page extension.
std::string titleFromLines(const std::vector<std::string>& lines);
// Every line followed by CR LF.
std::string joinLinesCrLf(const std::vector<std::string>& lines);

// The start-page injection of one line (SiteLogPopupScript after the first "</title>").
std::string injectSiteLogScript(const AppState& state, std::string_view line);
// Pop-up scripts; the offsets are read from the settings file on disk at each call.
std::string siteLogPopupScript(const AppState& state);
std::string popSiteListBlock(const AppState& state);
std::string varListPopupScript(const AppState& state);

// '&', '"', '<' and '>' as entities; every other byte unchanged (a text holding "#amp~;" keeps
// it: the escape is exact, so a form field carrying the result submits the original text).
std::string htmlEscape(std::string_view text);
// Escapes a value for a JavaScript string literal in either quote ('\\', '"', '\'', CR, LF, '<'
// as \x3C); safe characters come out unchanged.
std::string scriptStringEscape(std::string_view text);
std::string urlEncode(std::string_view text);
// UrlDecodePath: '+' to blank, '%XX' to the byte (14 when XX is not hexadecimal), each input
// position visited once ("%2B" gives "+"); a '%' without two characters after it stays. A '/'
// stays '/': it is the native separator, which UrlEncode also makes of a backslash. (The editor
// form of a path turns '/' into '?' before UrlEncode; its reader turns '?' back.)
std::string urlDecodePath(std::string_view text);
std::string htmlColor(Rgb color);
std::string htmlColor(const Host& host, ColorRole role);
// FileInfoText: "Geändert am ... Uhr − Grösse: ..." with UI texts 55-61, local time.
std::string fileInfoText(const AppState& state, const std::string& filePath);

} // namespace pelotest

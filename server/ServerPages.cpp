// The pages and scripts the server itself builds: the welcome page of the site root, the redirect
// to the start page, the not-found page, the page for an event without a template, and the
// scripts that open the recent-sites and variables pop-ups.

#include "server/ServerPages.h"

#include "language/UiTexts.h"
#include "server/Encoders.h"
#include "server/FileCache.h"
#include "server/PageSkeleton.h"
#include "server/RequestSafety.h"
#include "server/StaticFiles.h"
#include "state/DisplayText.h"
#include "state/PersistentState.h"
#include "state/TextCase.h"
#include "state/TextEdits.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pelotest {
namespace {

// The maker named in the welcome page's footer.
constexpr std::string_view kMakerName = "Dunmere";
constexpr std::string_view kMakerAddress = "https://www.dunmere.example/";

// One offset of the settings file (an integer by the settings file's rule, blanks around it
// allowed), or fallback when the key is missing, not a number or out of range.
long long popupOffset(const ProfileFile& file, std::string_view key, long long fallback) {
    const std::optional<std::string> value = file.readString("Const", key);
    if (!value)
        return fallback;
    const std::optional<int> offset = parseSettingsInteger(trimBlanks(*value));
    if (!offset || *offset < -1000000 ||
        *offset > 1000000) // pixels; keeps the sums far from overflow
        return fallback;
    return *offset;
}

// ---- Building blocks of the welcome page --------------------------------------------------------

std::string spacerRow(int height) {
    const std::string h = std::to_string(height);
    return " <tr height=\"" + h +
           "\">\r"
           "  <td colspan=\"3\"><img src=\"/$int/blank.gif\" border=\"0\" alt=\"\" "
           "width=\"1\" height=\"" +
           h +
           "\"></td>\r"
           " </tr>\r";
}

std::string lineRow(const Host& host, ColorRole role) {
    return " <tr bgcolor=\"" + htmlColor(host, role) +
           "\" height=\"1\">\r"
           "  <td colspan=\"3\"><img src=\"/$int/blank.gif\" border=\"0\" alt=\"\" "
           "width=\"1\" height=\"1\"></td>\r"
           " </tr>\r";
}

std::string bevel(const Host& host) {
    return lineRow(host, ColorRole::ButtonShadow) + lineRow(host, ColorRole::ButtonHighlight);
}

std::string textRow(const Host& host, std::string_view text) {
    return " <tr valign=\"top\" bgcolor=\"" + htmlColor(host, ColorRole::WindowBackground) +
           "\">\r"
           "  <td colspan=\"3\"><table border=\"0\" cellpadding=\"4\" "
           "cellspacing=\"0\" width=\"100%\" height=\"100%\"><tr><td>" +
           std::string(text) +
           "</td></tr></table></td>\r"
           " </tr>\r";
}

} // namespace

// The welcome page of the site root while no start page is set.
std::string startSitePage(const LanguageTexts& texts, const Settings& settings, const Host& host,
                          const std::vector<std::string>& startPages) {
    std::string page = pageHead(host.caption()) + controlPageBody(host);
    page += "<FORM ACTION=\"/$int/SetStartSite.html\" NAME=\"SetStartSite\" METHOD=\"GET\">"
            "<table border=\"0\" cellspacing=\"0\" cellpadding=\"0\" width=\"100%\">\r";
    page += textRow(host, "<b>" + texts.text(UiText::WelcomeHeading) + "</b><br>\r&nbsp;<br>\r" +
                              texts.text(UiText::WelcomeNoStartPage));
    page += spacerRow(2) + bevel(host) + spacerRow(5);
    page += " <tr valign=\"top\">\r"
            "  <td><img src=\"/$int/run.gif\" border=\"0\" alt=\"\" width=\"16\"></td>\r"
            "  <td colspan=\"2\">" +
            texts.format(UiText::WelcomeControlCentreLink, "<a class=\"control\" href=\"/$int\">",
                         "</a>") +
            "</td>\r </tr>\r";
    page += spacerRow(5);
    page += " <tr valign=\"top\">\r"
            "  <td><img src=\"/$int/run.gif\" border=\"0\" alt=\"\" width=\"16\"></td>"
            "  <td colspan=\"2\">" +
            texts.text(UiText::WelcomeChooseStartPage) + "<br>\r<Select name=\"SITE\">\r";
    for (const std::string& name : startPages) {
        const std::string shown = htmlEscape(name);
        page += "<OPTION VALUE=\"" + shown + "\">" + windows1252PageText(shown) + "</OPTION>\r";
    }
    page += "</Select>?<INPUT TYPE=\"TEXT\" NAME=\"PARMS\" VALUE=\"" +
            htmlEscape(settings.staticParameter) +
            "\"><INPUT CLASS=\"btn\" TYPE=\"SUBMIT\" VALUE=\"" + texts.text(UiText::WelcomeApply) +
            "\"></td>\r </tr>\r";
    page += spacerRow(5) + bevel(host) + spacerRow(2);
    page += textRow(host, texts.text(UiText::WelcomeAbout));
    page += spacerRow(2) + bevel(host) + spacerRow(5);
    page += " <tr height=\"100%\" valign=\"top\">\r"
            "  <td><img src=\"/$int/blank.gif\" border=\"0\" alt=\"\" width=\"16\"></td>\r";
    const std::string maker(kMakerAddress);
    page += "  <td class=\"note\" style=\"border-right:1px solid " +
            htmlColor(host, ColorRole::ButtonShadow) + ";\">" + texts.text(UiText::CreditLine) +
            " " + std::string(kMakerName) + "<br>\r<a href=\"" + maker +
            "\" target=\"DUNMERE\"><img src=\"/$int/banner.gif\" border=\"0\" alt=\"" + maker +
            "\"></a></td>\r";
    const std::string vendor = texts.text(UiText::VendorAddress);
    page += "  <td class=\"note\" style=\"border-left:1px solid " +
            htmlColor(host, ColorRole::ButtonHighlight) + ";\">" +
            texts.text(UiText::TrademarkNotice) + "<br>\r<a href=\"" + vendor +
            "\" target=\"PELORIN\"><img src=\"/$int/pelorin.gif\" border=\"0\" alt=\"" + vendor +
            "\"></a></td>\r";
    page += " </tr>\r</table>\r</FORM>\r</body>\r</html>";
    return page;
}

// The page that sends the browser on to the start page (with its parameters). The start page
// comes from the settings file, which may hold any text ("/evil.example/" makes "//evil.example/"),
// so the address is kept on this server here as well.
std::string redirectPage(const Settings& settings) {
    std::string target = htmlEscape(sameServerTarget("/" + settings.staticSite));
    if (!settings.staticParameter.empty())
        target += "?" + htmlEscape(settings.staticParameter);
    return refreshPage(target);
}

std::string unassignedEventPage(const Exchange& ex) {
    // A large templates folder takes a while to read: other requests and the window go on
    // meanwhile. The folder is the request's own copy.
    std::vector<std::string> templates;
    runUnlocked(ex.state.mutex,
                [&templates, &ex] { templates = sortedFileNames(ex.paths.templateFolder); });
    const LanguageTexts& texts = ex.texts;
    // The title in the chosen language: the log row of this answer carries the same text.
    std::string page = pageHead(texts.text(UiText::LogNoTemplateAssigned));
    page += controlPageBody(ex.host, {}, {.background = ColorRole::WindowBackground});
    page += "<FORM ACTION=\"/$int/SetTemplate.html\" NAME=\"SetTemplate\" METHOD=\"GET\">\r";
    page += ex.event.empty() ? texts.text(UiText::NoEntryTemplate)
                             : texts.format(UiText::EventWithoutTemplate,
                                            windows1252PageText(htmlEscape(ex.event)));
    page += "<br>\r";
    page +=
        "<INPUT TYPE=\"HIDDEN\" NAME=\"REF\" VALUE=\"" + htmlEscape(ex.request.referer) + "\">\r";
    page +=
        "<INPUT TYPE=\"HIDDEN\" NAME=\"URL\" VALUE=\"" + htmlEscape(ex.request.document) + "\">\r";
    page += "<INPUT TYPE=\"HIDDEN\" NAME=\"QUERY\" VALUE=\"" + htmlEscape(ex.request.rawQuery) +
            "\">\r";
    page += "<INPUT TYPE=\"HIDDEN\" NAME=\"EVENT\" VALUE=\"" + htmlEscape(ex.event) + "\">\r";
    page += "<Select name=\"TEMPLATE\">\r";
    // The page goes out as Windows-1252: a UTF-8 site's names are shown as character references,
    // while the form's values keep the site's own bytes (the browser sends back what it read).
    for (const std::string& name : templates) {
        const std::string escaped = htmlEscape(name);
        page += "<OPTION VALUE=\"" + escaped + "\">" + windows1252PageText(escaped) + "</OPTION>\r";
    }
    page += "</Select>\r";
    page += "<INPUT CLASS=\"btn\" TYPE=\"SUBMIT\" VALUE=\"" + texts.text(UiText::AssignButton) +
            "\">\r";
    page += "</FORM>\r</body>\r</html>";
    return page;
}

namespace {

// The offsets last read, with the identity the settings file had before that read: a page whose
// settings file is still that file takes them from here instead of parsing the whole file (which
// holds every variable) again. Kept only once the file has settled (file times are coarse).
struct KeptOffsets {
    std::mutex mutex;
    std::string path;
    FileIdentity identity;
    long long horizontal = 0;
    long long vertical = 0;
    bool valid = false;
};

KeptOffsets& keptOffsets() {
    static KeptOffsets kept;
    return kept;
}

} // namespace

void PopupOffsets::read() const {
    if (read_)
        return;
    read_ = true;
    if (state_.settingsPath.empty())
        return;
    const std::string path = state_.settingsPath.string();
    const std::optional<FileIdentity> found = regularFileIdentity(path);
    if (!found)
        return; // no settings file: the defaults, as loading it would give
    const FileIdentity& identity = *found;
    KeptOffsets& kept = keptOffsets();
    {
        const std::lock_guard lock(kept.mutex);
        if (kept.valid && kept.path == path && kept.identity == identity) {
            horizontal_ = kept.horizontal;
            vertical_ = kept.vertical;
            return;
        }
    }
    ProfileFile file;
    if (!file.load(state_.settingsPath))
        return;
    horizontal_ = popupOffset(file, "SiteLogHorizontal", horizontal_);
    vertical_ = popupOffset(file, "SiteLogVertical", vertical_);
    if (!identity.settled())
        return;
    const std::lock_guard lock(kept.mutex);
    kept.path = path;
    kept.identity = identity;
    kept.horizontal = horizontal_;
    kept.vertical = vertical_;
    kept.valid = true;
}

std::string injectSiteLogScript(const PopupOffsets& offsets, std::string_view line) {
    const std::size_t close = findIgnoreCase(line, "</title>");
    if (close == std::string_view::npos)
        return std::string(line);
    const std::size_t split = close + 8;
    return std::string(line.substr(0, split)) + "<script language=\"javascript\">" +
           siteLogPopupScript(offsets) + "</script>" + std::string(line.substr(split));
}

std::string siteLogPopupScript(const PopupOffsets& offsets) {
    const long long h = offsets.horizontal();
    const long long v = offsets.vertical();
    return "var PLSiteLog = window.open(\"/$int/SiteLog.html\",\"PLSiteLog\",\"width=200,"
           "height=268,left=\"+String(screen.width - " +
           std::to_string(h + 200) + ")+\",top=\"+String(screen.height - " +
           std::to_string(v + 268) +
           ")+\",menubar=no,status=no,resizable=no\");\rPLSiteLog.focus();";
}

std::string popSiteListBlock(const PopupOffsets& offsets) {
    return "<script language=\"javascript\">function PopSiteList(){" + siteLogPopupScript(offsets) +
           "}</script>";
}

std::string varListPopupScript(const PopupOffsets& offsets) {
    const long long h = offsets.horizontal();
    const long long v = offsets.vertical();
    return "<script language=\"javascript\">\rfunction PopVarList()\r{\rvar PLVarList = "
           "window.open(\"/$int/VarList.html\",\"PLVarList\",\"width=350,height=320,left=\"+"
           "String(screen.width - " +
           std::to_string(h + 350) + ")+\",top=\"+String(screen.height - 320 - " +
           std::to_string(2 * v + 268) +
           ")+\",menubar=no,status=no,resizable=yes\");\rPLVarList.focus();\r}\r</script>\r";
}

} // namespace pelotest

// The control page under "/$int": buttons for the log and variables pop-ups, the choice of a
// start page, and the two folder browsers.

#include "language/UiTexts.h"
#include "pages/Pages.h"
#include "pages/PopupPages.h"
#include "server/Encoders.h"
#include "server/PageSkeleton.h"
#include "server/ServerPages.h"
#include "server/StaticFiles.h"
#include "state/TextCase.h"

#include <string>
#include <vector>

namespace pelotest {
namespace {

std::string blankImage(int width, int height) {
    return "<img src=\"/$int/blank.gif\" border=\"0\" alt=\"\" width=\"" + std::to_string(width) +
           "\" height=\"" + std::to_string(height) + "\">";
}

// A form button whose icon is its background picture; the caption follows one blank.
std::string button(const std::string& caption, const std::string& onClick,
                   const std::string& image) {
    return "<INPUT CLASS=\"btn\" TYPE=\"BUTTON\" VALUE=\" " + caption + "\" onClick=\"" + onClick +
           "\" style=\"background-image:url(/$int/" + image +
           ");background-repeat:no-repeat;width:80pt;\">";
}

// An etched line between the parts of the page: a gap, a shadow line and a highlight line.
std::string separatorRows(const Host& host) {
    return " <tr height=\"2\">\r  <td>" + blankImage(1, 2) + "</td>\r </tr>\r" + " <tr bgcolor=\"" +
           htmlColor(host, ColorRole::ButtonShadow) + "\" height=\"1\">\r  <td>" +
           blankImage(1, 1) + "</td>\r </tr>\r" + " <tr bgcolor=\"" +
           htmlColor(host, ColorRole::ButtonHighlight) + "\" height=\"1\">\r  <td>" +
           blankImage(1, 1) + "</td>\r </tr>\r";
}

// The folder goes into the frame's query as the file list writes its own folder links, so that a
// name holding '%', '&', '+' or '#' opens that folder and not another.
std::string folderBrowserRow(const std::string& path, int type) {
    return " <tr>\r  <td height=\"50%\"><iframe src=\"/$int/FileList.html?PATH=" +
           queryLinkValue(path) + "&TYPE=" + std::to_string(type) +
           "\" width=\"100%\" height=\"100%\" frameborder=\"0\" marginheight=\"0\" "
           "marginwidth=\"0\" topmargin=\"0\" leftmargin=\"0\" scrolling=\"yes\" "
           "name=\"VARLIST\"></iframe></td>\r </tr>\r";
}

std::string goStartScript(bool withSiteList) {
    std::string script = "<script language=\"JavaScript\">\rfunction GoStart()\r{\r"
                         "var MyURL = document.URL.toLowerCase();\r"
                         "MyURL = MyURL.substr(0,MyURL.indexOf(\"/$int\"));\r";
    if (withSiteList)
        script += "MyURL = MyURL + \"/\" + document.AUSWAHL.SITES.options["
                  "document.AUSWAHL.SITES.selectedIndex].value;\r";
    script += "window.open(MyURL,\"_self\");\r}\r</script>\r";
    return script;
}

// The information link beside the templates folder appears when substitution or normalisation
// changed the folder as configured: the shown folder then differs from the setting both whole
// and without its last character.
bool templateFolderDiffers(const std::string& templateFolder, const std::string& dynamicPath) {
    const std::string shown = toLower(templateFolder);
    const std::string configured = toLower(dynamicPath);
    const std::string configuredCut =
        configured.substr(0, configured.empty() ? 0 : configured.size() - 1);
    return shown != configured && shown != configuredCut;
}

} // namespace

void answerControlPage(Exchange& ex) {
    // The settings the page shows, copied: the static folder is listed without the lock, and the
    // page shows them as they were when its paths were computed, whatever changes meanwhile.
    const bool withSiteList = ex.state.settings.staticSite.empty();
    const std::string staticPath = ex.state.settings.staticPath;
    const std::string dynamicPath = ex.state.settings.dynamicPath;
    const std::string& templateFolder = ex.paths.templateFolder;
    std::vector<std::string> startPages;
    // A large static folder takes a while to read: other requests and the window go on meanwhile.
    if (withSiteList)
        runUnlocked(ex.state.mutex,
                    [&startPages, &staticPath] { startPages = startPageChoices(staticPath); });

    std::string page = controlPageHead();
    page += "<title>" + ex.host.caption() + "</title>\r";
    page += popSiteListBlock(ex.popupOffsets);
    page += varListPopupScript(ex.popupOffsets);
    page += goStartScript(withSiteList);
    page += "</head>\r";
    page += controlPageBody(ex.host);

    page += "<FORM NAME=\"AUSWAHL\"><table border=\"0\" cellspacing=\"0\" cellpadding=\"0\" "
            "width=\"100%\" height=\"100%\">\r";
    page += " <tr height=\"16\">\r  <td>";
    page += button(ex.texts.text(UiText::TabLog), "PopSiteList();", "log.gif");
    page += blankImage(1, 1);
    page += button(ex.texts.text(UiText::TabVariables), "PopVarList();", "Img5.gif");
    page += blankImage(1, 1);
    if (withSiteList) {
        page += blankImage(5, 1);
        page += "<SELECT NAME=\"SITES\">";
        for (const std::string& name : startPages) {
            const std::string escaped = htmlEscape(name);
            page += "<OPTION VALUE=\"" + escaped + "\">" + escaped + "</OPTION>";
        }
        page += "</SELECT>";
    }
    page += button(ex.texts.text(UiText::ControlStart), "GoStart();", "run.gif");
    page += "</td>\r </tr>\r";

    page += separatorRows(ex.host);
    page += " <tr>\r  <td><b>" + ex.texts.text(UiText::ControlDynamicSites) + "</b> " +
            htmlEscape(templateFolder);
    if (templateFolderDiffers(templateFolder, dynamicPath))
        page += "&nbsp;<a href=\"JavaScript:alert('" + ex.texts.text(UiText::DynamicPathNotice) +
                "');\"><img src=\"/$int/info.gif\" width=\"11\" height=\"11\" border=\"0\" alt=\"" +
                ex.texts.text(UiText::InfoCaption) + "\"></a>";
    page += "</td>\r </tr>\r";
    page += folderBrowserRow(templateFolder, 0);

    page += separatorRows(ex.host);
    page += " <tr>\r  <td><b>" + ex.texts.text(UiText::ControlStaticSites) +
            "</b> <span id=\"path\">" + htmlEscape(staticPath) + "</span></td>\r </tr>\r";
    page += folderBrowserRow(staticPath, 1);

    page += "</table></FORM>\r</body>\r</html>";
    ex.response.contentType = "text/html";
    ex.response.body = std::move(page);
}

} // namespace pelotest

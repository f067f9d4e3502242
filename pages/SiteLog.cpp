// "/$int/SiteLog.html": the pop-up of the pages served last (templates and static pages), each a
// link into the editor, with a countdown that reloads the page.

#include "language/UiTexts.h"
#include "pages/EditorPath.h"
#include "pages/Pages.h"
#include "pages/PopupPages.h"
#include "server/Encoders.h"
#include "server/PageSkeleton.h"
#include "server/ServerPages.h"
#include "state/DisplayText.h"

#include <string>

namespace pelotest {
namespace {

constexpr int kShownLines = 15;

const char* const kBlank1x1 = "<img src=\"/$int/blank.gif\" width=\"1\" height=\"1\">";

// A row of height 1 across the three columns of the frame table.
std::string fullWidthLine(const std::string& color) {
    return " <tr height=\"1\" bgcolor=\"" + color + "\">\r  <td colspan=\"3\">" + kBlank1x1 +
           "</td>\r </tr>\r";
}

// A row on white between the two one-pixel frame cells in button shadow.
std::string framedRow(const std::string& height, const std::string& shadow,
                      const std::string& middleCell) {
    const std::string frameCell =
        "  <td width=\"1\" bgcolor=\"" + shadow + "\">" + kBlank1x1 + "</td>\r";
    return " <tr height=\"" + height + "\" bgcolor=\"#FFFFFF\">\r" + frameCell + middleCell +
           frameCell + " </tr>\r";
}

std::string head(const Exchange& ex) REQUIRES(ex.state.mutex) {
    const LanguageTexts& texts = ex.texts;
    const std::string reload = std::to_string(ex.state.settings.remoteEditReload);
    std::string page = controlPageHead();
    page += varListPopupScript(ex.popupOffsets);
    page += "<title>" + texts.text(UiText::TabLog) + "</title>\r";
    page += "<META  http-equiv=\"Page-Exit\" CONTENT=\"RevealTrans(Duration=0.5,Transition=5)\">\r";
    page += "<script language=\"javascript\">\r";
    page += "var cnt = " + reload + ";\r";
    page += editSiteFunction(pageStamp());
    page += "function SetCounter() {\r"
            "cnt--;\r"
            "if(cnt>=0)\r"
            " {document.getElementById(\"count\").innerHTML = String(cnt)+\"&nbsp;" +
            texts.text(UiText::PageSecondsUnit) + "\";}\r";
    page += "if(cnt==0)\r"
            " {location.replace(\"/$int/SiteLog.html?Reload=" +
            pageStamp() + "a\");}\r";
    page += "}\r"
            "</script>\r"
            "</head>\r";
    return page;
}

std::string logLines(const AppState& state, const std::string& shadow) REQUIRES(state.mutex) {
    std::string lines;
    int shown = 0;
    const auto& rows = state.log.rows();
    for (std::size_t i = 0; i < rows.size() && shown < kShownLines; ++i) {
        const LogEntry& row = rows[i];
        if (row.kind != LogKind::Template && row.kind != LogKind::StaticPage)
            continue;
        ++shown;
        const std::string cell = "  <td><a class=file href=\"JavaScript:EditSite('" +
                                 editorFormOfPath(row.filePath) + "','" + std::to_string(i) +
                                 "');\"><img src=\"/$int/Img" + std::to_string(row.kind) +
                                 ".gif\" border=\"0\" alt=\"\" width=\"16\" height=\"16\" "
                                 "align=\"top\">&nbsp;" +
                                 windows1252PageText(htmlEscape(row.fileName)) + "</a></td>\r";
        lines += framedRow("16", shadow, cell);
    }
    const std::string empty = "  <td><img src=\"/$int/blank.gif\" width=\"16\" height=\"16\" "
                              "align=\"top\">&nbsp;</td>\r";
    for (; shown < kShownLines; ++shown)
        lines += framedRow("16", shadow, empty);
    return lines;
}

std::string bottom(const Exchange& ex, const std::string& shadow, const std::string& face)
    REQUIRES(ex.state.mutex) {
    const LanguageTexts& texts = ex.texts;
    const std::string reload = std::to_string(ex.state.settings.remoteEditReload);
    std::string part = fullWidthLine(shadow) + fullWidthLine(face);
    part += " <tr height=\"16\" bgcolor=\"" + face + "\">\r";
    part += "  <td colspan=\"3\"><FORM><table border=\"0\" cellspacing=\"0\" cellpadding=\"0\" "
            "width=\"100%\"><tr><td><NOBR>";
    part += pageButton(texts.text(UiText::PageRefresh),
                       "onClick=\"location.replace('/$int/SiteLog.html?Reload=" + pageStamp() +
                           "b');\"",
                       "rel.gif", "90pt");
    part += kBlank1x1;
    part += "<INPUT CLASS=\"btn\" TYPE=\"BUTTON\" VALUE=\"\" onClick=\"PopVarList();\" "
            "style=\"background-image:url(/$int/Img5.gif);background-repeat:no-repeat;"
            "width:16pt;\">";
    part += "</NOBR></td><td align=\"right\"><span class=\"note\" id=\"count\">" + reload +
            "&nbsp;" + texts.text(UiText::PageSecondsUnit) + "</span></td></tr></table></FORM>\r";
    part += "</td>\r"
            " </tr>\r"
            "</table>\r"
            "</body>\r"
            "</html>";
    return part;
}

} // namespace

void answerSiteLog(Exchange& ex) {
    const std::string shadow = htmlColor(ex.host, ColorRole::ButtonShadow);
    const std::string face = htmlColor(ex.host, ColorRole::ButtonFace);

    std::string page = head(ex);
    page += controlPageBody(ex.host, "onLoad=\"window.setInterval('SetCounter();',1000);\"");
    page += "<table border=\"0\" cellspacing=\"0\" cellpadding=\"0\" width=\"100%\" "
            "height=\"100%\">\r";
    page += fullWidthLine(shadow);
    page += framedRow("1", shadow, "  <td width=\"100%\">" + std::string(kBlank1x1) + "</td>\r");
    page += logLines(ex.state, shadow);
    page += bottom(ex, shadow, face);

    ex.response.contentType = "text/html";
    ex.response.body = std::move(page);
}

} // namespace pelotest

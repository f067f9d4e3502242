// "/$int/VarList.html": the variables pop-up. The outer page holds a frame, a reload button and
// the auto-sort check box; the inner page (INT set) lists the variables with links to edit,
// delete and sort them. Each request performs at most one change of the list.

#include "language/UiTexts.h"
#include "pages/Pages.h"
#include "pages/PopupPages.h"
#include "server/Encoders.h"
#include "server/PageSkeleton.h"
#include "server/RequestSafety.h"
#include "state/DisplayText.h"
#include "state/VariableSort.h"

#include <string>
#include <vector>

namespace pelotest {
namespace {

struct VarListRequest {
    std::string INT, DELETE, NAME, VALUE, CHECK, COLUMN;
};

// The page sends names and values UTF-8 encoded (encodeURIComponent); a value is stored in the
// site's encoding.
VarListRequest readRequest(const HttpRequest& request, SiteEncoding encoding) {
    auto value = [&](std::string_view key) { return lastParam(request, key).value_or(""); };
    return {value("INT"),   value("DELETE"), value("NAME"), siteBytes(value("VALUE"), encoding),
            value("CHECK"), value("COLUMN")};
}

// The first row named exactly name (with case: this page tells "a" from "A"). The name comes as
// UTF-8; a row whose name is in the site's Windows-1252 is found by that form of it.
std::optional<std::size_t> findExactly(const VariableTable& table, std::string_view name,
                                       SiteEncoding encoding) {
    const std::string inSiteBytes = siteBytes(name, encoding);
    for (const std::string_view wanted : {name, std::string_view(inSiteBytes)})
        for (std::size_t i = 0; i < table.size(); ++i)
            if (table[i].name == wanted)
                return i;
    return std::nullopt;
}

// Exactly one action, in this order of precedence: DELETE, NAME/VALUE, COLUMN, CHECK. False
// when a new value would pass the size limit of the list (nothing is changed then).
bool performAction(Exchange& ex, const VarListRequest& req) REQUIRES(ex.state.mutex) {
    if (!req.DELETE.empty()) {
        if (const auto row =
                findExactly(ex.state.variables, req.DELETE, ex.state.settings.siteEncoding)) {
            ex.state.variables.remove(*row);
            ex.state.variablesChanged = true;
            ex.host.variablesChanged();
        }
        return true;
    }
    if (!req.NAME.empty()) {
        if (const auto row =
                findExactly(ex.state.variables, req.NAME, ex.state.settings.siteEncoding)) {
            const std::size_t old = ex.state.variables[*row].value.size();
            if (req.VALUE.size() > old &&
                !ex.state.variables.withinLimits(
                    ex.state.variables.size(), ex.state.variables.bytes() - old + req.VALUE.size()))
                return false;
            ex.state.variables.setValue(*row, req.VALUE);
            ex.state.variablesChanged = true;
            ex.host.variablesChanged();
        }
        return true;
    }
    if (!req.COLUMN.empty()) {
        if (req.COLUMN == "1" || req.COLUMN == "2") {
            // Other requests go on while the rows are ordered.
            sortVariablesReleasingLock(ex.state, req.COLUMN == "1" ? VariableColumn::Name
                                                                   : VariableColumn::Value);
            ex.host.variablesChanged();
        }
        return true;
    }
    if (req.CHECK == "true") {
        ex.state.settings.variablesAutoSort = true;
    } else if (req.CHECK == "false") {
        ex.state.settings.variablesAutoSort = false;
        ex.state.variables.resetMarks();
        ex.host.variablesChanged();
    }
    return true;
}

std::string outerPage(const Exchange& ex) REQUIRES(ex.state.mutex) {
    const std::string face = htmlColor(ex.host, ColorRole::ButtonFace);
    std::string page = "<script language=\"JavaScript\">\r"
                       "function DoCheck()\r"
                       "{\r"
                       "if(document.forms[0].AUTOSORT.checked==true)\r"
                       " {location.replace(\"/$int/VarList.html?CHECK=true\");}\r"
                       "else\r"
                       " {location.replace(\"/$int/VarList.html?CHECK=false\");}\r"
                       "}\r"
                       "</script>\r"
                       "</head>\r";
    page += controlPageBody(ex.host);
    page += "<FORM><table border=\"0\" cellspacing=\"0\" cellpadding=\"0\" width=\"100%\" "
            "height=\"100%\">\r"
            " <tr>\r"
            "  <td height=\"100%\"><iframe src=\"/$int/VarList.html?INT=true\" width=\"100%\" "
            "height=\"100%\" frameborder=\"0\" marginheight=\"0\" marginwidth=\"0\" "
            "topmargin=\"0\" leftmargin=\"0\" scrolling=\"yes\" name=\"VARLIST\"></iframe></td>\r"
            " </tr>\r";
    page += " <tr height=\"1\" bgcolor=\"" + face + "\">\r";
    page += "  <td><img src=\"/$int/blank.gif\" width=\"1\" height=\"1\"></td>\r"
            " </tr>\r";
    page += " <tr height=\"16\" bgcolor=\"" + face + "\">\r";
    page += "  <td valign=\"top\"><table border=\"0\" cellspacing=\"0\" cellpadding=\"0\" "
            "border=\"0\"><tr><td>";
    page += pageButton(ex.texts.text(UiText::PageRefresh),
                       "onClick=\"VARLIST.location.replace('/$int/VarList.html?INT=true&Reload=" +
                           pageStamp() + "b');\"",
                       "rel.gif", "90pt");
    page += "<img src=\"/$int/blank.gif\" width=\"1\" height=\"1\"><INPUT class=\"checkbox\" "
            "TYPE=\"CHECKBOX\" NAME=\"AUTOSORT\" VALUE=\"1\" onClick=\"DoCheck();\"";
    page += ex.state.settings.variablesAutoSort ? " CHECKED>" : ">";
    page += "</td><td><a class=\"checkbox\" "
            "href=\"JavaScript:if(document.forms[0].AUTOSORT.checked==true){document.forms[0]."
            "AUTOSORT.checked=false;}else{document.forms[0].AUTOSORT.checked=true;}DoCheck();\">";
    page += ex.texts.text(UiText::AutoSortVariables) + "</a></td></tr></table></td> \r";
    page += " </tr>\r"
            "</table></FORM>\r";
    return page;
}

// The list stays a page a browser can show however large the variables are: each name and
// value is cut after kShownBytes, and rows stop once the page has passed kListedBytes.
constexpr std::size_t kShownBytes = 4096;
constexpr std::size_t kListedBytes = 4 * 1024 * 1024;

std::string shownText(const std::string& text) {
    if (text.size() <= kShownBytes)
        return text;
    std::size_t end = kShownBytes;
    // A UTF-8 text is cut before a character's lead byte, so that it stays UTF-8.
    if (isValidUtf8(text))
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;
    return text.substr(0, end) + "...";
}

int markNumber(Mark mark) {
    switch (mark) {
    case Mark::Passed:
        return 6;
    case Mark::Used:
        return 7;
    case Mark::Plain:
        break;
    }
    return 5;
}

// One row of the list: the mark's picture and the name, then the value, each a link that edits
// the variable.
void appendRow(std::string& page, const Variable& row, const std::string& face,
               const std::string& width) {
    const std::string name = shownText(row.name);
    const std::string value = shownText(row.value);
    const std::string link = "<a class=\"file\" href=\"JavaScript:EditVar('" +
                             windows1252PageText(scriptLinkString(name)) + "','" +
                             windows1252PageText(scriptLinkString(value)) + "');\">";
    page += " <tr>\r";
    page += "  <td style=\"border-bottom:1px solid " + face + ";border-right:1px solid " + face +
            ";\" width=\"" + width + "\">" + link + "<img src=\"/$int/Img" +
            std::to_string(markNumber(row.mark)) +
            ".gif\" border=\"0\" alt=\"\" width=\"16\" height=\"16\">&nbsp;" +
            windows1252PageText(htmlEscape(name)) + "</a></td>\r";
    page += "  <td style=\"border-bottom:1px solid " + face + ";\">" + link +
            windows1252PageText(htmlEscape(value)) + "</a>&nbsp;</td>\r";
    page += " </tr>\r";
}

// The rows the list can show, copied so that the page is built without the lock: the rows stop
// where the page would pass kListedBytes even if no text needed escaping (a row takes at least
// the markup of an empty row and its shown texts), so the page never asks for more.
struct ListedRows {
    std::vector<Variable> rows;
    std::size_t total = 0;
};

ListedRows copyListedRows(const VariableTable& table, std::size_t emptyRowBytes) {
    ListedRows listed;
    listed.total = table.size();
    std::size_t bytes = 0;
    for (const Variable& row : table.rows()) {
        if (bytes > kListedBytes)
            break;
        listed.rows.push_back(Variable{shownText(row.name), shownText(row.value), row.mark});
        bytes += emptyRowBytes + listed.rows.back().name.size() + listed.rows.back().value.size();
    }
    return listed;
}

std::string innerPage(Exchange& ex) REQUIRES(ex.state.mutex) {
    const std::string face = htmlColor(ex.host, ColorRole::ButtonFace);
    const std::string shadow = htmlColor(ex.host, ColorRole::ButtonShadow);
    // Names and answers travel in the query of the address, percent-encoded as UTF-8 whatever
    // the page's encoding, so "a&b" arrives as "a&b" and "日本" as its UTF-8 bytes.
    std::string page = "<script language=\"JavaScript\">\r"
                       "function QueryValue(text)\r"
                       "{\r"
                       "return encodeURIComponent(String(text));\r"
                       "}\r"
                       "function EditVar(name,wert)\r"
                       "{\r";
    page += "wert = prompt(\"" + ex.texts.text(UiText::VarListNewValuePrompt) + "\",wert);\r";
    page += "if(wert != null)\r"
            " {\r"
            " if(wert.toLowerCase() == \"@delete\")\r"
            "  {\r";
    page += "  if(confirm(\"" + ex.texts.text(UiText::VarListDeleteQuestion) + "\")==true)\r";
    page += "   {location.replace(\"/$int/VarList.html?INT=true&DELETE=\"+QueryValue(name)+\""
            "&Reload=" +
            pageStamp() + "\");}\r";
    page += "  }\r"
            " else\r"
            "  {\r";
    page += "  location.replace(\"/$int/VarList.html?INT=true&NAME=\"+QueryValue(name)+\"&VALUE="
            "\"+QueryValue(wert)+\"&Reload=" +
            pageStamp() + "\");\r";
    page += "  }\r"
            " }\r"
            "}\r"
            "function ClickColumn(wert)\r"
            "{\r";
    page +=
        "location.replace(\"/$int/VarList.html?INT=true&COLUMN=\"+wert+\"&Reload=" + pageStamp() +
        "\");\r";
    page += "}\r"
            "</script>\r"
            "</head>\r";
    page += controlPageBody(
        ex.host, {}, {.background = ColorRole::WindowBackground, .margin = 0, .topLeftMargin = 2});
    page += "<table border=\"0\" cellspacing=\"0\" cellpadding=\"0\" width=\"100%\">\r"
            " <tr>\r";
    page += "  <td style=\"border-bottom:1px solid " + shadow + ";border-right:1px solid " +
            shadow + ";\" bgcolor=\"" + face +
            "\">&nbsp;<a class=\"file\" href=\"JavaScript:ClickColumn('1');\">" +
            ex.texts.text(UiText::ColumnVariable) + "</a></td>\r";
    page += "  <td style=\"border-bottom:1px solid " + shadow + ";border-left:1px solid " +
            htmlColor(ex.host, ColorRole::ButtonHighlight) + ";\" bgcolor=\"" + face +
            "\">&nbsp;<a class=\"file\" href=\"JavaScript:ClickColumn('2');\">" +
            ex.texts.text(UiText::ColumnValue) + "</a></td>\r";
    page += " </tr>\r";

    const std::string width = std::to_string(ex.host.variableColumnWidth());
    std::string emptyRow;
    appendRow(emptyRow, Variable{}, face, width);
    const ListedRows listed = copyListedRows(ex.state.variables, emptyRow.size());
    // Requests go on while the rows are turned into markup.
    runUnlocked(ex.state.mutex, [&] {
        std::size_t shown = 0;
        for (const Variable& row : listed.rows) {
            if (page.size() > kListedBytes)
                break;
            ++shown;
            appendRow(page, row, face, width);
        }
        if (shown < listed.total)
            page += " <tr>\r  <td colspan=\"2\">&hellip; (+" +
                    std::to_string(listed.total - shown) + ")</td>\r </tr>\r";
    });
    page += "</table>\r";
    return page;
}

} // namespace

void answerVarList(Exchange& ex) {
    const VarListRequest req = readRequest(ex.request, ex.state.settings.siteEncoding);
    // Editing, deleting, sorting and the auto-sort switch change the state: only this server's
    // own pages may ask for them (a listing alone is harmless and cannot be framed elsewhere).
    const bool asksForChange =
        !req.DELETE.empty() || !req.NAME.empty() || !req.COLUMN.empty() || !req.CHECK.empty();
    if (asksForChange && fromAnotherSite(ex.request))
        return answerCrossSiteRefused(ex.response);
    if (!performAction(ex, req)) {
        return answerTooLarge(ex.response, "This value would make the variables list larger "
                                           "than its limit. Nothing was changed.");
    }

    std::string page = controlPageHead();
    page += "<title>" + ex.texts.text(UiText::TabVariables) + "</title>\r";
    page += req.INT.empty() ? outerPage(ex) : innerPage(ex);
    page += "</body>\r</html>";
    ex.response.contentType = "text/html";
    ex.response.body = std::move(page);
}

} // namespace pelotest

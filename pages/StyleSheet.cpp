#include "pages/StyleSheet.h"

#include "pages/Pages.h"
#include "server/Encoders.h"

#include <initializer_list>
#include <string_view>
#include <utility>

namespace pelotest {
namespace {

constexpr std::string_view kFontFamily = "Verdana, Geneva, Arial, Helvetica, sans-serif";

using Declaration = std::pair<std::string_view, std::string>;

// One rule: the selector list, then a declaration per line; the closing brace follows the last
// declaration directly.
void appendRule(std::string& sheet, std::string_view selectors,
                std::initializer_list<Declaration> declarations) {
    if (!sheet.empty())
        sheet += '\r';
    sheet += selectors;
    sheet += " {";
    for (const auto& [property, value] : declarations) {
        sheet += "\r  ";
        sheet += property;
        sheet += " : ";
        sheet += value;
        sheet += ';';
    }
    sheet += '}';
}

} // namespace

std::string styleSheet(const Host& host) {
    const std::string face = htmlColor(host, ColorRole::ButtonFace);
    const std::string text = htmlColor(host, ColorRole::WindowText);
    const std::string shadow = htmlColor(host, ColorRole::ButtonShadow);
    const std::string highlight = htmlColor(host, ColorRole::ButtonHighlight);
    const std::string window = htmlColor(host, ColorRole::WindowBackground);
    const std::string buttonText = htmlColor(host, ColorRole::ButtonText);
    const std::string font(kFontFamily);

    const auto scrollbarColours = [&] {
        return std::string("\r  scrollbar-base-color : ") + highlight +
               ";\r  scrollbar-3dlight-color : " + highlight +
               ";\r  scrollbar-arrow-color : " + shadow +
               ";\r  scrollbar-darkshadow-color : " + highlight +
               ";\r  scrollbar-face-color : " + face +
               ";\r  scrollbar-highlight-color : " + shadow +
               ";\r  scrollbar-shadow-color : " + shadow +
               ";\r  scrollbar-track-color : " + highlight + ";";
    };

    std::string sheet;
    sheet += "body {\r  width : 100%;\r  height : 100%;\r  font-family : " + font +
             ";\r  font-size : 9pt;\r  text-decoration : none;\r  color : " + text + ";" +
             scrollbarColours() + "\r  overflow : auto;\r  border-style : none;}";
    appendRule(sheet, "input, select, iframe",
               {{"font-family", font},
                {"font-size", "9pt"},
                {"text-decoration", "none"},
                {"color", text},
                {"background-color", window},
                {"border", "1px solid " + shadow}});
    appendRule(sheet, "input.checkbox",
               {{"font-family", font},
                {"font-size", "9pt"},
                {"text-decoration", "none"},
                {"color", buttonText},
                {"background-color", face},
                {"border-style", "none"}});
    appendRule(sheet, "input.btn",
               {{"font-family", font},
                {"font-size", "9pt"},
                {"text-decoration", "none"},
                {"color", buttonText},
                {"background-color", face},
                {"border-left", "1px solid " + highlight},
                {"border-right", "1px solid " + shadow},
                {"border-top", "1px solid " + highlight},
                {"border-bottom", "1px solid " + shadow}});
    // The text area's border is written without blanks round the colon, unlike every other
    // declaration.
    sheet += "\rtextarea {\r  font-family : Courier;\r  font-size : 9pt;\r  text-decoration : "
             "none;\r  color : " +
             text + ";\r  background-color : " + window + ";\r  border:1px solid " + shadow + ";" +
             scrollbarColours() + "}";
    appendRule(sheet, "td, option, a.file, a.checkbox",
               {{"font-family", font},
                {"font-size", "9pt"},
                {"text-decoration", "none"},
                {"color", text}});
    appendRule(sheet, "a.control",
               {{"font-family", font},
                {"font-size", "9pt"},
                {"text-decoration", "underline"},
                {"color", text}});
    appendRule(sheet, "span.note, td.note",
               {{"font-family", font},
                {"font-size", "8pt"},
                {"text-decoration", "none"},
                {"color", shadow}});
    appendRule(sheet, "a.file:hover",
               {{"font-family", font},
                {"font-size", "9pt"},
                {"text-decoration", "none"},
                {"color", text},
                {"font-weight", "bold"}});
    return sheet;
}

void answerStyleSheet(Exchange& ex) {
    ex.response.contentType = "text/css";
    ex.response.body = styleSheet(ex.host);
}

} // namespace pelotest

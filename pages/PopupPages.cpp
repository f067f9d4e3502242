#include "pages/PopupPages.h"
#include "platform/Calendar.h"

#include "server/Encoders.h"
#include "state/HexDigits.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace pelotest {

std::string pageStamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localCalendarTime(seconds, local);
    char text[96];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}

std::string pageButton(std::string_view caption, std::string_view onClick, std::string_view image,
                       std::string_view width) {
    std::string button = "<INPUT CLASS=\"btn\" TYPE=\"BUTTON\" VALUE=\" ";
    button += caption;
    button += "\" ";
    button += onClick;
    button += " style=\"background-image:url(/$int/";
    button += image;
    button += ");background-repeat:no-repeat;width:";
    button += width;
    button += ";\">";
    return button;
}

namespace {
void appendPercent(std::string& out, unsigned char c) {
    out += '%';
    appendHexByte(out, c);
}
} // namespace

std::string scriptAttributeString(std::string_view text) {
    return htmlEscape(scriptStringEscape(text));
}

std::string scriptLinkString(std::string_view text) {
    std::string percentSafe;
    for (char c : scriptStringEscape(text)) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '%' || u < 0x20 || u == 0x7F)
            appendPercent(percentSafe, u);
        else
            percentSafe += c;
    }
    return htmlEscape(percentSafe);
}

std::string queryLinkValue(std::string_view text) {
    std::string encoded;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '%' || c == '&' || c == '#' || c == '+' || u < 0x20 || u == 0x7F)
            appendPercent(encoded, u);
        else
            encoded += c;
    }
    return htmlEscape(encoded);
}

std::string editSiteFunction(std::string_view stamp) {
    std::string f = "function EditSite(site,num) {\r"
                    "var MyNow = new Date();\r"
                    "var PLSiteEdit = window.open(\"/$int/SiteEdit.html?site=\"+site+\"&Reload=\"+"
                    "String(Date.UTC(MyNow)),\"PLSiteEdit";
    f += stamp;
    f += "\"+num,\"width=600,height=450,menubar=no,status=yes,resizable=yes\");\r"
         "PLSiteEdit.focus();\r"
         "}\r";
    return f;
}

} // namespace pelotest

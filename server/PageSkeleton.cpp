#include "server/PageSkeleton.h"

#include "server/Encoders.h"

namespace pelotest {

std::string controlPageHead(std::string_view beforeLink) {
    std::string head = "<html>\r<head>\r";
    head += beforeLink;
    head += "<LINK REL=\"StyleSheet\" HREF=\"/$int/styles.css\" type=\"text/css\">\r";
    return head;
}

std::string pageHead(std::string_view title) {
    return controlPageHead() + "<title>" + std::string(title) + "</title>\r</head>\r";
}

std::string controlPageBody(const Host& host, std::string_view extraAttributes,
                            const PageBodyLook& look) {
    const std::string margin = std::to_string(look.margin);
    const std::string topLeft =
        look.topLeftMargin < 0 ? margin : std::to_string(look.topLeftMargin);
    std::string body = "<body bgcolor=\"" + htmlColor(host, look.background) + "\" text=\"" +
                       htmlColor(host, ColorRole::WindowText) + "\" marginheight=\"" + margin +
                       "\" marginwidth=\"" + margin + "\" topmargin=\"" + topLeft +
                       "\" leftmargin=\"" + topLeft + "\"";
    if (!extraAttributes.empty()) {
        body += ' ';
        body += extraAttributes;
    }
    body += ">\r";
    return body;
}

std::string refreshPage(std::string_view address) {
    return "<html>\r<head>\r<meta http-equiv=\"pragma\" content=\"no-cache\">\r"
           "<meta http-equiv=\"Refresh\" content=\"0;URL=" +
           std::string(address) + "\">\r</head>\r<body></body>\r</html>";
}

std::string refusalPage(std::string_view status, std::string_view text) {
    const std::string s(status);
    return "<html><head><title>" + s + "</title></head><body><h1>" + s + "</h1><p>" +
           std::string(text) + "</p></body></html>";
}

void answerTooLarge(HttpResponse& response, std::string_view why) {
    response.status = 413;
    response.contentType = "text/html";
    response.body = refusalPage("413 Payload Too Large", why);
    response.file.reset();
}

} // namespace pelotest

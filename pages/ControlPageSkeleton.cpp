#include "pages/ControlPageSkeleton.h"

#include "server/Encoders.h"

namespace pelotest {

std::string controlPageHead(std::string_view beforeLink) {
    std::string head = "<html>\r<head>\r";
    head += beforeLink;
    head += "<LINK REL=\"StyleSheet\" HREF=\"/$int/styles.css\" type=\"text/css\">\r";
    return head;
}

std::string controlPageBody(const Host& host, std::string_view extraAttributes) {
    std::string body = "<body bgcolor=\"" + htmlColor(host, ColorRole::ButtonFace) + "\" text=\"" +
                       htmlColor(host, ColorRole::WindowText) +
                       "\" marginheight=\"2\" marginwidth=\"2\" topmargin=\"2\" leftmargin=\"2\"";
    if (!extraAttributes.empty()) {
        body += ' ';
        body += extraAttributes;
    }
    body += ">\r";
    return body;
}

} // namespace pelotest

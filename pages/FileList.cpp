// "/$int/FileList.html": one folder as a list for the control page's frames: its subfolders, its
// editable files (.htm, .html, .js, .css) as links into the editor, and a ".." entry that leads
// up but never above the static or the template folder.

#include "language/UiTexts.h"
#include "pages/EditorPath.h"
#include "pages/Pages.h"
#include "pages/PopupPages.h"
#include "server/Encoders.h"
#include "server/HttpServer.h"
#include "server/PageSkeleton.h"
#include "server/PageText.h"
#include "server/StaticFiles.h"
#include "state/TextCase.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace pelotest {
namespace {

namespace fs = std::filesystem;

// The entries of a folder as the list shows them: "." and ".." first, then the names in
// case-insensitive order (as NTFS returns them), hidden files included, at most
// PageLimits::fileListEntries of them (leftOut counts the rest). An unreadable or missing folder
// gives no entries.
std::vector<FolderEntry> folderEntries(const std::string& folder, std::size_t& leftOut) {
    leftOut = 0;
    auto entries = sortedFolderEntries(folder.empty() ? fs::path("/") : fs::path(folder),
                                       PageLimits::fileListEntries, &leftOut);
    if (!entries)
        return {};
    entries->insert(entries->begin(), {{".", true}, {"..", true}});
    return *entries;
}

// The ".." entry is offered only inside one of the two roots, below it, and when the parent
// folder (cut back to and including its last separator) exists.
std::optional<std::string> parentEntry(const std::string& path, const RequestPaths& paths) {
    const std::string& staticRoot = paths.staticRoot;
    const std::string& templateFolder = paths.templateFolder;
    // An empty static root holds every path; no template folder (none set, or one that a
    // variable moved out of the configured folder) holds none.
    if (!startsWithIgnoreCase(path, staticRoot) &&
        (templateFolder.empty() || !startsWithIgnoreCase(path, templateFolder)))
        return std::nullopt;
    for (const std::string& candidate : {path, path + "/"})
        if (equalsIgnoreCase(candidate, staticRoot) || equalsIgnoreCase(candidate, templateFolder))
            return std::nullopt;
    const std::size_t cut = path.rfind('/');
    if (cut == std::string::npos)
        return std::nullopt;
    std::string parent = path.substr(0, cut + 1);
    std::error_code ec;
    if (!fs::is_directory(parent, ec))
        return std::nullopt;
    return parent;
}

// A link that lists another folder in the same frame and writes it into the control page's
// heading. Paths and names stand in a link's query and in a script string: both are escaped for
// their place, so that any folder name leads to that folder. SetPath puts its argument into the
// heading as markup, so the argument is the folder's markup (HTML-escaped), as is the root it is
// compared with: a folder named like a tag shows as text, and ordinary names are unchanged.
std::string folderRow(const std::string& folder, const std::string& type, std::string_view image,
                      std::string_view text) {
    return " <tr>\r  <td><a class=file href=\"/$int/FileList.html?PATH=" + queryLinkValue(folder) +
           "&TYPE=" + queryLinkValue(type) + "\" onClick=\"SetPath('" +
           scriptAttributeString(htmlEscape(folder)) + "');\"><img src=\"/$int/" +
           std::string(image) + "\" border=\"0\" alt=\"\" width=\"16\" height=\"16\">&nbsp;" +
           htmlEscape(text) + "</a></td>\r </tr>\r";
}

std::string fileRow(const std::string& file, std::size_t number, bool isTemplate,
                    std::string_view name) {
    return " <tr>\r  <td><a class=file href=\"JavaScript:EditSite('" + editorFormOfPath(file) +
           "','" + std::to_string(number) + "');\"><img src=\"/$int/" +
           (isTemplate ? "Img3.gif" : "Img8.gif") +
           "\" border=\"0\" alt=\"\" width=\"16\" height=\"16\">&nbsp;" + htmlEscape(name) +
           "</a></td>\r </tr>\r";
}

std::string pageHead(const Exchange& ex) REQUIRES(ex.state.mutex) {
    std::string page =
        controlPageHead() + "<title>" + ex.texts.text(UiText::FileListTitle) + "</title>\r";
    page += "<script language=\"javascript\">\r";
    page += editSiteFunction(pageStamp());
    page += "var root=\"" + scriptStringEscape(htmlEscape(ex.paths.staticRoot)) + "\";\r";
    page += "var col1=\"" + htmlColor(ex.host, ColorRole::WindowText) + "\";\r";
    page += "var col2=\"" + htmlColor(ex.host, ColorRole::GrayText) + "\";\r";
    page += "function SetPath(path)\r"
            "{\r"
            "if(path==root + \"/\"){path=root;}\r"
            "parent.document.getElementById(\"path\").innerHTML=\"<font color=\\\"\"+col1+"
            "\"\\\">\"+root+\"</font><font color=\\\"\"+col2+\"\\\">\"+path.substr(root.length,"
            "path.length-root.length)+\"</font>\";\r"
            "}\r";
    page += "</script>\r</head>\r";
    page += controlPageBody(ex.host, {}, {.background = ColorRole::WindowBackground});
    page += "<table border=\"0\" cellspacing=\"0\" cellpadding=\"0\" width=\"100%\">\r";
    return page;
}

// The list's rows for folder: "..", subfolders and editable files, then a line that counts the
// entries left out. Needs nothing of the state: it runs without the lock.
std::string folderRows(const std::string& path, const std::string& type,
                       const RequestPaths& paths) {
    const bool templates = type == "0";
    std::size_t leftOut = 0;
    const std::vector<FolderEntry> entries = folderEntries(path, leftOut);
    std::string rows;
    for (std::size_t number = 0; number < entries.size(); ++number) {
        const FolderEntry& entry = entries[number];
        if (entry.name == ".")
            continue;
        if (entry.name == "..") {
            if (const auto parent = parentEntry(path, paths))
                rows += folderRow(*parent, type, "back.gif", "..");
            continue;
        }
        const std::string full = path + "/" + entry.name;
        if (entry.isFolder)
            rows += folderRow(full, type, "folder.gif", entry.name);
        else if (isPageFile(entry.name))
            rows += fileRow(full, number, templates, entry.name);
    }
    if (leftOut > 0)
        rows += " <tr>\r  <td>&hellip; (+" + std::to_string(leftOut) + ")</td>\r </tr>\r";
    return rows;
}

} // namespace

void answerFileList(Exchange& ex) {
    std::string path = lastParam(ex.request, "PATH").value_or("");
    if (!path.empty() && path.back() == '/')
        path.pop_back();
    const std::string type = lastParam(ex.request, "TYPE").value_or("");

    std::string page = pageHead(ex);
    std::string rows;
    // A large folder takes a while to read and to make rows of, and on a slow disk even the look
    // at its parent does: other requests and the window go on meanwhile. The paths are the
    // request's own.
    runUnlocked(ex.state.mutex,
                [&rows, &path, &type, &ex] { rows = folderRows(path, type, ex.paths); });
    page += rows;
    page += "</table>\r</body>\r</html>";
    ex.response.contentType = "text/html";
    ex.response.body = std::move(page);
}

} // namespace pelotest

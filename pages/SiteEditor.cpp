// The remote editor: "/$int/SiteEdit.html" shows a template or static page in a text area,
// "/$int/SiteSave.html" writes the posted text back. Both work only on files inside the static
// root or the template folder; a save must come from this server's own pages and replaces the
// file atomically, so a failed save leaves the old file whole and says why.

#include "language/UiTexts.h"
#include "pages/EditorPath.h"
#include "pages/Pages.h"
#include "pages/PopupPages.h"
#include "server/Encoders.h"
#include "server/FileInfoText.h"
#include "server/HttpServer.h"
#include "server/LiveReload.h"
#include "server/PageSkeleton.h"
#include "server/PageText.h"
#include "server/RequestSafety.h"
#include "state/AtomicFile.h"
#include "state/PathText.h"
#include "state/TextCase.h"

#include <filesystem>
#include <string>

namespace pelotest {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// SiteEdit

std::string editorScript(const LanguageTexts& texts) {
    std::string s = "<script language=\"JavaScript\">\r"
                    "var orig = \"\";\r"
                    "var selectedText = \"\";\r"
                    "var NullTop = -1;\r"
                    "var NullLeft = -1;\r"
                    "var LineHeight = -1;\r"
                    "var CharWidth = -1;\r"
                    "function getActiveText(MyField)\r"
                    "{\r"
                    "  selectedText = (document.all) ? document.selection.createRange().text : "
                    "document.getSelection();\r"
                    "  if (MyField.createTextRange) MyField.caretPos = "
                    "document.selection.createRange().duplicate();\r"
                    "  return true;\r"
                    "}\r"
                    "function GetPosition(MyField)\r"
                    "{\r"
                    "  getActiveText(MyField);\r"
                    "  if (MyField.createTextRange && MyField.caretPos)\r"
                    "  {\r"
                    "    var caretPos = MyField.caretPos;\r"
                    "    if(NullTop == -1) NullTop = caretPos.offsetTop;\r"
                    "    if(NullLeft == -1) NullLeft = caretPos.offsetLeft;\r"
                    "    if(LineHeight == -1) LineHeight = caretPos.boundingHeight;\r"
                    "    if(CharWidth == -1)\r"
                    "    {\r"
                    "      orig = MyField.value;\r"
                    "      caretPos.text = \"~\";\r"
                    "      MyField.value.search(\"~\");\r"
                    "      CharWidth = caretPos.offsetLeft - NullLeft;\r"
                    "      MyField.value = orig;\r"
                    "    }\r";
    s += "    window.status = \"" + texts.text(UiText::EditorLine) +
         " \"+(((caretPos.offsetTop+MyField.scrollTop+document.body.scrollTop-NullTop)/"
         "LineHeight)+1)+\", " +
         texts.text(UiText::EditorColumn) +
         " \"+(((caretPos.offsetLeft+MyField.scrollLeft+document.body.scrollLeft-NullLeft)/"
         "CharWidth)+1);\r";
    s += "  }\r"
         "}\r"
         "function Start(MyField)\r"
         "{\r"
         "  orig = MyField.value;\r"
         "  MyField.focus();\r"
         "  GetPosition(MyField);\r"
         "}\r"
         "function ChkClose()\r"
         "{\r"
         "  if(orig == document.forms[0].SITE.value)\r"
         "   {window.close();}\r";
    s += "  else if(confirm(\"" + texts.text(UiText::EditorSaveChangesQuestion) + "\") == true)\r";
    s += "   {document.forms[0].submit();}\r"
         "  else\r"
         "   {window.close();}\r"
         "}\r"
         "function ChkSave()\r"
         "{\r"
         "  if(orig != document.forms[0].SITE.value)\r"
         "   {return true;}\r"
         "  else\r";
    s += "   {return confirm(\"" + texts.text(UiText::EditorUnchangedSaveQuestion) + "\");}\r";
    s += "}\r"
         "</script>\r";
    return s;
}

// A message page with an icon, a text and one button (the editor's not-found page and the
// save's failure page).
std::string messageBody(const Exchange& ex, std::string_view icon, const std::string& text,
                        const std::string& button) REQUIRES(ex.state.mutex) {
    std::string page = controlPageBody(ex.host, {}, {.margin = 6});
    page += "<table border=\"0\" cellspacing=\"0\" cellpadding=\"2\" width=\"100%\">\r";
    page += " <tr bgcolor=\"" + htmlColor(ex.host, ColorRole::WindowBackground) + "\">\r";
    page += "  <td width=\"36\"><img src=\"/$int/" + std::string(icon) +
            "\" border=\"0\" alt=\"\" width=\"32\" height=\"32\"></td>\r";
    page += "  <td>" + text + "</td>\r </tr>\r";
    page +=
        " <tr>\r  <td colspan=\"2\" align=\"center\"><FORM>" + button + "</FORM></td>\r </tr>\r";
    page += "</table>\r</body>\r</html>";
    return page;
}

std::string backButton(const LanguageTexts& texts) {
    return pageButton(texts.text(UiText::ButtonBack), "onClick=\"history.back();\"", "back.gif",
                      "80pt");
}

std::string notFoundPage(const Exchange& ex, const std::string& path) REQUIRES(ex.state.mutex) {
    std::string page = controlPageHead();
    page += "<title>" + ex.texts.text(UiText::EditorErrorTitle) + "</title>\r</head>\r";
    page +=
        messageBody(ex, "error.jpg", ex.texts.format(UiText::EditorFileNotFound, htmlEscape(path)),
                    backButton(ex.texts));
    return page;
}

// A file too large for the editor: building its page would hold the state for long and make a
// page the size of the file several times over.
std::string tooLargePage(const Exchange& ex, const std::string& path) REQUIRES(ex.state.mutex) {
    std::string page = controlPageHead();
    page += "<title>" + ex.texts.text(UiText::EditorErrorTitle) + "</title>\r</head>\r";
    const std::string text = ex.texts.text(UiText::EditorErrorTitle) + " <b>" + htmlEscape(path) +
                             "</b><br>The editor opens files of up to " +
                             std::to_string(PageLimits::editorFileBytes / (1024 * 1024)) +
                             " MiB; this one is larger. Open it in an editor on this computer.";
    page += messageBody(ex, "error.jpg", text, backButton(ex.texts));
    return page;
}

// The text area's content. A browser drops one line break right after the start tag, so a
// text that begins with an empty line gets one extra break there, which keeps the line.
std::string textAreaContent(std::string_view bytes) {
    std::string text = joinLinesCrLf(splitLines(bytes));
    std::string content = htmlEscape(text);
    if (!text.empty() && (text.front() == '\r' || text.front() == '\n'))
        content.insert(0, "\r\n");
    return content;
}

// The editor's page up to its body tag: made while the state is held, for the host's colours.
std::string editorPageStart(const Exchange& ex, const std::string& path) REQUIRES(ex.state.mutex) {
    const LanguageTexts& texts = ex.texts;
    const bool staticPage = startsWithIgnoreCase(path, ex.paths.staticRoot);
    std::string page = controlPageHead();
    page += "<title>" + htmlEscape(path) + " - " +
            texts.text(staticPage ? UiText::EditorStaticPageTitle : UiText::EditorTemplateTitle) +
            "</title>\r";
    page += editorScript(texts);
    page += "</head>";
    page += controlPageBody(ex.host, "onLoad=\"Start(document.forms[0].SITE);\"");
    return page;
}

// Opens and reads the file at path and, when it could be read, adds the rest of the editor's page
// to page: the form with the file's date, size and text. Needs nothing of the state, so that a
// large file is read and escaped while other requests go on.
EditorFolder::Reading addEditedFile(std::string& page, const std::string& path,
                                    const RequestPaths& paths, const LanguageTexts& texts) {
    const auto folder = EditorFolder::open(path, paths.staticRoot, paths.templateFolder);
    std::string bytes;
    const EditorFolder::Reading reading = folder
                                              ? folder->readFile(bytes, PageLimits::editorFileBytes)
                                              : EditorFolder::Reading::NotAFile;
    if (reading != EditorFolder::Reading::Read)
        return reading;
    page += "<FORM NAME=\"EDITOR\" ACTION=\"/$int/SiteSave.html\" METHOD=\"POST\" "
            "onSubmit=\"return ChkSave();\"><table border=\"0\" cellspacing=\"0\" "
            "cellpadding=\"0\" width=\"100%\" height=\"100%\">\r";
    page += " <tr height=\"18\" valign=\"top\">\r  <td><NOBR>";
    page += "<INPUT CLASS=\"btn\" TYPE=\"SUBMIT\" VALUE=\" " + texts.text(UiText::EditorSave) +
            "\" ACTION=\"submit\" style=\"background-image:url(/$int/save.gif);"
            "background-repeat:no-repeat;width:80pt;\">";
    page += "<img src=\"/$int/blank.gif\" width=\"2\" height=\"1\">";
    page +=
        pageButton(texts.text(UiText::EditorClose), "onClick=\"ChkClose();\"", "abort.gif", "80pt");
    page += "<INPUT TYPE=\"HIDDEN\" NAME=\"FILE\" VALUE=\"" + htmlEscape(path) + "\">";
    page += "</NOBR></td>\r";
    page += "  <td align=\"right\" width=\"100%\"><span class=note>" +
            fileInfoText(texts, folder->file().string()) + "</span></td>\r </tr>\r";
    page += " <tr height=\"2\">\r  <td colspan=\"2\"><img src=\"/$int/blank.gif\" width=\"2\" "
            "height=\"1\"></td>\r </tr>\r";
    page += " <tr height=\"100%\">\r  <td colspan=\"2\">";
    page += "<TEXTAREA NAME=\"SITE\" COLS=\"72\" ROWS=\"31\" WRAP=\"off\" "
            "onkeydown=\"GetPosition(this);\" onkeyup=\"GetPosition(this);\" "
            "onChange=\"GetPosition(this);\" onclick=\"GetPosition(this);\" "
            "onFocus=\"GetPosition(this);\" style=\"width:100%;height:100%;\">";
    page += textAreaContent(bytes);
    page += "</TEXTAREA></td>\r </tr>\r";
    page += "</table>\r</FORM>\r</body>\r</html>";
    return reading;
}

// ---------------------------------------------------------------------------------------------
// SiteSave

std::string failurePage(const Exchange& ex, const std::string& path, const std::string& reason)
    REQUIRES(ex.state.mutex) {
    std::string page = controlPageHead("<meta http-equiv=\"pragma\" content=\"no-cache\">\r");
    page += "<title>" + ex.texts.text(UiText::EditorErrorTitle) + "</title>\r</head>\r";
    const std::string text = ex.texts.text(UiText::EditorErrorTitle) + " <b>" + htmlEscape(path) +
                             "</b><br>" + htmlEscape(reason);
    page += messageBody(ex, "error.jpg", text, backButton(ex.texts));
    return page;
}

void answerFailure(Exchange& ex, int status, const std::string& path, const std::string& reason)
    REQUIRES(ex.state.mutex) {
    ex.response.status = status;
    ex.response.contentType = "text/html";
    ex.response.body = failurePage(ex, path, reason);
}

// The saved file, or the status and the reason of a save that did not happen.
struct SavedFile {
    std::string file;
    int failureStatus = 0;
    std::string failure;
};

// Writes the posted text to the file at path, which must lie inside one of the two roots; the old
// file is replaced atomically. Needs nothing of the state.
SavedFile saveEditedFile(const HttpRequest& request, const RequestPaths& paths,
                         const std::string& path) {
    const auto file = confinedEditorFile(path, paths.staticRoot, paths.templateFolder);
    if (!file)
        return {{},
                403,
                "Not saved: only files inside the static folder or the template folder can be "
                "saved."};
    std::error_code ec;
    if (!fs::is_directory(file->parent_path(), ec))
        return {{}, 500, "Not saved: the folder does not exist."};
    const auto folder = EditorFolder::open(path, paths.staticRoot, paths.templateFolder);
    if (!folder)
        return {{}, 500, "Not saved: the folder changed while saving."};
    std::error_code statusError;
    const FileKind there =
        statusInFolder(folder->folder(), folder->name(), Links::DoNotFollowLast, statusError).kind;
    if (there != FileKind::Missing && there != FileKind::Regular)
        return {{}, 500, "Not saved: this is not a file."};
    const std::string text = lastParam(request, "SITE").value_or("");
    if (const auto failure =
            replaceFileAt(folder->folder(), folder->name(), withCrLfLineEnds(text)))
        return {{}, 500, "Not saved: " + *failure};
    return {file->string(), 0, {}};
}

std::string confirmationPage(const Exchange& ex, const std::string& path) REQUIRES(ex.state.mutex) {
    const LanguageTexts& texts = ex.texts;
    std::string page = controlPageHead("<meta http-equiv=\"pragma\" content=\"no-cache\">\r");
    page += "<title>" + htmlEscape(fileNamePart(path)) + " - " +
            texts.text(UiText::EditorSavedTitle) + "</title>\r</head>\r";
    page += controlPageBody(ex.host,
                            "onLoad=\"window.resizeTo(400,200);window.moveTo(Math.round(screen."
                            "width/2)-290,Math.round(screen.height/2)-100);window.setTimeout("
                            "'window.close();',10000);\"",
                            {.margin = 6});
    page += "<table border=\"0\" cellspacing=\"0\" cellpadding=\"2\" width=\"100%\" "
            "height=\"100%\" align=\"center\">\r";
    page += " <tr bgcolor=\"" + htmlColor(ex.host, ColorRole::WindowBackground) + "\">\r";
    page += "  <td width=\"36\"><img src=\"/$int/information.jpg\" border=\"0\" alt=\"\" "
            "width=\"32\" height=\"32\"></td>\r";
    page += "  <td>" + texts.format(UiText::EditorFileSaved, htmlEscape(path)) + "</td>\r </tr>\r";
    page += " <tr>\r  <td colspan=\"2\" align=\"center\"><FORM>" +
            pageButton(texts.text(UiText::EditorSavedOk), "onClick=\"window.close();\"", "yes.gif",
                       "40pt") +
            "</FORM></td>\r </tr>\r";
    page += "</table>\r</body>\r</html>";
    return page;
}

} // namespace

void answerSiteEdit(Exchange& ex) {
    const std::string path = pathFromEditorForm(firstParam(ex.request, "site").value_or(""));
    std::string page = editorPageStart(ex, path);
    EditorFolder::Reading reading = EditorFolder::Reading::NotAFile;
    // Other requests and the window go on while the file is read and its part of the page made;
    // the paths are the request's own.
    runUnlocked(ex.state.mutex, [&page, &reading, &path, &ex] {
        reading = addEditedFile(page, path, ex.paths, ex.texts);
    });
    ex.response.contentType = "text/html";
    switch (reading) {
    case EditorFolder::Reading::NotAFile:
        ex.response.body = notFoundPage(ex, path);
        return;
    case EditorFolder::Reading::TooLarge:
        ex.response.body = tooLargePage(ex, path);
        return;
    case EditorFolder::Reading::Read:
        break;
    }
    ex.response.body = std::move(page);
}

void answerSiteSave(Exchange& ex) {
    const std::string path = lastParam(ex.request, "FILE").value_or("");
    if (ex.request.method != "POST")
        return answerFailure(ex, 405, path, "Only the editor's form (method POST) can save.");
    if (fromAnotherSite(ex.request))
        return answerFailure(ex, 403, path, "Refused: the form was sent from another site.");
    SavedFile saved;
    // The checks of the path and the write wait for the disk (the write until the data is on
    // it): other requests and the window go on meanwhile. The paths are the request's own.
    runUnlocked(ex.state.mutex,
                [&saved, &path, &ex] { saved = saveEditedFile(ex.request, ex.paths, path); });
    if (saved.failureStatus != 0)
        return answerFailure(ex, saved.failureStatus, path, saved.failure);
    if (ex.live)
        ex.live->fileWritten(saved.file);

    ex.response.contentType = "text/html";
    ex.response.body = confirmationPage(ex, path);
}

} // namespace pelotest

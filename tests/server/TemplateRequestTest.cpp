#include "server/TemplateRequest.h"
#include "app/HeadlessHost.h"

#include "support/TempDir.h"
#include "support/TestData.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <unistd.h>

namespace pelotest {
namespace {

using test::TempDir;

// The headless host (classic colours), counting the change notifications.
class ClassicHost : public HeadlessHost {
  public:
    explicit ClassicHost(const AppState& state) : HeadlessHost(state) {}
    void treeChanged() override { ++trees; }
    void logChanged() override { ++logs; }

    int trees = 0, logs = 0;
};

// Child texts of a node, in order.
std::vector<std::string> childTexts(const TreeNode& node) {
    std::vector<std::string> texts;
    for (const auto& child : node.children)
        texts.push_back(child->text);
    return texts;
}

// ---------------------------------------------------------------------------------------------
// Matching and resolution

TEST(TemplateResolution, MatchingRuleReadsAfterTheSeparatorOverTheEventsLength) {
    struct Case {
        std::string node, event;
        bool matches;
    };
    const Case cases[] = {
        {"liste.htm (ShowList)", "Show", true},
        {"liste.htm (ShowList)", "ShowList", true},
        {"liste.htm (ShowList)", "ShowList)", true},
        {"liste.htm (ShowList)", "ShowList) ", false},
        {"a.htm (Save)", "save", false},
        {"Save", "Save", false}, // an unassigned node is read from its second character
        {"XSave", "Save", true},
        {"", "x", false},
        {"a.htm (", "x", false},
        {"a (b) (c)", "b) (c", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(nodeMatchesEvent(c.node, c.event), c.matches) << c.node << " / " << c.event;
}

class TemplateFolder : public ::testing::Test {
  protected:
    TempDir dir;
    std::string folder = (dir.path() / "tmpl").string();
    AppState state;
    ClassicHost host{state};

    std::string file(const std::string& relative, const std::string& content = "x") {
        return dir.write("tmpl/" + relative, content).string();
    }
};

TEST_F(TemplateFolder, ResolutionPicksTheFirstMatchingNodeInTreeOrder) {
    file("a.htm");
    file("b.htm");
    file("c.htm");
    TreeNode& root = state.tree.appendRoot("start.htm");
    TreeNode& first = root.appendChild("Login");
    first.appendChild("c.htm (ShowDetail)"); // depth first: before the later siblings
    root.appendChild("a.htm (ShowList)");
    root.appendChild("b.htm (Show)");
    root.appendChild("XSave");
    root.appendChild("a.htm (Save)");
    root.appendChild("gone.htm (Gone)");
    root.appendChild("../a.htm (Escape)");
    root.appendChild(" (Empty)");

    struct Case {
        std::string event;
        std::string node;      // "" when no node matches
        std::string template_; // "" when there is no template to render
    };
    const Case cases[] = {
        {"Show", "c.htm (ShowDetail)", "c.htm"},
        {"ShowList", "a.htm (ShowList)", "a.htm"},
        {"Save", "XSave", ""},
        {"Gone", "gone.htm (Gone)", ""},
        {"Escape", "../a.htm (Escape)", ""},
        {"Empty", " (Empty)", ""},
        {"Unknown", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.event);
        const TemplateMatch match = resolveTemplate(state, folder, c.event);
        EXPECT_EQ(match.node ? match.node->text : "", c.node);
        EXPECT_EQ(match.templatePath.value_or(""),
                  c.template_.empty() ? "" : folder + "/" + c.template_);
    }
}

TEST_F(TemplateFolder, ResolutionWithoutEventTakesTheFirstNode) {
    EXPECT_EQ(resolveTemplate(state, folder, "").node, nullptr) << "empty tree";

    file("sub/start.htm");
    TreeNode& root = state.tree.appendRoot("sub\\start.htm");
    state.tree.appendRoot("other.htm");
    TemplateMatch match = resolveTemplate(state, folder, "");
    EXPECT_EQ(match.node, &root);
    EXPECT_EQ(match.templatePath.value_or(""), folder + "/sub/start.htm");

    root.text = "missing.htm";
    match = resolveTemplate(state, folder, "");
    EXPECT_EQ(match.node, &root);
    EXPECT_FALSE(match.templatePath);

    root.text = "sub"; // a folder is no template
    EXPECT_FALSE(resolveTemplate(state, folder, "").templatePath);
}

// ---------------------------------------------------------------------------------------------
// Event discovery

TEST(EventDiscovery, ValueAfterTheFirstParameterName) {
    const std::pair<std::string, std::string> cases[] = {
        {"<a href=\"liste.htm?PELO_EVENT=ShowList&id=1\">", "ShowList"},
        {"<input type=hidden name=\"PELO_EVENT\" value=\"Save\">", "Save"},
        {"<input type=hidden name=PELO_EVENT value=Save>", "Save>"},
        {"var e = 'PELO_EVENT' + ev;", "' + ev;"},
        {"url + \"?PELO_EVENT\"", "\""},
        {"?PELO_EVENT= Next &x", "Next"},
        {"?PELO_EVENT=\t\"Quoted Value\" >", "Quoted Value"},
        {"value=\"\"x\"", ""},            // no parameter name at all
        {"?PELO_EVENT=\"\"x\"", "\"x\""}, // a quote at the very start is not cut
        {"?PELO_EVENT=&x=1", ""},
        {"x PELO_EVENT", ""},
        {"?pelo_event=Lower", ""}, // the name is matched with its case
        {"PELO_EVENT PELO_EVENT=Second", "Second"},
        {"PELO_EVENT=A PELO_EVENT=B", "A PELO_EVENT=B"},
    };
    for (const auto& [line, event] : cases)
        EXPECT_EQ(discoveredEvent(line, "PELO_EVENT"), event) << line;
    EXPECT_EQ(discoveredEvent("?EV=x", "EV"), "x");
    EXPECT_EQ(discoveredEvent("?EV=x", ""), "");
}

TEST(EventDiscovery, LearnsEachEventOnceUnderTheMatchNode) {
    AppState state;
    TreeNode& root = state.tree.appendRoot("start.htm");
    TreeNode& list = root.appendChild("liste.htm (ShowList)");
    list.appendChild("Save");
    TreeNode& form = root.appendChild("form.htm (Edit)");
    form.appendChild("a.htm (Delete)");

    EXPECT_TRUE(learnEvent(state, form, "<a href=\"?PELO_EVENT=Save\">"))
        << "already under another node";
    EXPECT_FALSE(learnEvent(state, form, "<a href=\"?PELO_EVENT=Save&x=1\">")) << "twice";
    EXPECT_FALSE(learnEvent(state, form, "?PELO_EVENT=Delete")) << "assigned child matches";
    EXPECT_FALSE(learnEvent(state, form, "?PELO_EVENT=Del")) << "matches over its length";
    EXPECT_FALSE(learnEvent(state, form, "no event here"));
    EXPECT_TRUE(learnEvent(state, form, "?PELO_EVENT=Close"));
    EXPECT_EQ(childTexts(form), (std::vector<std::string>{"a.htm (Delete)", "Save", "Close"}));
    EXPECT_EQ(childTexts(list), std::vector<std::string>{"Save"});
    EXPECT_TRUE(form.expanded);
    EXPECT_TRUE(form.children[1]->expanded);
    EXPECT_FALSE(root.expanded);
    EXPECT_TRUE(state.treeChanged);
}

// ---------------------------------------------------------------------------------------------
// The branch itself

class TemplateRequest : public TemplateFolder {
  protected:
    HttpRequest request;
    HttpResponse response;

    Exchange exchange(const std::string& event) {
        return Exchange{request,
                        response,
                        state,
                        host,
                        RequestPaths{(dir.path() / "static").string(), folder,
                                     (dir.path() / "static").string(), ""},
                        event};
    }
    // Answers as the request handler does, with the state lock held (a page may release it while
    // it reads a folder).
    void answer(Exchange& ex) {
        const StateLock lock(state.mutex);
        answerTemplateRequest(ex);
    }
};

TEST_F(TemplateRequest, RendersLineByLineAndLearnsEvents) {
    const std::string path =
        file("liste.htm", "<html><title>Kunde /(Kunde)</title>\r\n"
                          "<p>/(Kunde) /(kunde)</p>\r"
                          "<a href=\"?PELO_EVENT=Edit&id=/(Id)\">\n"
                          "<a href=\"?PELO_EVENT=Edit&id=2\">\n"
                          "\n"
                          "<form><input name=\"PELO_EVENT\" value=\"Save\"></form>\r\n"
                          "last line without end" +
                              std::string("\0ignored", 8));
    TreeNode& root = state.tree.appendRoot("start.htm");
    TreeNode& node = root.appendChild("liste.htm (Show)");
    state.variables.add("Kunde", "Meier");
    state.variables.add("ID", "7");
    request.document = "/liste";

    Exchange ex = exchange("Show");
    answer(ex);

    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.contentType, "text/html");
    EXPECT_EQ(response.body, "<html><title>Kunde Meier</title>\r\n"
                             "<p>Meier Meier</p>\r\n"
                             "<a href=\"?PELO_EVENT=Edit&id=7\">\r\n"
                             "<a href=\"?PELO_EVENT=Edit&id=2\">\r\n"
                             "\r\n"
                             "<form><input name=\"PELO_EVENT\" value=\"Save\"></form>\r\n"
                             "last line without end\r\n");
    EXPECT_EQ(childTexts(node), (std::vector<std::string>{"Edit", "Save"}));
    EXPECT_TRUE(node.expanded);
    EXPECT_EQ(host.trees, 2) << "one tree update per line that adds an event";
    EXPECT_EQ(root.text, "start.htm");
    ASSERT_EQ(state.log.size(), 1u);
    EXPECT_EQ(state.log.rows()[0],
              (LogEntry{LogKind::Template, "liste.htm", "Show", "Kunde /(Kunde)", path}))
        << "the title is taken from the template as stored";
}

// The event parameter of a rendered line may come from a value, whole or in part; a line whose
// text and values lack it names no event. Rendered twice: the second time the rows are known.
TEST_F(TemplateRequest, EventsNamedThroughValuesAreLearnt) {
    file("werte.htm", "<a href=\"/(link)\">\r\n"
                      "<a href=\"?PELO_/(mid)=Spanned\">\r\n"
                      "/(a)/(b)\r\n"
                      "<p>/(x)</p>\r\n");
    TreeNode& root = state.tree.appendRoot("start.htm");
    TreeNode& node = root.appendChild("werte.htm (Show)");
    state.variables.add("link", "?PELO_EVENT=FromValue");
    state.variables.add("mid", "EVENT");
    state.variables.add("a", "PELO_");
    state.variables.add("b", "EVENT=Joined");
    state.variables.add("x", "y");
    for (int request = 0; request < 2; ++request) {
        Exchange ex = exchange("Show");
        answer(ex);
        EXPECT_EQ(response.body, "<a href=\"?PELO_EVENT=FromValue\">\r\n"
                                 "<a href=\"?PELO_EVENT=Spanned\">\r\n"
                                 "PELO_EVENT=Joined\r\n"
                                 "<p>y</p>\r\n");
        EXPECT_EQ(childTexts(node), (std::vector<std::string>{"FromValue", "Spanned", "Joined"}));
        while (!node.children.empty()) // through the tree, which remembers what it holds
            state.tree.remove(node.children.back().get());
    }
}

TEST_F(TemplateRequest, TemplateWithoutPageExtensionHasNoTitleAndEmptyFileRendersEmpty) {
    file("plain.tpl", "<title>Not a page</title>");
    file("empty.htm", "");
    state.tree.appendRoot("start.htm").appendChild("plain.tpl (P)");
    state.tree.first()->appendChild("empty.htm (E)");

    Exchange plain = exchange("P");
    answer(plain);
    EXPECT_EQ(response.body, "<title>Not a page</title>\r\n");
    EXPECT_EQ(state.log.rows().at(0).title, "");

    Exchange empty = exchange("E");
    answer(empty);
    EXPECT_EQ(response.body, "");
    EXPECT_EQ(state.log.rows().at(0).fileName, "empty.htm");
}

// The unassigned-event page (tests/data/pages/unassigned-event.html); options as value and
// shown text.
std::string
expectedUnassignedPage(const std::string& message, const std::string& ref, const std::string& url,
                       const std::string& query, const std::string& event,
                       const std::vector<std::pair<std::string, std::string>>& options) {
    std::string optionLines;
    for (const auto& [value, shown] : options)
        optionLines += "<OPTION VALUE=\"" + value + "\">" + shown + "</OPTION>\r";
    return test::loadTestData("pages/unassigned-event.html", {{"MESSAGE", message},
                                                              {"REF", ref},
                                                              {"URL", url},
                                                              {"QUERY", query},
                                                              {"EVENT", event},
                                                              {"OPTIONS", optionLines}});
}

TEST_F(TemplateRequest, UnassignedEventPageListsTheTemplatesAndLogsKindTwo) {
    file("b.htm");
    file("A.htm");
    file(".hidden.htm");
    file("sub/inner.htm"); // folders are not offered
    file("a&b\".htm");
    state.tree.appendRoot("start.htm").appendChild("Save");
    request.referer = "http://localhost/app/x.htm?a=1&b=2";
    request.document = "/app/liste.htm";
    request.rawQuery = "PELO_EVENT=Save&x=%3C1%3E";

    Exchange ex = exchange("Save");
    answer(ex);

    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.contentType, "text/html");
    EXPECT_EQ(response.body,
              expectedUnassignedPage("Dem Event <b>Save</b> ist kein Template zugeordnet!",
                                     "http://localhost/app/x.htm?a=1&amp;b=2", "/app/liste.htm",
                                     "PELO_EVENT=Save&amp;x=%3C1%3E", "Save",
                                     {{".hidden.htm", ".hidden.htm"},
                                      {"a&amp;b&quot;.htm", "a&amp;b&quot;.htm"},
                                      {"A.htm", "A.htm"},
                                      {"b.htm", "b.htm"}}));
    ASSERT_EQ(state.log.size(), 1u);
    EXPECT_EQ(state.log.rows()[0],
              (LogEntry{LogKind::Unassigned, "", "Save", "kein Template zugeordnet", ""}));
    EXPECT_EQ(host.logs, 1);
}

TEST_F(TemplateRequest, UnassignedEventPageEscapesReflectedValues) {
    request.referer = "\"><script>alert(1)</script>";
    request.document = "/app/<b>.htm";
    request.rawQuery = "PELO_EVENT=<i>\"";
    Exchange ex = exchange("<i>\"");
    answer(ex); // empty tree: no node at all

    EXPECT_EQ(response.body,
              expectedUnassignedPage(
                  "Dem Event <b>&lt;i&gt;&quot;</b> ist kein Template zugeordnet!",
                  "&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;", "/app/&lt;b&gt;.htm",
                  "PELO_EVENT=&lt;i&gt;&quot;", "&lt;i&gt;&quot;", {}));
    EXPECT_EQ(state.log.rows().at(0).event, "<i>\"") << "the log keeps the value as sent";
}

TEST_F(TemplateRequest, UnassignedEventPageShowsAUtf8SitesTextAsCharacters) {
    // The page goes out as Windows-1252: UTF-8 text is shown through character references,
    // while the form's values keep the site's bytes, which the browser sends back unchanged.
    file("\xC3\x9C"
         "bersicht.htm");
    request.document = "/app/";
    request.rawQuery = "PELO_EVENT=Gr%C3%B6%C3%9Fe";
    Exchange ex = exchange("Gr\xC3\xB6\xC3\x9F"
                           "e");
    answer(ex);

    EXPECT_EQ(response.body, expectedUnassignedPage(
                                 "Dem Event <b>Gr&#246;&#223;e</b> ist kein Template zugeordnet!",
                                 "", "/app/", "PELO_EVENT=Gr%C3%B6%C3%9Fe",
                                 "Gr\xC3\xB6\xC3\x9F"
                                 "e",
                                 {{"\xC3\x9C"
                                   "bersicht.htm",
                                   "&#220;bersicht.htm"}}));
}

TEST_F(TemplateRequest, MissingEntryTemplateGivesTheEntryMessage) {
    state.tree.appendRoot("start.htm"); // the file does not exist
    std::filesystem::create_directories(folder);
    Exchange ex = exchange("");
    answer(ex);
    EXPECT_EQ(response.body, expectedUnassignedPage("Es ist kein Einstiegstemplate zugeordnet!", "",
                                                    "", "", "", {}));
    EXPECT_EQ(state.tree.first()->text, "start.htm");
    EXPECT_EQ(state.log.rows().at(0),
              (LogEntry{LogKind::Unassigned, "", "", "kein Template zugeordnet", ""}));
}

TEST_F(TemplateRequest, UnreadableTemplateThrowsWithoutALogRow) {
    const std::string path = file("locked.htm", "secret");
    std::filesystem::permissions(path, std::filesystem::perms::none);
    state.tree.appendRoot("locked.htm");
    const auto throwsWithoutALogRow = [&] {
        Exchange ex = exchange("");
        try {
            answer(ex);
            return false;
        } catch (const std::runtime_error&) {
        }
        return state.log.size() == 0u;
    };
    if (::access(path.c_str(), R_OK) != 0) {
        EXPECT_TRUE(throwsWithoutALogRow());
        return;
    }
    // Root reads the file anyway: the case runs as a user who cannot, with the folders open to it.
    const auto user = test::unprivilegedUser();
    if (!user)
        GTEST_SKIP() << "running with permission to read everything, and no user without it";
    for (auto at = std::filesystem::path(path).parent_path(); at != dir.path().parent_path();
         at = at.parent_path())
        std::filesystem::permissions(at, std::filesystem::perms::others_exec,
                                     std::filesystem::perm_options::add);
    EXPECT_EQ(test::runAs(*user, throwsWithoutALogRow), std::optional<bool>(true));
}

// A FIFO put in a template's place once it was found is refused at once, as an unreadable
// template is: nothing waits for a writer while the state is locked.
TEST_F(TemplateRequest, AFifoInTheTemplatesPlaceIsRefusedWithoutWaiting) {
    const std::string path = folder + "/pipe.htm";
    std::filesystem::create_directories(folder);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    TreeNode& node = state.tree.appendRoot("pipe.htm");
    auto rendering = std::async(std::launch::async, [&] {
        std::lock_guard lock(state.mutex);
        try {
            renderTemplate(state, host, node, path);
            return "rendered";
        } catch (const std::runtime_error&) {
            return "refused";
        }
    });
    if (rendering.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK)); // lets the waiting reader go
        ADD_FAILURE() << "the request waited for a writer of the FIFO";
    }
    EXPECT_STREQ(rendering.get(), "refused");
}

} // namespace
} // namespace pelotest

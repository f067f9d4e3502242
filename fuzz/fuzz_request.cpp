// Raw request bytes through the listener's parser (Beast, with the server's limits), the request
// model and the whole request handler: guard, context, dispatch and every answer, over a small
// site in a temporary folder. Nothing may crash, hang or read out of bounds; answers are checked
// for what holds for every request.

#include "app/HeadlessHost.h"
#include "pages/Routes.h"
#include "server/HttpServer.h"
#include "server/HttpTypes.h"
#include "server/RequestHandler.h"

#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
namespace http = boost::beast::http;
using namespace pelotest;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

struct Site {
    Site() {
        root = fs::temp_directory_path() / ("pelotest-fuzz-" + std::to_string(::getpid()));
        writeFile(root / "static/index.htm", "<html><head><title>Start</title></head></html>\r\n");
        writeFile(root / "static/app/style.css", "body{}\r\n");
        writeFile(root / "templates/main.htm",
                  "<html><head><title>/(Title)</title></head>\r\n"
                  "<a href=\"x?PELO_EVENT=Next\">/(Kunde)</a>\r\n</html>\r\n");
        writeFile(root / "templates/next.htm", "<p>/(Kunde) /(Other)</p>\r\n");
        state.settings.staticPath = (root / "static").string();
        state.settings.dynamicPath = (root / "templates").string() + "//(Sub)";
        state.settings.virtualPath = "app";
        state.settings.staticSite = "index.htm";
        state.settings.maxLog = 20;
        state.settingsPath = root / "fuzz.ini";
        reset();
    }
    ~Site() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    // Each input starts from the same state, so that one input's effects do not pile up.
    void reset() {
        std::lock_guard lock(state.mutex);
        state.variables.clear();
        state.variables.add("Kunde", "4711");
        state.variables.add("Sub", "");
        state.tree.clear();
        TreeNode& rootNode = state.tree.appendRoot("main.htm");
        rootNode.appendChild("next.htm (Next)");
        rootNode.appendChild("Unassigned");
        state.log.clear();
    }

    fs::path root;
    AppState state;
    HeadlessHost host{state};
    RequestHandler handler{state, host, routeRequest};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Site site;
    site.reset();
    const ServerLimits limits;

    http::request_parser<http::string_body> parser;
    parser.eager(true);
    parser.header_limit(static_cast<std::uint32_t>(limits.maxHeaderBytes));
    parser.body_limit(64 * 1024); // the fuzzer's inputs are small; the server allows more
    boost::beast::error_code ec;
    parser.put(boost::asio::buffer(data, size), ec);
    if (!ec && !parser.is_done())
        parser.put_eof(ec);
    if (ec || !parser.is_done())
        return 0;

    const auto& wire = parser.get();
    std::vector<std::pair<std::string, std::string>> headers;
    for (const auto& field : wire)
        headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    const auto request = makeHttpRequest(std::string(wire.method_string()), wire.target(),
                                         wire.body(), std::move(headers));
    if (!request)
        return 0;
    check(request->document.starts_with("/"));
    check(request->document.find('\0') == std::string::npos);

    HttpResponse response;
    try {
        response = site.handler.handle(*request);
    } catch (const std::exception&) {
        return 0; // answered with 500 by the listener
    }
    check(response.status >= 100 && response.status <= 599);
    if (response.file) {
        // A file answer never leaves the site's folders.
        const fs::path file = fs::weakly_canonical(response.file->path);
        const std::string text = file.string();
        check(text.starts_with(fs::weakly_canonical(site.root).string() + "/"));
    }
    return 0;
}

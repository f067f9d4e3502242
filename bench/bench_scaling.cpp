// How the cost of one template request grows with the size of the state and of the template,
// measured in-process (no network): the request handler answers the same template request over
// and over. Run: build-release/bench/bench_scaling (configure with -DPELOTEST_BENCH=ON).
//
// Arguments of BM_TemplateRequest: variables, tree nodes, log rows (MaxLog and rows present),
// template lines, auto-sort. The cost should stay nearly flat in variables, nodes and log rows
// and grow at most linearly with the template's lines.

#include "app/HeadlessHost.h"
#include "pages/Routes.h"
#include "server/RequestHandler.h"
#include "state/AppState.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace pelotest {
namespace {

std::string varName(long i) {
    char name[32];
    std::snprintf(name, sizeof name, "v%06ld", i);
    return name;
}

// A page of `lines` lines: one in four references a variable (names spread evenly over the
// table, so that a lookup cannot find them all near the top), five link an event.
std::string makeTemplate(long lines, long variables) {
    std::string page = "<html>\r\n<head>\r\n<title>Bench page</title>\r\n</head>\r\n<body>\r\n";
    const long body = lines - 7;
    const long refs = lines / 4;
    long ref = 0;
    for (long i = 0; i < body; ++i) {
        if (i % 4 == 0 && ref < refs) {
            page += "<p class=\"r\">lorem ipsum dolor sit amet: /(" +
                    varName(ref * variables / refs) + ")</p>\r\n";
            ++ref;
        } else if (i % 4 == 1 && i * 5 / body != (i - 4) * 5 / body) {
            page += "<a href=\"page.htm?PELO_EVENT=Link" + std::to_string(i * 5 / body) +
                    "&amp;id=1\">lorem ipsum</a>\r\n";
        } else {
            page += "<p class=\"t\">lorem ipsum dolor sit amet consectetur</p>\r\n";
        }
    }
    page += "</body>\r\n</html>\r\n";
    return page;
}

class Fixture {
  public:
    Fixture(long variables, long nodes, long logRows, long lines, bool autoSort) : host_(state_) {
        char pattern[] = "/tmp/pelotest-bench-XXXXXX";
        if (!::mkdtemp(pattern))
            throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        std::filesystem::create_directories(dir_ / "site");
        std::filesystem::create_directories(dir_ / "tmpl");
        const std::filesystem::path page = dir_ / "tmpl" / "page.htm";
        std::ofstream(page, std::ios::binary) << makeTemplate(lines, variables);
        // A template the server has served for a while: a file changed within the last second
        // is read again at every request, which is not what this benchmark measures.
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));

        Settings& s = state_.settings;
        s.staticPath = (dir_ / "site").string();
        s.dynamicPath = (dir_ / "tmpl").string();
        s.virtualPath = "app";
        s.variablesAutoSort = autoSort;
        s.maxLog = static_cast<int>(std::max(logRows, 2L));
        for (long i = 0; i < variables; ++i)
            state_.variables.add(varName(i), "value-" + std::to_string(i) + "-xxxxxxxxxxxx");
        TreeNode& root = state_.tree.appendRoot("page.htm");
        for (long i = 1; i < nodes - 1; ++i)
            root.appendChild("x-filler-" + std::to_string(i));
        root.appendChild("page.htm (Show)"); // last: the worst place for a search in tree order
        for (long i = 0; i < logRows; ++i)
            state_.log.add({8, "old.htm", "", "Old page", s.staticPath + "/old.htm"}, s.maxLog);

        request_.method = "GET";
        request_.document = "/app/page.htm";
        request_.params = {"PELO_EVENT=Show", "id=4711"};
        request_.rawQuery = "PELO_EVENT=Show&id=4711";
        request_.headers = {{"Host", "127.0.0.1"}};
    }
    ~Fixture() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    std::size_t answer() {
        const HttpResponse response = handler_.handle(request_);
        if (response.status != 200)
            throw std::runtime_error("template request answered " +
                                     std::to_string(response.status));
        return response.body.size();
    }

  private:
    std::filesystem::path dir_;
    AppState state_;
    HeadlessHost host_;
    RequestHandler handler_{state_, host_, routeRequest};
    HttpRequest request_;
};

void BM_TemplateRequest(benchmark::State& bench) {
    Fixture fixture(bench.range(0), bench.range(1), bench.range(2), bench.range(3),
                    bench.range(4) != 0);
    std::size_t bytes = fixture.answer(); // the first request discovers the links
    for (auto _ : bench)
        benchmark::DoNotOptimize(bytes = fixture.answer());
    bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations() * bytes));
}

BENCHMARK(BM_TemplateRequest)
    ->ArgNames({"vars", "nodes", "log", "lines", "autosort"})
    // variables
    ->Args({10, 10, 100, 200, 1})
    ->Args({1000, 10, 100, 200, 1})
    ->Args({100000, 10, 100, 200, 1})
    ->Args({100000, 10, 100, 200, 0})
    // tree nodes
    ->Args({1000, 10000, 100, 200, 1})
    // a full log at the largest limit
    ->Args({1000, 10, 9999, 200, 1})
    // template length
    ->Args({1000, 10, 100, 100, 1})
    ->Args({1000, 10, 100, 10000, 1})
    ->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace pelotest

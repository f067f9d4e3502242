// Cost of filling in variable references: a template of thousands of lines with hundreds of
// references, rendered against a variables list of 100,000 rows. The "per_reference" counter is
// the time per reference (lookup, re-marking and replacement included).

#include "server/TemplateReferences.h"
#include "server/TemplateRequest.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

namespace {

using namespace pelotest;

class QuietHost : public Host {
  public:
    Rgb color(ColorRole) const override { return {}; }
    IconPixels messageIcon(MessageIcon) const override { return {}; }
    std::string caption() const override { return "PeloTest"; }
    int variableColumnWidth() const override { return 150; }
};

constexpr int kVariables = 100000;
constexpr int kLines = 4000;
constexpr int kReferences = 400; // every tenth line holds one

std::string variableName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "Variable%06d", i);
    return name;
}

void fillVariables(AppState& state) {
    for (int i = 0; i < kVariables; ++i)
        state.variables.add(variableName(i), "value of " + std::to_string(i));
}

// Lines of ordinary markup; every tenth line refers to a variable spread over the whole list,
// written in another letter case than stored so that lookups must fold case.
std::vector<std::string> templateLines() {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> pick(0, kVariables - 1);
    std::vector<std::string> lines;
    for (int i = 0; i < kLines; ++i) {
        if (i % (kLines / kReferences) == 0) {
            std::string name = variableName(pick(random));
            name[0] = 'v';
            lines.push_back("  <td class=\"cell\">/(" + name + ")</td><td>text after</td>");
        } else {
            lines.push_back("  <tr><td class=\"cell\">static markup of line " + std::to_string(i) +
                            "</td></tr>");
        }
    }
    return lines;
}

void setReferenceCounter(benchmark::State& run) {
    run.counters["per_reference"] = benchmark::Counter(
        kReferences, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// ExpandReferences over every line, the way rendering calls it. With auto-sort on, the marks are
// reset before each render as a request does, so every reference moves its row again.
void BM_ExpandTemplateLines(benchmark::State& run) {
    AppState state;
    QuietHost host;
    state.settings.variablesAutoSort = run.range(0) != 0;
    fillVariables(state);
    const std::vector<std::string> lines = templateLines();
    for (auto _ : run) {
        if (state.settings.variablesAutoSort) {
            run.PauseTiming();
            state.variables.resetMarks();
            run.ResumeTiming();
        }
        std::size_t bytes = 0;
        for (const std::string& line : lines)
            bytes += expandReferences(state, host, line).size();
        benchmark::DoNotOptimize(bytes);
    }
    setReferenceCounter(run);
}
BENCHMARK(BM_ExpandTemplateLines)
    ->ArgName("autoSort")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

// The whole rendering from disk: reading, splitting, expansion, event discovery and joining.
void BM_RenderTemplateFile(benchmark::State& run) {
    AppState state;
    QuietHost host;
    state.settings.variablesAutoSort = false;
    fillVariables(state);
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("pelotest-bench-" + std::to_string(::getpid()) + ".htm");
    {
        std::ofstream out(file, std::ios::binary);
        for (const std::string& line : templateLines())
            out << line << "\r\n";
    }
    TreeNode& node = state.tree.appendRoot("bench.htm");
    for (auto _ : run) {
        RenderedTemplate rendered = renderTemplate(state, host, node, file.string());
        benchmark::DoNotOptimize(rendered.body.data());
    }
    std::filesystem::remove(file);
    setReferenceCounter(run);
}
BENCHMARK(BM_RenderTemplateFile)->Unit(benchmark::kMillisecond);

// One reference in one line: the lookup alone.
void BM_ExpandOneReference(benchmark::State& run) {
    AppState state;
    QuietHost host;
    state.settings.variablesAutoSort = false;
    fillVariables(state);
    const std::string line = "<b>/(" + variableName(kVariables - 1) + ")</b>";
    for (auto _ : run)
        benchmark::DoNotOptimize(expandReferences(state, host, line));
}
BENCHMARK(BM_ExpandOneReference)->Unit(benchmark::kMicrosecond);

} // namespace

// How long one request's parameters take to reach the variables list with auto-sort on: every
// parameter a new name (the costly case: each lands just below the leading Passed rows), set at
// once as requests do, against setting them one by one with a move of the list each (the simple
// way, quadratic). Run: build-release/bench/bench_parameters (configure with -DPELOTEST_BENCH=ON).
//
// Arguments: parameters, rows already in the list.

#include "state/VariableTable.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace pelotest {
namespace {

struct Setup {
    VariableTable table;
    std::vector<Parameter> params;
};

Setup makeSetup(long parameters, long rows) {
    Setup setup;
    for (long i = 0; i < rows; ++i)
        setup.table.add("row" + std::to_string(i), "value");
    for (long i = 0; i < parameters; ++i)
        setup.params.push_back(Parameter{"p" + std::to_string(i), "v"});
    // One existing row among them, so that the Passed rows are not empty.
    if (rows > 0)
        setup.params.push_back(Parameter{"row0", "x"});
    return setup;
}

void BM_ApplyParameters(benchmark::State& bench) {
    for (auto _ : bench) {
        bench.PauseTiming();
        Setup setup = makeSetup(bench.range(0), bench.range(1));
        bench.ResumeTiming();
        setup.table.applyParameters(std::move(setup.params), true);
        benchmark::DoNotOptimize(setup.table.size());
    }
}

void BM_ParametersOneByOne(benchmark::State& bench) {
    for (auto _ : bench) {
        bench.PauseTiming();
        Setup setup = makeSetup(bench.range(0), bench.range(1));
        bench.ResumeTiming();
        VariableTable& table = setup.table;
        for (Parameter& param : setup.params) {
            if (const auto row = table.find(param.name)) {
                table.setValue(*row, std::move(param.value));
                table.markPassed(*row);
            } else {
                const std::size_t added = table.add(std::move(param.name), std::move(param.value));
                table.markUsed(added, table.leadingPassedCount());
            }
        }
        benchmark::DoNotOptimize(table.size());
    }
}

BENCHMARK(BM_ApplyParameters)
    ->ArgNames({"params", "rows"})
    ->Args({5000, 100})
    ->Args({10000, 100})
    ->Args({60000, 100})
    ->Args({10000, 100000})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParametersOneByOne)
    ->ArgNames({"params", "rows"})
    ->Args({5000, 100})
    ->Args({10000, 100})
    ->Args({60000, 100})
    ->Args({10000, 100000})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace
} // namespace pelotest

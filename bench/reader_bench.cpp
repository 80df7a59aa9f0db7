// The script reader's speed: each script named on the command line is read
// from memory, again and again, into the reader's model.
//   reader_bench [benchmark flags] SCRIPT...
// Each benchmark is script_read/<file name without extension>, with the
// script's size as input_MB.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "qsxhost/sources/qsx/QsxReader.h"
#include "util/Files.h"

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        auto text = std::make_shared<std::string>();
        std::string error;
        if (qsx::util::ReadWholeFile(argv[i], *text, SIZE_MAX, &error) != qsx::util::ReadState::Read) {
            std::fprintf(stderr, "%s: not readable %s\n", argv[i], error.c_str());
            return 2;
        }
        std::string name = argv[i];
        name = name.substr(name.find_last_of('/') + 1);
        name = name.substr(0, name.rfind('.'));
        benchmark::RegisterBenchmark(("script_read/" + name).c_str(), [text](benchmark::State& state) {
            for (auto _ : state) {
                qsxhost::script::Script s;
                qsxhost::script::Problems p;
                qsxhost::script::ReadScript(*text, &s, &p);
                if (p.Count() > 0) state.SkipWithError(p.Listed()[0].what.c_str());
                benchmark::DoNotOptimize(s.vertices);
            }
            state.counters["input_MB"] = static_cast<double>(text->size()) / 1e6;
        })->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}

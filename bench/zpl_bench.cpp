// The ZPL translator's own time for one label: ZPL in, the library's calls
// ready to run (Translate), and with those calls composing the label in the
// library's command buffer (TranslateAndCompose; no printer, so the print
// command's send fails and the buffer is emptied). The labels are the
// corpus's carrier and product labels.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>

#include "VdlLabelAPI.h"
#include "zpl_translator.h"

namespace {

std::string corpusLabel(const char *name) {
    std::ifstream file(std::string(VDL_ZPL_CORPUS) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void translate(benchmark::State &state, const char *name, bool compose) {
    const std::string zpl = corpusLabel(name);
    vdlzpl::Translator translator;
    std::size_t steps = 0;
    for (auto _ : state) {
        const int labels = translator.translate(zpl.data(), zpl.size(), false, nullptr, [&](const vdlzpl::Label &label) {
            steps += label.steps.size();
            if (compose) {
                for (const vdlzpl::Step &step : label.steps) step();
                initDataBuffer();
            }
            return 0;
        });
        benchmark::DoNotOptimize(labels);
    }
    state.counters["calls"] = benchmark::Counter(double(steps), benchmark::Counter::kAvgIterations);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(zpl.size()));
}

void Translate(benchmark::State &state, const char *name) { translate(state, name, false); }
void TranslateAndCompose(benchmark::State &state, const char *name) { translate(state, name, true); }

BENCHMARK_CAPTURE(Translate, carrier_4x6, "carrier_maxicode.zpl")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Translate, shipping_4x6, "shipping_ground.zpl")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Translate, graphics, "graphics.zpl")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(TranslateAndCompose, shipping_4x6, "shipping_ground.zpl")->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

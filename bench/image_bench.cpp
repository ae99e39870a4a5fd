// Image benchmarks: a 4 x 6 inch label picture at 300 dpi (1200 x 1800: text
// blocks, bars, a grey area), generated here, loaded from 24-bit BMP, JPEG and
// GIF and run-length encoded; the encoder alone; and, for comparison, the
// route through ImageMagick's convert that the library no longer takes.
//
// Peak heap of one load is measured by counting this program's mallocs.
//
// Run: build/bench/image_bench   (see bench/README.md for the figures)
// With VDL_BENCH_DIR=<directory> the pictures are written there and kept.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "VdlLabelAPI.h"
#include "runLength.h"

extern char **environ;

// ---------------------------------------------------------------------------
// Heap accounting: every allocation of the process goes through these.
// ---------------------------------------------------------------------------

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);
}

namespace {
std::atomic<long long> gHeapNow{0};
std::atomic<long long> gHeapPeak{0};

void counted(void *p) {
    if (p == nullptr) return;
    const long long now = gHeapNow += (long long)malloc_usable_size(p);
    long long peak = gHeapPeak.load();
    while (now > peak && !gHeapPeak.compare_exchange_weak(peak, now)) {
    }
}
void uncounted(void *p) {
    if (p != nullptr) gHeapNow -= (long long)malloc_usable_size(p);
}
}  // namespace

extern "C" void *malloc(size_t n) {
    void *p = __libc_malloc(n);
    counted(p);
    return p;
}
extern "C" void *calloc(size_t n, size_t size) {
    void *p = __libc_calloc(n, size);
    counted(p);
    return p;
}
extern "C" void *realloc(void *old, size_t n) {
    uncounted(old);
    void *p = __libc_realloc(old, n);
    counted(p != nullptr ? p : (n != 0 ? old : nullptr));
    return p;
}
extern "C" void *aligned_alloc(size_t alignment, size_t n) {
    void *p = __libc_memalign(alignment, n);
    counted(p);
    return p;
}
extern "C" int posix_memalign(void **out, size_t alignment, size_t n) {
    void *p = __libc_memalign(alignment, n);
    if (p == nullptr) return ENOMEM;
    counted(p);
    *out = p;
    return 0;
}
extern "C" void free(void *p) {
    uncounted(p);
    __libc_free(p);
}

namespace {

// ---------------------------------------------------------------------------
// The label picture
// ---------------------------------------------------------------------------

constexpr int kWidth = 1200, kHeight = 1800;

struct Rgb {
    unsigned char r, g, b;
};

class Label {
public:
    Label() : pixels_(std::size_t(kWidth) * kHeight, Rgb{255, 255, 255}) {
        std::mt19937 random(1);
        box(20, 20, 1180, 1780, 6);
        // Text: six blocks of lines, glyphs of 3-pixel strokes in 22 x 30 cells.
        for (int block = 0; block < 6; ++block)
            for (int line = 0; line < 5; ++line)
                for (int x = 60; x < 1140; x += 22) {
                    const int top = 80 + block * 180 + line * 34;
                    if (random() % 7 == 0) continue;  // a space
                    for (int stroke = random() % 3 + 2; stroke > 0; --stroke) {
                        if (random() % 2)
                            fill(x + int(random() % 16), top, 3, 28, {0, 0, 0});
                        else
                            fill(x, top + int(random() % 26), 18, 3, {0, 0, 0});
                    }
                }
        // Bars: a barcode of random widths.
        for (int x = 100; x < 1100;) {
            const int bar = int(random() % 4 + 1) * 3, gap = int(random() % 4 + 1) * 3;
            fill(x, 1180, bar, 300, {0, 0, 0});
            x += bar + gap;
        }
        // A grey area (it prints black: every pixel that is not white does).
        fill(100, 1520, 500, 220, {160, 160, 160});
        fill(700, 1520, 400, 220, {40, 40, 40});
    }

    void writeBmp(const std::string &path) const {
        const std::size_t stride = (std::size_t(kWidth) * 3 + 3) / 4 * 4;
        std::string file(54 + stride * kHeight, '\0');
        auto put32 = [&](std::size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i) file[at + i] = char(v >> (8 * i));
        };
        file[0] = 'B';
        file[1] = 'M';
        put32(2, uint32_t(file.size()));
        put32(10, 54);
        put32(14, 40);
        put32(18, kWidth);
        put32(22, kHeight);
        put32(26, 1 | 24 << 16);
        put32(34, uint32_t(stride * kHeight));
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const Rgb &p = pixels_[std::size_t(y) * kWidth + x];
                char *bgr = &file[54 + std::size_t(kHeight - 1 - y) * stride + 3 * std::size_t(x)];
                bgr[0] = char(p.b);
                bgr[1] = char(p.g);
                bgr[2] = char(p.r);
            }
        std::ofstream(path, std::ios::binary) << file;
    }

private:
    void fill(int x, int y, int w, int h, Rgb colour) {
        for (int j = y; j < y + h && j < kHeight; ++j)
            for (int i = x; i < x + w && i < kWidth; ++i) pixels_[std::size_t(j) * kWidth + i] = colour;
    }
    void box(int x0, int y0, int x1, int y1, int t) {
        fill(x0, y0, x1 - x0, t, {0, 0, 0});
        fill(x0, y1 - t, x1 - x0, t, {0, 0, 0});
        fill(x0, y0, t, y1 - y0, {0, 0, 0});
        fill(x1 - t, y0, t, y1 - y0, {0, 0, 0});
    }

    std::vector<Rgb> pixels_;
};

const char *const kConvert = "/usr/bin/convert-im6.q16";

bool runConvert(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), kConvert);
    std::vector<char *> argv;
    for (std::string &a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, kConvert, nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Files {
    std::string directory, bmp, jpg, gif, converted;
    bool toolAvailable = false;
};

Files &files() {
    static Files f = [] {
        Files made;
        char name[] = "/tmp/vdl-bench-XXXXXX";
        const char *keep = std::getenv("VDL_BENCH_DIR");  // to look at the pictures afterwards
        made.directory = keep != nullptr ? keep : mkdtemp(name) != nullptr ? name : "/tmp";
        made.bmp = made.directory + "/label.bmp";
        made.jpg = made.directory + "/label.jpg";
        made.gif = made.directory + "/label.gif";
        made.converted = made.directory + "/converted.bmp";
        Label().writeBmp(made.bmp);
        made.toolAvailable = access(kConvert, X_OK) == 0 && runConvert({made.bmp, "-quality", "90", made.jpg}) &&
                             runConvert({made.bmp, made.gif});
        return made;
    }();
    return f;
}

// ---------------------------------------------------------------------------
// Benchmarks
// ---------------------------------------------------------------------------

// loadImage, reduction and the run-length encoding of the raster. With no
// printer connected, compressData's write returns at once: the stream goes
// nowhere, as to /dev/null.
void loadAndEncode(benchmark::State &state, const std::string &path) {
    unsigned char *raster = nullptr;
    BITMAPINFOHEADER info{};
    // One load first, its peak heap counted from what was in use before it
    // (the raster it returns included).
    const long long before = gHeapNow.load();
    gHeapPeak = before;
    if (loadImage(path.c_str(), &raster, &info, 0) != 0) {
        state.SkipWithError("load failed");
        return;
    }
    state.counters["load_peak_heap_MiB"] = double(gHeapPeak.load() - before) / (1 << 20);
    const uint32_t size = uint32_t((info.biWidth + 7) / 8 * info.biHeight);
    std::free(raster);

    for (auto _ : state) {
        loadImage(path.c_str(), &raster, &info, 0);
        compressData(raster, size);
        std::free(raster);
    }
}

void BM_LoadBmp(benchmark::State &state) { loadAndEncode(state, files().bmp); }
void BM_LoadJpeg(benchmark::State &state) {
    if (!files().toolAvailable) return state.SkipWithError("no ImageMagick to write the JPEG");
    loadAndEncode(state, files().jpg);
}
void BM_LoadGif(benchmark::State &state) {
    if (!files().toolAvailable) return state.SkipWithError("no ImageMagick to write the GIF");
    loadAndEncode(state, files().gif);
}

// The route the library replaced: convert the JPEG to a 24-bit BMP with the
// external tool, then load that.
void BM_ExternalConverterJpeg(benchmark::State &state) {
    if (!files().toolAvailable) return state.SkipWithError("no ImageMagick");
    for (auto _ : state) {
        runConvert({files().jpg, "-type", "TrueColor", files().converted});
        unsigned char *raster = nullptr;
        BITMAPINFOHEADER info{};
        if (loadImage(files().converted.c_str(), &raster, &info, 0) != 0) return state.SkipWithError("load failed");
        compressData(raster, uint32_t((info.biWidth + 7) / 8 * info.biHeight));
        std::free(raster);
        std::remove(files().converted.c_str());
    }
}

std::vector<unsigned char> labelRaster() {
    unsigned char *raster = nullptr;
    BITMAPINFOHEADER info{};
    loadImage(files().bmp.c_str(), &raster, &info, 0);
    std::vector<unsigned char> bytes(raster, raster + (info.biWidth + 7) / 8 * info.biHeight);
    std::free(raster);
    return bytes;
}

// The encoder alone, on the label's raster and on the worst case (every byte
// a lone 0x00 or 0xFF), to memory.
void encodeBench(benchmark::State &state, const std::vector<unsigned char> &data) {
    std::vector<unsigned char> out(vdl::maxRunLengthSize(data.size()));
    for (auto _ : state) benchmark::DoNotOptimize(vdl::encodeRunLength(data.data(), data.size(), out.data()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
    state.counters["stream_bytes"] = double(vdl::encodeRunLength(data.data(), data.size(), out.data()));
}
void BM_EncodeLabelRaster(benchmark::State &state) { encodeBench(state, labelRaster()); }
void BM_EncodeWorstCase(benchmark::State &state) {
    std::vector<unsigned char> data(270000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = i % 2 ? 0xFF : 0x00;
    encodeBench(state, data);
}
void BM_EncodeRandom(benchmark::State &state) {
    std::vector<unsigned char> data(270000);
    std::mt19937 random(3);
    for (unsigned char &b : data) b = static_cast<unsigned char>(random());
    encodeBench(state, data);
}
// compressData itself: the encoder plus its buffer.
void BM_CompressData(benchmark::State &state) {
    const std::vector<unsigned char> data = labelRaster();
    for (auto _ : state) compressData(data.data(), uint32_t(data.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

BENCHMARK(BM_LoadBmp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadGif)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExternalConverterJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLabelRaster)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodeWorstCase)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodeRandom)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CompressData)->Unit(benchmark::kMicrosecond);

// Remembers each benchmark's time per iteration for the closing comparison.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            // Single runs, or the median of repetitions.
            const bool single = run.run_type == Run::RT_Iteration && run.iterations > 0;
            if (single || (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median"))
                perIteration[run.run_name.str()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> perIteration;
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto external = reporter.perIteration.find("BM_ExternalConverterJpeg");
    const auto inProcess = reporter.perIteration.find("BM_LoadJpeg");
    if (external != reporter.perIteration.end() && inProcess != reporter.perIteration.end() && inProcess->second > 0)
        std::printf("\nJPEG: the external converter's route takes %.1f times as long as decoding in process.\n",
                    external->second / inProcess->second);
    if (std::getenv("VDL_BENCH_DIR") == nullptr) {
        std::remove(files().bmp.c_str());
        std::remove(files().jpg.c_str());
        std::remove(files().gif.c_str());
        rmdir(files().directory.c_str());
    }
    benchmark::Shutdown();
    return 0;
}

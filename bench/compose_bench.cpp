// Composing a label into the command buffer, with tracing off, next to the
// floor of formatting the same bytes with snprintf and memcpy.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "VdlLabelAPI.h"

namespace {

constexpr const char *kText = "SHIP TO: ACME SUPPLY";
constexpr const char *kKorean = "받는 사람: 홍길동";
constexpr const char *kBarcode = "PKG-000123456";
constexpr const char *kQr = "https://example.com/track/PKG-000123456";

// Keeps the buffer from reaching its flush threshold: no printer is attached.
inline void keepRoom() {
    if (gDataIndex > 3000) gDataIndex = 0;
}

// The floor: the same bytes formatted with snprintf and copied with memcpy.
struct Floor {
    unsigned char buffer[4096];
    std::size_t fill = 0;

    void add(const char *header, const char *data) {
        if (fill > 3000) fill = 0;
        const std::size_t h = std::strlen(header), d = std::strlen(data);
        std::memcpy(buffer + fill, header, h);
        buffer[fill + h] = '\'';
        std::memcpy(buffer + fill + h + 1, data, d);
        buffer[fill + h + 1 + d] = '\'';
        buffer[fill + h + 2 + d] = '\r';
        fill += h + d + 3;
    }
};

void BM_DeviceFontField(benchmark::State &state) {
    gWriteLog = 0;
    for (auto _ : state) {
        keepRoom();
        benchmark::DoNotOptimize(PrintDeviceFont(kText, 40, 120, 3, 1, 1, 0, 0));
    }
}
BENCHMARK(BM_DeviceFontField);

void BM_DeviceFontFieldFloor(benchmark::State &state) {
    Floor floor;
    for (auto _ : state) {
        char header[64];
        std::snprintf(header, sizeof header, "T%d,%d,%d,%d,%d,0,%d,N,%c,", 40, 120, 3, 1, 1, 0, 'N');
        floor.add(header, kText);
        benchmark::DoNotOptimize(floor.buffer);
    }
}
BENCHMARK(BM_DeviceFontFieldFloor);

void BM_VectorFontField(benchmark::State &state) {
    gWriteLog = 0;
    for (auto _ : state) {
        keepRoom();
        benchmark::DoNotOptimize(PrintVectorFont(kText, 40, 300, 5, 30, 40, 0, 1, 0, 0, 0, 0, 0));
    }
}
BENCHMARK(BM_VectorFontField);

void BM_VectorFontFieldFloor(benchmark::State &state) {
    Floor floor;
    for (auto _ : state) {
        char header[96];
        std::snprintf(header, sizeof header, "V%d,%d,%c,%d,%d,%d,%c,%c,%c,%d,%c,%d,", 40, 300, 'a', 30, 40, 0, 'B',
                      'N', 'N', 0, 'L', 0);
        floor.add(header, kText);
        benchmark::DoNotOptimize(floor.buffer);
    }
}
BENCHMARK(BM_VectorFontFieldFloor);

void BM_ConvertedField(benchmark::State &state) {
    gWriteLog = 0;
    for (auto _ : state) {
        keepRoom();
        benchmark::DoNotOptimize(PrintDeviceFont(kKorean, 40, 200, 'a', 1, 1, 0, 0));
    }
}
BENCHMARK(BM_ConvertedField);

void BM_Block(benchmark::State &state) {
    gWriteLog = 0;
    for (auto _ : state) {
        keepRoom();
        benchmark::DoNotOptimize(PrintBlock(20, 20, 792, 1198, 4, 4));
    }
}
BENCHMARK(BM_Block);

void BM_Barcode1D(benchmark::State &state) {
    gWriteLog = 0;
    for (auto _ : state) {
        keepRoom();
        benchmark::DoNotOptimize(Print1DBarcode(kBarcode, 140, 260, 1, 2, 4, 160, 0, 0));
    }
}
BENCHMARK(BM_Barcode1D);

void BM_Barcode1DFloor(benchmark::State &state) {
    Floor floor;
    for (auto _ : state) {
        char header[160];
        std::snprintf(header, sizeof header, "B1%d,%d,%d,%d,%d,%d,%d,%d,", 140, 260, 1, 2, 4, 160, 0, 0);
        floor.add(header, kBarcode);
        benchmark::DoNotOptimize(floor.buffer);
    }
}
BENCHMARK(BM_Barcode1DFloor);

void BM_QRCode(benchmark::State &state) {
    gWriteLog = 0;
    for (auto _ : state) {
        keepRoom();
        benchmark::DoNotOptimize(PrintQRCode(kQr, 500, 700, 2, 1, 4, 0));
    }
}
BENCHMARK(BM_QRCode);

void BM_QRCodeFloor(benchmark::State &state) {
    Floor floor;
    for (auto _ : state) {
        char header[160];
        std::snprintf(header, sizeof header, "B2%d,%d,Q,%d,%c,%d,%d,", 500, 700, 2, 'M', 4, 0);
        floor.add(header, kQr);
        benchmark::DoNotOptimize(floor.buffer);
    }
}
BENCHMARK(BM_QRCodeFloor);

void BM_PDF417(benchmark::State &state) {
    gWriteLog = 0;
    for (auto _ : state) {
        keepRoom();
        benchmark::DoNotOptimize(PrintPDF417(kBarcode, 40, 900, 10, 5, 2, 0, 0, 1, 3, 10, 0));
    }
}
BENCHMARK(BM_PDF417);

void BM_PDF417Floor(benchmark::State &state) {
    Floor floor;
    for (auto _ : state) {
        char header[160];
        std::snprintf(header, sizeof header, "B2%d,%d,P,%d,%d,%d,%d,%d,%d,%d,%d,%d,", 40, 900, 10, 5, 2, 0, 0, 1, 3,
                      10, 0);
        floor.add(header, kBarcode);
        benchmark::DoNotOptimize(floor.buffer);
    }
}
BENCHMARK(BM_PDF417Floor);

// The typical label of the issue: 10 device-font fields (2 converted to
// EUC-KR), 3 vector-font fields, 3 boxes, a linear barcode, a QR code and a
// PDF417, composed into the buffer.
void BM_TypicalLabel(benchmark::State &state) {
    gWriteLog = 0;
    for (auto _ : state) {
        gDataIndex = 0;
        for (int i = 0; i < 8; ++i) PrintDeviceFont(kText, 40, 40 + 40 * i, 3, 1, 1, 0, 0);
        PrintDeviceFont(kKorean, 40, 400, 'a', 1, 1, 0, 0);
        PrintDeviceFont(kKorean, 40, 440, 'a', 1, 1, 0, 0);
        for (int i = 0; i < 3; ++i) PrintVectorFont(kText, 40, 500 + 50 * i, 5, 30, 40, 0, 0, 0, 0, 0, 0, 0);
        for (int i = 0; i < 3; ++i) PrintBlock(20, 20 + 300 * i, 792, 300 + 300 * i, 4, 3);
        Print1DBarcode(kBarcode, 140, 700, 1, 2, 4, 160, 0, 0);
        PrintQRCode(kQr, 500, 900, 2, 1, 4, 0);
        PrintPDF417(kBarcode, 40, 1000, 10, 5, 2, 0, 0, 1, 3, 10, 0);
        benchmark::DoNotOptimize(gPrintData);
    }
}
BENCHMARK(BM_TypicalLabel);

}  // namespace

BENCHMARK_MAIN();

// The emulator's render service: a 4 x 6 inch label at 203 dpi with 20 text
// fields, a QR code and a one-bit picture, drawn on the server side (decode,
// draw, PNG) and through POST /render on loopback (the same plus HTTP and a
// thread of the server's pool).
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <string>
#include <thread>

#include "label_store.h"
#include "render_service.h"

namespace {

std::string le16(int value) { return {char(value & 0xFF), char(value >> 8)}; }

std::string label() {
    std::string stream = "SL1218,24,G,0\rSW812\rBD20,20,791,1197,B,4\r";
    for (int i = 0; i < 12; ++i)
        stream += "T44," + std::to_string(44 + 40 * i) + ",3,1,1,0,0,N,N,'FIELD " + std::to_string(i) + ": ACME 12345'\r";
    for (int i = 0; i < 8; ++i)
        stream += "V44," + std::to_string(540 + 44 * i) + ",U,32,32,0,N,N,N,0,L,0,'Vector field " + std::to_string(i) +
                  " Springfield'\r";
    stream += "B2500,820,Q,2,M,6,0,'https://example.com/t/PKG-000123456'\r";
    // A 256 x 128 dot picture: stripes and a gradient of dots.
    std::string raster;
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 32; ++x) raster += char((x * 8 + y) % 3 == 0 ? 0xAA : y % 16 < 8 ? 0xF0 : 0x0F);
    stream += "LD" + le16(520) + le16(60) + le16(32) + le16(128) + raster + "\r";
    return stream + "P1,1\r";
}

void BM_ServerSideRender(benchmark::State &state) {
    const std::string stream = label();
    vdlemu::PrinterConfig config;
    for (auto _ : state) {
        const vdlemu::RenderedStream rendered = vdlemu::renderStream(stream, config, {});
        if (rendered.labels.size() != 1 || rendered.faults.count() != 0) state.SkipWithError("the label did not render");
        benchmark::DoNotOptimize(rendered.labels[0].png.data());
    }
}
BENCHMARK(BM_ServerSideRender)->Unit(benchmark::kMillisecond)->MinTime(3);

void BM_RenderRoundTrip(benchmark::State &state) {
    const std::string stream = label();
    vdlemu::LabelStore store;
    vdlemu::EmulatedPrinter printer({});
    vdlemu::RenderService service({}, {}, store, printer);
    httplib::Server server;
    service.attach(server);
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread thread([&] { server.listen_after_bind(); });
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);  // as curl and browsers do
    for (auto _ : state) {
        const auto answer = client.Post("/render", stream, "application/octet-stream");
        if (!answer || answer->status != 200) state.SkipWithError("POST /render failed");
    }
    service.stop();
    server.stop();
    thread.join();
}
BENCHMARK(BM_RenderRoundTrip)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

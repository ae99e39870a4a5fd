// The ZPL translator on any input: every label's calls are run against the
// library, whose connection is the fuzz sink. Beyond never crashing,
// hanging or reading past the input, it checks that a failed translation
// leaves nothing of a label in the command buffer.
#include <cstddef>
#include <cstdint>

#include "VdlLabelAPI.h"
#include "fuzz_support.h"
#include "zpl_translator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static const bool connected = (vdlfuzz::connectToSink(3), true);
    (void)connected;
    initDataBuffer();
    vdlzpl::Limits limits;
    limits.labels = 200;         // keeps each run short; the bounds themselves
    limits.serialCopies = 50;    // are what the corpus of bombs tests
    const bool strict = size > 0 && data[0] == '!';
    vdlzpl::Translator translator(limits);
    translator.translate(reinterpret_cast<const char *>(data), size, strict, nullptr, [](const vdlzpl::Label &label) {
        for (const vdlzpl::Step &step : label.steps)
            if (step() < 0) {
                initDataBuffer();
                return -1;
            }
        return 0;
    });
    vdlfuzz::drain();
    return 0;
}

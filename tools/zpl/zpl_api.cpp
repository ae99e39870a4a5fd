// libVdlZpl's C interface: translation to the connected printer, and to a
// byte stream through a capture of the library's own output.
#include "VdlZpl.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "VdlLabelAPI.hpp"
#include "zpl_capture.h"
#include "zpl_translator.h"

namespace {

// One translation at a time: the library behind it has one connection and
// one command buffer a process.
std::mutex &translationLock() {
    static std::mutex lock;
    return lock;
}

// A message as a caller can show it: the input's bytes it quotes may be
// anything, so control characters and bytes that are not UTF-8 become '?',
// and a quoted parameter of any length is cut.
std::string printable(const std::string &text) {
    constexpr std::size_t kLongest = 300;
    std::string out;
    for (std::size_t i = 0; i < text.size() && out.size() < kLongest; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = vdlzpl::utf8Length(text, i);
        if (length == 0 || c < 0x20 || c == 0x7F) {
            out += '?';
        } else {
            out.append(text, i, length);
            i += length - 1;
        }
    }
    if (out.size() >= kLongest) out += "...";
    return out;
}

vdlzpl::MessageSink messageSink(VdlZplMessageCallback callback, void *context) {
    if (callback == nullptr) return nullptr;
    return [callback, context](const vdlzpl::Place &place, const std::string &text) {
        callback(context, place.line, place.column, printable(text).c_str());
    };
}

// Runs a label's calls; a label that fails part-way is taken out of the
// command buffer and cleared on the printer (a bitmap goes out at once, and
// the buffer sends itself when full), so that nothing of it prints with the
// next label.
int runLabel(const vdlzpl::Label &label) {
    for (std::size_t i = 0; i < label.steps.size(); ++i) {
        const int result = label.steps[i]();
        if (result < 0) {
            initDataBuffer();
            if (i > 0) ClearBuffer();
            return result;
        }
    }
    return 0;
}

// The printer's memory of stored formats and graphics, for the process (it
// has one printer): a template sent in one call is recalled in the next.
vdlzpl::Translator &printerMemory() {
    static vdlzpl::Translator translator;
    return translator;
}

int translate(vdlzpl::Translator &translator, const char *zpl, std::size_t length, unsigned flags,
              VdlZplMessageCallback message, void *context) {
    return translator.translate(zpl, length, (flags & VDL_ZPL_STRICT) != 0, messageSink(message, context), runLabel);
}

}  // namespace

extern "C" int VdlZplPrint(const char *zpl, size_t length, unsigned flags, VdlZplMessageCallback message,
                           void *context) {
    if (zpl == nullptr || (flags & ~unsigned(VDL_ZPL_STRICT)) != 0) return VDL_ZPL_ERR_ARGUMENT;
    const std::lock_guard<std::mutex> lock(translationLock());
    if (gConnectedPrinter == 0) return VDL_ZPL_ERR_NOT_CONNECTED;
    return translate(printerMemory(), zpl, length, flags, message, context);
}

extern "C" int VdlZplConvert(const char *zpl, size_t length, unsigned flags, unsigned char **stream,
                             size_t *streamLength, VdlZplMessageCallback message, void *context) {
    if (stream != nullptr) *stream = nullptr;
    if (streamLength != nullptr) *streamLength = 0;
    if (zpl == nullptr || stream == nullptr || streamLength == nullptr || (flags & ~unsigned(VDL_ZPL_STRICT)) != 0)
        return VDL_ZPL_ERR_ARGUMENT;
    const std::lock_guard<std::mutex> lock(translationLock());
    if (gConnectedPrinter != 0) return VDL_ZPL_ERR_BUSY;
    vdlzpl::Capture capture;
    if (!capture.start()) return VDL_ZPL_ERR_CAPTURE;
    if (ConnectToPrinter(capture.portName().c_str()) != VDL_OK) return VDL_ZPL_ERR_CAPTURE;
    vdlzpl::Translator standalone;  // a conversion stands alone: it neither keeps nor finds stored formats
    const int result = translate(standalone, zpl, length, flags, message, context);
    DisconnectPrinter();
    std::string bytes;
    const vdlzpl::Capture::Outcome caught = capture.finish(bytes);
    if (caught == vdlzpl::Capture::Outcome::tooMuch) {  // the capture stopped taking them: the library's writes failed
        if (message) message(context, 0, 0, "the printer's bytes pass 256 MiB: convert fewer labels at a time");
        return VDL_ZPL_ERR_LIMIT;
    }
    if (result < 0) return result;
    if (caught != vdlzpl::Capture::Outcome::whole) return VDL_ZPL_ERR_CAPTURE;
    *stream = static_cast<unsigned char *>(std::malloc(bytes.size() + 1));
    if (*stream == nullptr) return VDL_ERR_NO_MEMORY;
    std::memcpy(*stream, bytes.data(), bytes.size());
    *streamLength = bytes.size();
    return result;
}

extern "C" int VdlZplCheck(const char *zpl, size_t length, unsigned flags, VdlZplMessageCallback message,
                           void *context) {
    if (zpl == nullptr || (flags & ~unsigned(VDL_ZPL_STRICT)) != 0) return VDL_ZPL_ERR_ARGUMENT;
    vdlzpl::Translator translator;
    return translator.translate(zpl, length, (flags & VDL_ZPL_STRICT) != 0, messageSink(message, context),
                                [](const vdlzpl::Label &) { return 0; });
}

extern "C" void VdlZplFree(void *stream) { std::free(stream); }

// ZPL files begin with a label (^XA), a comment, or one of the control
// commands that download or set up ahead of labels. The printer's own
// command language has ^ and ~ commands too (^PI0, ^cu, ~JC, ~JR, ~PH), so
// a caret alone says nothing.
extern "C" int VdlZplDetect(const void *data, size_t length) {
    static const char *const kLeading[] = {"^XA", "^FX", "~DG", "~DY", "~SD", "~TA", "~CT", "~CC", "~CD", "~JA"};
    const auto *bytes = static_cast<const unsigned char *>(data);
    if (bytes == nullptr) return 0;
    std::size_t i = length >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;  // a UTF-8 byte order mark
    while (i < length && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n')) ++i;
    if (i + 3 > length) return 0;
    for (const char *command : kLeading)
        if (bytes[i] == command[0] && std::toupper(bytes[i + 1]) == command[1] && std::toupper(bytes[i + 2]) == command[2])
            return 1;
    return 0;
}

// The words of every code, the translator's among them, are those of the
// library's C++ header: one table.
extern "C" const char *VdlZplErrorText(int code) {
    for (const vdl::Words &w : vdl::kErrorWords)
        if (w.code == code) return w.words;
    return code >= 0 ? "success" : "unknown result code";
}

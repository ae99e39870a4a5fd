/**
 * @file VdlZpl.hpp
 * The C++ interface of libVdlZpl: ZPL II labels printed on a vdl::Printer,
 * or converted into the printer's bytes without one. Header-only over
 * VdlZpl.h; link -lVdlZpl -lVdlLabelAPI.
 *
 *     vdl::Printer printer("192.168.1.50:9100");
 *     const vdl::zpl::Translation done = vdl::zpl::print(printer, zpl);
 *     for (const std::string &warning : done.warnings) std::cerr << warning << "\n";
 */
#ifndef VDL_ZPL_HPP
#define VDL_ZPL_HPP

#include <string>
#include <string_view>
#include <vector>

#include "VdlLabelAPI.hpp"
#include "VdlZpl.h"

namespace vdl {
namespace zpl {

/** What a translation did. */
struct Translation {
    int labels = 0;                     ///< labels printed or converted (copies not counted)
    std::vector<std::string> warnings;  ///< "LINE:COLUMN: words", for what has no counterpart
    std::string commands;               ///< convert(): the printer's bytes; print(): empty
};

/** @cond internal */
namespace detail {

inline void collect(void *translation, int line, int column, const char *message) {
    static_cast<Translation *>(translation)->warnings.push_back(std::to_string(line) + ":" + std::to_string(column) +
                                                                ": " + message);
}

// A failure's code in vdl::category(); what() names the operation, the last
// message (where the translation stopped) and the code's words.
[[noreturn]] inline void fail(int code, const char *operation, const Translation &t) {
    std::string what = operation;
    if (!t.warnings.empty()) what += ": " + t.warnings.back();
    throw vdl::Error(std::error_code(code, vdl::category()), what);
}

}  // namespace detail
/** @endcond */

#if defined(__cpp_exceptions)
/**
 * Prints the labels of zpl on the printer (VdlZplPrint), translated into its
 * own text, barcode and bitmap commands. Throws vdl::Error: not_connected,
 * label_under_way inside label() (a ZPL label is a whole label), or the
 * translator's code (-201 to -206) with the place in what().
 */
template <typename Policy>
Translation print(BasicPrinter<Policy> &printer, std::string_view zpl, bool strict = false) {
    Translation t;
    int result = 0;
    {
        vdl::detail::Lock lock;
        if (!printer.connected()) throw vdl::Error(make_error_code(Errc::not_connected), "VdlZplPrint");
        if (vdl::detail::connection().inLabel())
            throw vdl::Error(make_error_code(Errc::label_under_way), "VdlZplPrint");
        result = VdlZplPrint(zpl.data(), zpl.size(), strict ? VDL_ZPL_STRICT : 0, detail::collect, &t);
    }
    if (result < 0) detail::fail(result, "VdlZplPrint", t);
    t.labels = result;
    return t;
}

/**
 * The bytes a printer would receive for zpl, without a printer
 * (VdlZplConvert). No printer may be connected in the process meanwhile
 * (-205). Throws vdl::Error as print() does.
 */
inline Translation convert(std::string_view zpl, bool strict = false) {
    Translation t;
    unsigned char *stream = nullptr;
    std::size_t length = 0;
    int result = 0;
    {
        vdl::detail::Lock lock;
        result = VdlZplConvert(zpl.data(), zpl.size(), strict ? VDL_ZPL_STRICT : 0, &stream, &length,
                               detail::collect, &t);
    }
    if (result < 0) detail::fail(result, "VdlZplConvert", t);
    t.commands.assign(reinterpret_cast<const char *>(stream), length);
    VdlZplFree(stream);
    t.labels = result;
    return t;
}
#endif

}  // namespace zpl
}  // namespace vdl

#endif  // VDL_ZPL_HPP

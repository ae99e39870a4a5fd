/*
 * VdlZpl.h - labels written in ZPL II, printed by a VELDRIN printer.
 *
 * libVdlZpl translates ZPL II, the label language most label software and
 * carriers' APIs emit, into the calls of libVdlLabelAPI: text goes out as the
 * printer's own text commands, barcodes as its barcode commands, graphics as
 * its bitmap commands. Nothing is rasterised, so a label keeps the printer's
 * sharp fonts and symbols and takes a few hundred bytes on the wire.
 *
 *     if (ConnectToPrinter("192.168.1.50:9100") == VDL_OK) {
 *         int printed = VdlZplPrint(zpl, strlen(zpl), 0, NULL, NULL);
 *         DisconnectPrinter();
 *     }
 *
 * What the printer has no counterpart for (a command this translator does not
 * know, a ZPL font, an ellipse) is named in a warning with its line and column
 * and skipped or approximated, never dropped silently; VDL_ZPL_STRICT refuses
 * such a label instead.
 *
 * Link with -lVdlZpl -lVdlLabelAPI. The header compiles as C99 and as C++.
 */
#ifndef VDL_ZPL_H
#define VDL_ZPL_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define VDL_ZPL_API __attribute__((visibility("default")))
#else
#define VDL_ZPL_API
#endif

/** Result codes of the translator; the library's own codes (-1xx) pass through unchanged. */
enum VdlZplError {
    /** A null argument where text or a result is wanted, or a flag this header does not define. */
    VDL_ZPL_ERR_ARGUMENT = -201,
    /** Malformed ZPL: a label without its ^XZ, a command cut short, data the command cannot carry. */
    VDL_ZPL_ERR_SYNTAX = -202,
    /** VDL_ZPL_STRICT, and a label needed a warning: nothing of that label was sent. */
    VDL_ZPL_ERR_STRICT = -203,
    /** A bound was passed: input, graphic or field size, labels, stored formats, nesting, output (256 MiB). */
    VDL_ZPL_ERR_LIMIT = -204,
    /** VdlZplConvert while the process holds a printer connection (the library has one a process). */
    VDL_ZPL_ERR_BUSY = -205,
    /** VdlZplConvert could not set up its capture of the printer's bytes. */
    VDL_ZPL_ERR_CAPTURE = -206,
    /** VdlZplPrint while no printer is connected (ConnectToPrinter first). */
    VDL_ZPL_ERR_NOT_CONNECTED = -207
};

/** Flags of VdlZplPrint and VdlZplConvert. */
enum VdlZplFlag {
    /** Refuse a label that needs a warning (an unknown command, an approximation). */
    VDL_ZPL_STRICT = 1
};

/**
 * Called once for each warning and for the error that ends a translation:
 * the place (line and column of the command, from 1) and a sentence naming the
 * command and what was done with it. The text is valid during the call only.
 */
typedef void (*VdlZplMessageCallback)(void *context, int line, int column, const char *message);

/**
 * Translates the ZPL in zpl[0..length) and prints each of its labels on the
 * printer the process is connected to (ConnectToPrinter).
 * @return the number of labels printed (copies not counted), or a negative
 *         code; labels before a failing one have been printed.
 */
VDL_ZPL_API int VdlZplPrint(const char *zpl, size_t length, unsigned flags, VdlZplMessageCallback message,
                            void *context);

/**
 * Translates the ZPL without a printer: *stream receives the bytes a printer
 * would receive (malloc'd; free with VdlZplFree) and *streamLength their
 * count. The process must not be connected to a printer meanwhile: the bytes
 * are caught on a loopback connection of the library's.
 * @return the number of labels, or a negative code (*stream is then null).
 */
VDL_ZPL_API int VdlZplConvert(const char *zpl, size_t length, unsigned flags, unsigned char **stream,
                              size_t *streamLength, VdlZplMessageCallback message, void *context);

/**
 * Translates the ZPL without sending or capturing anything: the warnings and
 * errors VdlZplPrint would give, at once and from any thread (no printer, no
 * pacing). Stored formats and graphics are those of this call alone.
 * @return the number of labels the ZPL prints, or a negative code.
 */
VDL_ZPL_API int VdlZplCheck(const char *zpl, size_t length, unsigned flags, VdlZplMessageCallback message,
                            void *context);

/** Frees a stream of VdlZplConvert. */
VDL_ZPL_API void VdlZplFree(void *stream);

/**
 * Whether the bytes look like ZPL: their first command, after white space, is
 * ^XA, ^FX or a control command that leads ZPL files (~DG, ~DY, ~SD, ~TA,
 * ~CT, ~CC, ~CD, ~JA). The printer's own commands (^PI0, ^cu, ~JC, ...) are not.
 */
VDL_ZPL_API int VdlZplDetect(const void *data, size_t length);

/** Words for a result code of this header (or of libVdlLabelAPI). */
VDL_ZPL_API const char *VdlZplErrorText(int code);

#ifdef __cplusplus
}
#endif

#endif /* VDL_ZPL_H */

/**
 * @file VdlLabelAPI.h
 *
 * libVdlLabelAPI - drive VELDRIN thermal label printers from Linux applications.
 *
 * The library turns each call into the bytes of the printer's command language
 * and paces them over one connection (USB, serial, parallel, TCP or Bluetooth).
 * It holds exactly one connection at a time, starts no threads and takes no
 * locks: call it from one thread at a time.
 *
 * Typical use:
 *
 *     if (ConnectToPrinter("192.168.1.50:9100") == VDL_OK) {
 *         ... compose the label ...
 *         Prints(1, 1);
 *         DisconnectPrinter();
 *     }
 *
 * Every operation that can fail returns an int: 0 (VDL_OK) or a non-negative
 * count on success, one of the negative VDL_ERR_* codes below on failure.
 * Nothing is thrown and nothing is printed, except the trace log's own
 * failure line when tracing is switched on and "log.txt" cannot be opened.
 *
 * Tracing: when a file named "log.tmp" exists in the working directory at the
 * time of ConnectToPrinter, every step is appended to "log.txt" there.
 *
 * This header compiles as C99 and as C++ and needs no other header than the
 * standard <stdint.h>.
 */
#ifndef VDL_LABEL_API_H
#define VDL_LABEL_API_H

#include <stdint.h>

/**
 * The version of this header and of the library built with it: the major
 * number is the soname's, and changes only when applications built against
 * an earlier release would break. CMake takes the project's version from
 * these three lines.
 */
#define VDL_VERSION_MAJOR 1
#define VDL_VERSION_MINOR 0  /**< raised for additions */
#define VDL_VERSION_PATCH 0  /**< raised for fixes */
/** @cond internal */
#define VDL_VERSION_TEXT_(major, minor, patch) #major "." #minor "." #patch
#define VDL_VERSION_TEXT(major, minor, patch) VDL_VERSION_TEXT_(major, minor, patch)
/** @endcond */
/** The version as text, such as "1.0.0". */
#define VDL_VERSION_STRING VDL_VERSION_TEXT(VDL_VERSION_MAJOR, VDL_VERSION_MINOR, VDL_VERSION_PATCH)
/** The version as one number, for the preprocessor: major * 10000 + minor * 100 + patch. */
#define VDL_VERSION (VDL_VERSION_MAJOR * 10000 + VDL_VERSION_MINOR * 100 + VDL_VERSION_PATCH)

/** @cond internal */
#if defined(__GNUC__)
#define VDL_API __attribute__((visibility("default")))
#define VDL_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VDL_API
#define VDL_PRINTF_FORMAT(fmt, args)
#endif
/** @endcond */

#ifdef __cplusplus
extern "C" {
#endif

/** Result codes. Success is 0 unless a function documents a count. */
enum VdlResult {
    VDL_OK = 0,
    /** Serial settings unreadable or speed refused; TCP setsockopt or connect failed (or timed out). */
    VDL_ERR_PORT_SETUP = -99,
    /** The device could not be opened (no USB printer node at all: errno ENODEV). */
    VDL_ERR_OPEN = -100,
    /** The printer was not accepted: the model check failed, or no USB printer matched. */
    VDL_ERR_NOT_ACCEPTED = -101,
    /** writeData could not write a chunk (no connection, printer gone, busy for too long). */
    VDL_ERR_WRITE_CHUNK = -102,
    /** Serial settings were refused when applied. */
    VDL_ERR_PORT_APPLY = -104,
    /** A command, or the command buffer, was not written whole; a text conversion failed. */
    VDL_ERR_WRITE = -105,
    /** An expected reply did not come (model reply, DirectIO read, status byte). */
    VDL_ERR_NO_REPLY = -106,
    /** Bluetooth: no SDP connection. */
    VDL_ERR_BT_SDP = -107,
    /** Bluetooth: no Serial Port channel after five searches. */
    VDL_ERR_BT_NO_CHANNEL = -108,
    /** Bluetooth: RFCOMM socket not created. */
    VDL_ERR_BT_SOCKET = -109,
    /** Bluetooth: RFCOMM bind failed. */
    VDL_ERR_BT_BIND = -110,
    /** Bluetooth: connection failed after five attempts. */
    VDL_ERR_BT_CONNECT = -111,
    /** The port name is null, or not a valid "IPv4:port". */
    VDL_ERR_PORT_NAME = -112,
    /** No network socket could be created. */
    VDL_ERR_SOCKET = -113,
    /** The image file cannot be opened. */
    VDL_ERR_IMAGE_OPEN = -118,
    /** Not a supported image file. */
    VDL_ERR_IMAGE_FORMAT = -119,
    /** A memory allocation failed. */
    VDL_ERR_NO_MEMORY = -120,
    /** Invalid block option. */
    VDL_ERR_BLOCK_OPTION = -124
};

/* ------------------------------------------------------------------------- */
/* Connection                                                                 */
/* ------------------------------------------------------------------------- */

/**
 * Opens the connection named by portName and checks that a supported label
 * printer answers. Port names (prefixes compared without regard to case):
 *   "USB..."                     the first VELDRIN USB printer found
 *   "/dev/ttySn:BAUD"            that serial port; "SERIAL:BAUD" scans ttyS0-9
 *   "/dev/lpN"                   that parallel port; "PARALLEL" scans lp0-9
 *   "XX:XX:XX:XX:XX:XX"          a Bluetooth device address (Serial Port Profile)
 *   "a.b.c.d:PORT"               a printer on TCP (no host names, no IPv6)
 * A connection that is already open is not closed: call DisconnectPrinter
 * before connecting again. Connecting again without it leaves the earlier
 * descriptor open and out of the library's reach (the application's leak);
 * a connect that fails before it opens a device keeps the earlier connection.
 * @return VDL_OK, or VDL_ERR_PORT_NAME, VDL_ERR_NOT_ACCEPTED, VDL_ERR_OPEN,
 *         VDL_ERR_PORT_SETUP, VDL_ERR_PORT_APPLY, VDL_ERR_SOCKET or a Bluetooth code.
 */
VDL_API int ConnectToPrinter(const char *portName);

/** Closes the connection, if one is open. Sends nothing; keeps the command buffer. */
VDL_API void DisconnectPrinter(void);

/** 1 after a successful connect, 0 after DisconnectPrinter. Read-only for applications. */
extern VDL_API unsigned char gConnectedPrinter;

/** Model number (slot of VELDRIN_DEVICE) of the connected printer. */
extern VDL_API int gPrinterModel;

/** Number of slots in the model table. */
#define VDL_MODEL_SLOTS 200

/**
 * The model table: slot 0 holds the manufacturer name "VELDRIN", slots
 * 151-190 the label printers this library drives, other filled slots the
 * maker's other printers; empty slots are null.
 */
extern VDL_API const char *VELDRIN_DEVICE[VDL_MODEL_SLOTS];

/**
 * The resolution a label printer of the model table prints at, in dots per
 * inch: 203, 300 or 600 (8, 12 or 24 dots a millimetre). Every position and
 * size of a label is in dots of this resolution; after a connect,
 * VdlModelDotsPerInch(gPrinterModel) is the connected printer's.
 * @return the dots per inch, or 0 for a number that is not a label printer's
 *         slot (151-190).
 */
VDL_API int VdlModelDotsPerInch(int model);

/* ------------------------------------------------------------------------- */
/* Command buffer and job commands                                           */
/* ------------------------------------------------------------------------- */

/** Capacity of the command buffer in bytes. */
#define VDL_BUFFER_SIZE 4096

/**
 * Label content waiting to be sent, exactly as it goes to the printer, and its
 * fill level. Content operations append here; the buffer is sent when it holds
 * 3584 bytes or more, and by Prints.
 */
extern VDL_API unsigned char gPrintData[VDL_BUFFER_SIZE];
/** Number of bytes in use at the start of gPrintData. */
extern VDL_API uint32_t gDataIndex;

/** Appends the print command "P<first>,<second>\r" and sends the whole buffer. @return VDL_OK or VDL_ERR_WRITE. */
VDL_API int Prints(int first, int second);

/** Writes length raw bytes at once, ahead of buffered content. @return length, or VDL_ERR_WRITE_CHUNK. */
VDL_API int WriteBuffer(const void *data, uint32_t length);

/**
 * Writes outLength bytes of out (skipped when out is null or outLength is 0),
 * then reads a reply of at most 512 bytes into in (skipped when in is null,
 * inLength is null or *inLength is 0). *inLength is the capacity of in on entry
 * and the count received on return.
 * @return VDL_OK, VDL_ERR_WRITE or VDL_ERR_NO_REPLY.
 */
VDL_API int DirectIO(const void *out, uint32_t outLength, void *in, uint32_t *inLength);

/** Sends the printer's clear-buffer command at once; the library's command buffer is untouched. */
VDL_API int ClearBuffer(void);

/* ------------------------------------------------------------------------- */
/* Label content: text, shapes and barcodes                                   */
/*                                                                            */
/* Each call appends one command to the command buffer; the label is printed */
/* by Prints. Out-of-range numbers are brought into range, never refused     */
/* (PrintBlock's option excepted). Texts and barcode data are NUL-terminated; */
/* a null pointer is taken as an empty string.                                */
/* Result: VDL_OK, or VDL_ERR_WRITE when a flush of the buffer failed.        */
/* ------------------------------------------------------------------------- */

/** Code pages for converted text (the codePage arguments of the W calls). */
enum VdlCodePage {
    VDL_CP_EUC_KR = 0,
    VDL_CP_CP949 = 1,
    VDL_CP_EUC_CN = 2,
    VDL_CP_GB18030 = 3,
    VDL_CP_BIG5 = 4,
    VDL_CP_CP950 = 5,
    VDL_CP_EUC_JP = 6,
    VDL_CP_CP932 = 7,
    VDL_CP_CP874 = 8
};

/**
 * Device-font text. font: 0-9, or 'a'-'n' (97-110; 'a'-'f' are converted to
 * EUC-KR, 'm' to GB18030, 'n' to BIG5), else 3. Multipliers 1-4 (else 1),
 * rotation 0-3 (else 0). text is UTF-8 where it is converted.
 * @return VDL_OK, VDL_ERR_WRITE (flush or conversion failed) or VDL_ERR_NO_MEMORY.
 */
VDL_API int PrintDeviceFont(const char *text, int x, int y, int font, int horizontalMultiplier,
                            int verticalMultiplier, int rotation, unsigned char bold);
/** As PrintDeviceFont, but every letter font converts the text to codePage (a VdlCodePage). */
VDL_API int PrintDeviceFontW(const char *text, int x, int y, int font, int horizontalMultiplier,
                             int verticalMultiplier, int rotation, unsigned char bold, int codePage);

/**
 * Vector-font text. font: 1 'K' (EUC-KR), 2 'B' (BIG5), 3 'G' (GB18030),
 * 4 'J' (CP932), 5 'a', 6 'b', else 'U' (no conversion). alignment 1 centre,
 * 2 right, else left; direction 0 or 1 (else 0); rotation 0-3 (else 0).
 */
VDL_API int PrintVectorFont(const char *text, int x, int y, int font, int width, int height, int spacing,
                            unsigned char bold, unsigned char reverse, unsigned char italic, int rotation,
                            int alignment, int direction);
/** As PrintVectorFont, but every font but 0 converts the text to codePage (a VdlCodePage). */
VDL_API int PrintVectorFontW(const char *text, int x, int y, int font, int width, int height, int spacing,
                             unsigned char bold, unsigned char reverse, unsigned char italic, int rotation,
                             int alignment, int direction, int codePage);

/**
 * A line or box from (x1, y1) to (x2, y2). option: 0 'O', 1 'E', 2 'D',
 * 3 'S' and 4 'B' (these two take optionValue).
 * @return VDL_OK, VDL_ERR_WRITE, or VDL_ERR_BLOCK_OPTION for an option outside 0-4.
 */
VDL_API int PrintBlock(int x1, int y1, int x2, int y2, int option, int optionValue);
/** A circle: size 1-6 (else 2), multiplier 1-4 (else 1). */
VDL_API int PrintCircle(int x, int y, int size, int multiplier);

/** A linear barcode: barcodeType 0-16 (else 1), rotation 0-3 (else 0), field8 0-8 (else 0). */
VDL_API int Print1DBarcode(const char *data, int x, int y, int barcodeType, int field4, int field5, int field6,
                           int rotation, int field8);

/* Two-dimensional symbols. A value outside its range is replaced by the
 * default given; rotation is 0-3, else 0. The data is sent as it is. */

/** MaxiCode: mode 0, 2, 3 or 4 (else 0). */
VDL_API int PrintMaxiCode(const char *data, int x, int y, int mode);
/** PDF417: rows 3-90 (else 30), columns 1-30 (else 5), eccLevel 0-8 (else 0), field7 0-2 (else 0),
 * field8 sent as 1/0, field9 0-1 (else 1), field10 2-9 (else 3), field11 4-99 (else 10). */
VDL_API int PrintPDF417(const char *data, int x, int y, int rows, int columns, int eccLevel, int field7,
                        unsigned char field8, int field9, int field10, int field11, int rotation);
/** QR Code: model 1-2 (else 1), eccLevel 0 L, 1 M, 2 Q, 3 H (else L), field6 1-4 (else 4). */
VDL_API int PrintQRCode(const char *data, int x, int y, int model, int eccLevel, int field6, int rotation);
/** Data Matrix: field4 1-4 (else 2), field5 sent as R (set) or N. */
VDL_API int PrintDataMatrix(const char *data, int x, int y, int field4, unsigned char field5, int rotation);
/** Aztec: field4 1-10 (else 2), field5 0-1 (else 0), field6 0-300 (else 0), field7 sent as 1/0,
 * field8 1-26 (else 15), field9 sent as given. */
VDL_API int PrintAztec(const char *data, int x, int y, int field4, int field5, int field6, unsigned char field7,
                       int field8, int field9, int rotation);
/** Code 49: fields 4-6 sent as given, field7 0-2 (else 0), field8 0-7 (else 0). */
VDL_API int PrintCode49(const char *data, int x, int y, int field4, int field5, int field6, int field7, int field8,
                        int rotation);
/** CODABLOCK: fields 4-6 sent as given, field7 sent as 1/0, field8 2-62 (else 30), mode 0 A, 1 E,
 * 2 F (else E), field10 1-18 for A (else 10) or 2-4 for E and F (else 3). */
VDL_API int PrintCODABLOCK(const char *data, int x, int y, int field4, int field5, int field6, unsigned char field7,
                           int field8, int mode, int field10);
/** MicroPDF417: field4 2-8 (else 5), field5 1-99 (else 50), field6 0-33 (else 0). */
VDL_API int PrintMicroPDF(const char *data, int x, int y, int field4, int field5, int field6, int rotation);
/** GS1 DataBar: field4 0-5 (else 5), field5 1-10 (else 1), field6 1-2 (else 1), field7 sent as
 * given, segments an even number 0-22 (else 6). */
VDL_API int PrintGS1DataBar(const char *data, int x, int y, int field4, int field5, int field6, int field7,
                            int segments, int rotation);

/* ------------------------------------------------------------------------- */
/* Printer control: actions, settings, status                                 */
/*                                                                            */
/* Written at once, ahead of label content waiting in the command buffer.     */
/* Result: VDL_OK, or VDL_ERR_WRITE when the command was not written whole.   */
/* ------------------------------------------------------------------------- */

/** Initialises the printer. */
VDL_API int InitializePrinter(void);
/** Makes the printer measure its media. */
VDL_API int CalibrateMedia(void);
/** Resets the printer. */
VDL_API int ResetPrinter(void);
/** Feeds one label. */
VDL_API int FeedOneLabel(void);

/** Print speed 0-12 (clamped). */
VDL_API int SetSpeed(int speed);
/** Print density 0-20 (clamped). */
VDL_API int SetDensity(int density);
/** 'T' (84, top first) or 'B' (66, bottom first); anything else is 'T'. */
VDL_API int SetOrientation(int orientation);
/** Cutter on or off; a non-zero cutPeriod with the cutter on cuts every cutPeriod labels. */
VDL_API int SetCutter(unsigned char autoCut, int cutPeriod);
/** Rewinder on (non-zero) or off. */
VDL_API int SetRewinder(unsigned char rewind);
/** Print offset -100 to 100 (clamped). */
VDL_API int SetOffset(int offset);
/** Cut position -100 to 100 (clamped). The name is spelled so. */
VDL_API int SetCutPostion(int cutPosition);
/** 1 thermal transfer ('t'), anything else direct thermal ('d'). */
VDL_API int SetPrintingType(int printingType);
/** Back feed on (non-zero) or off. */
VDL_API int SetBackFeed(unsigned char backFeeding);
/** Paper size and media: mediaType 1 continuous ('C'), 2 black mark ('B'), else gap ('G'). */
VDL_API int SetPaper(int paperWidth, int paperHeight, int mediaType, int offset, int gapLength);
/** Horizontal and vertical margins in dots, sent as given. */
VDL_API int SetMargin(int horizontalMargin, int verticalMargin);
/** characterSet 0-15 and codeTable 0-255; other values become 0. */
VDL_API int SetCharacterSet(int characterSet, int codeTable);

/* The last value of each setting that reached the printer whole; a failed
 * setter leaves them as they were. Read-only for applications. */
extern VDL_API int gSpeed;                /**< SetSpeed, after clamping */
extern VDL_API int gDensity;              /**< SetDensity, after clamping */
extern VDL_API int gOrientation;          /**< SetOrientation: 'T' or 'B' */
extern VDL_API unsigned char gAutoCut;    /**< SetCutter's flag as given */
extern VDL_API int gCutPeriod;            /**< SetCutter's period as given */
extern VDL_API unsigned char gRewind;     /**< SetRewinder's flag as given */
extern VDL_API int gOffset;               /**< SetOffset (clamped) or SetPaper's offset, the later */
extern VDL_API int gCutPosition;          /**< SetCutPostion, after clamping */
extern VDL_API int gPrintingType;         /**< SetPrintingType as given */
extern VDL_API int gBackFeeding;          /**< SetBackFeed's flag as given */
extern VDL_API int gPaperWidth;           /**< SetPaper */
extern VDL_API int gPaperHeight;          /**< SetPaper */
extern VDL_API int gMediaType;            /**< SetPaper's media type as given */
extern VDL_API int gGapLength;            /**< SetPaper */
extern VDL_API int gHorizontalMargin;     /**< SetMargin */
extern VDL_API int gVerticalMargin;       /**< SetMargin */

/** Error bits of the status byte. */
enum VdlStatusBit {
    VDL_STATUS_PAPER_PRESENCE = 0x02,
    VDL_STATUS_RIBBON_END = 0x04,
    VDL_STATUS_GAP_ERROR = 0x08,
    VDL_STATUS_HEAD_OVERHEAT = 0x10,
    VDL_STATUS_CUTTER_JAM = 0x20,
    VDL_STATUS_COVER_OPEN = 0x40,
    VDL_STATUS_PAPER_EMPTY = 0x80
};

/**
 * Asks the printer for its error state.
 * @return the error mask (0-254, VdlStatusBit values; 0 = no error),
 *         VDL_ERR_WRITE or VDL_ERR_NO_REPLY.
 */
VDL_API int CheckPrinterStatus(void);
/** The error mask of the last CheckPrinterStatus, 0 after a failed one. */
extern VDL_API unsigned char gStatus;

/* ------------------------------------------------------------------------- */
/* RFID                                                                       */
/*                                                                            */
/* Written at once. Result: VDL_OK (SetupRFID: the byte count), or            */
/* VDL_ERR_WRITE when the command was not written whole or is longer than     */
/* the printer's command line (SetEPCDataStructure and SetRFIDPassword: 511   */
/* bytes, WriteRFID: 1023 bytes; nothing is sent then).                       */
/* ------------------------------------------------------------------------- */

/** RFID set-up: field1 0-5 (else 5), field2 clamped to 1-10, field3 to 1-5, field4 to 0-30.
 * @return the number of bytes written (14 to 16), or VDL_ERR_WRITE. */
VDL_API int SetupRFID(int field1, int field2, int field3, int field4);
/** Calibrates the RFID encoder. */
VDL_API int CalibrateRFID(void);
/** Position of the RFID encoder, sent as given. */
VDL_API int SetRFIDPosition(int position);
/** The EPC data structure, sent as given. */
VDL_API int SetEPCDataStructure(int field1, const char *structure);
/** type 1 'A', 2 'H', 3 'U', 4 'E'; any other type sends nothing and returns VDL_OK. */
VDL_API int WriteRFID(int type, int field2, int length, const char *data);
/** The four items of the tag password setting, sent as given. */
VDL_API int SetRFIDPassword(const char *part1, const char *part2, const char *part3, const char *part4);
/** Locks the tag. */
VDL_API int LockRFID(void);
/** Unlocks the tag. */
VDL_API int UnlockRFID(void);

/* ------------------------------------------------------------------------- */
/* Bitmaps                                                                    */
/* ------------------------------------------------------------------------- */

/**
 * The 40-byte info header of a BMP file, fields in their file order. The
 * image loaders fill one for the picture they load. (Declared here with
 * fixed-width fields, so no platform header is needed.)
 */
typedef struct BITMAPINFOHEADER {
    uint32_t biSize;          /**< size of the info header in the file, 40 or more */
    int32_t biWidth;          /**< width in pixels */
    int32_t biHeight;         /**< height in pixels (rows); the file's rows run bottom-up */
    uint16_t biPlanes;        /**< colour planes, 1 */
    uint16_t biBitCount;      /**< bits per pixel */
    uint32_t biCompression;   /**< compression of the pixel array, 0 = none */
    uint32_t biSizeImage;     /**< bytes of the pixel array (may be 0 in a file) */
    int32_t biXPelsPerMeter;  /**< horizontal resolution, pixels per metre */
    int32_t biYPelsPerMeter;  /**< vertical resolution, pixels per metre */
    uint32_t biClrUsed;       /**< colour-table entries in use, 0 = all */
    uint32_t biClrImportant;  /**< colour-table entries that matter, 0 = all */
} BITMAPINFOHEADER;

/**
 * Prints the picture of an image file with its top left corner at (x, y):
 * the file is loaded and reduced to one bit per pixel (see loadImage), and one
 * bitmap command is written to the printer at once, ahead of label content
 * still waiting in the command buffer: "LCR" (run-length encoded) when
 * compress is exactly 1, "LD" (uncompressed) otherwise. x and y are clamped
 * to 0..65535. No print command is sent.
 *
 * Files: BMP of 1, 4, 8 or 24 bits, and of 32 bits when named *.bmp
 * (uncompressed, rows bottom-up or top-down); JPEG named *.jpg; GIF named
 * *.gif (first frame). Every pixel that is not pure white prints black; transparent pixels
 * count as white.
 *
 * @return VDL_OK once the command was handed to writeData (write failures are
 *         not reported here), or the loader's VDL_ERR_IMAGE_OPEN,
 *         VDL_ERR_IMAGE_FORMAT or VDL_ERR_NO_MEMORY; then nothing was sent.
 */
VDL_API int PrintBitmap(const char *path, int x, int y, unsigned char compress);

/**
 * Loads a picture for printLCR or printLD (or a label of its own) by what the
 * file holds, whatever its name: BMP, JPEG and GIF read exactly as loadImage
 * reads them under their own extension ("photo.JPG" and "logo.jpeg" are JPEG;
 * every pixel that is not pure white is black), and PNG, laid over white,
 * where a pixel darker than mid grey is black (a drawn logo keeps its
 * anti-aliased edges where they were drawn). The raster has rows of
 * (width + 7) / 8 bytes, top row first, 1 = black, and is released with
 * free(); info holds its width and height. A targetWidth above 0 and other
 * than the picture's width rescales it as loadImage does. The trace says
 * "VdlLoadPicture".
 * @return VDL_OK with *image set; otherwise *image is null and the result is
 *         VDL_ERR_IMAGE_OPEN (a null path, no such regular file, or
 *         unreadable; a JPEG or GIF that cannot be decoded, as with
 *         loadImage), VDL_ERR_IMAGE_FORMAT (none of the four formats, a
 *         damaged PNG, a size past the loader's limits, a null image or
 *         info) or VDL_ERR_NO_MEMORY. A PNG's refusal is traced with its
 *         reason ("Image too large.", or libpng's words for the damage).
 */
VDL_API int VdlLoadPicture(const char *path, unsigned char **image, BITMAPINFOHEADER *info, int targetWidth);

/* ------------------------------------------------------------------------- */
/* The C++ interface's error category                                         */
/* ------------------------------------------------------------------------- */

/**
 * The std::error_category of the result codes, which VdlLabelAPI.hpp's
 * vdl::category() returns: one object in the library for the whole process,
 * so that an error code made in one shared object compares equal with one
 * made in another. It is an object of GNU libstdc++, the C++ standard library
 * the library is built with; C has no use for it.
 */
VDL_API const void *VdlErrorCategory(void);

/**
 * The state the C++ interface keeps beside the one connection (its lock, who
 * holds the connection, the label under way), held by the library so that
 * every shared object of the process shares it. Its layout is the C++
 * interface's; C has no use for it.
 */
VDL_API void *VdlInterfaceState(void);

/* ------------------------------------------------------------------------- */
/* Trace log                                                                  */
/* ------------------------------------------------------------------------- */

/** 1 while tracing to "log.txt" is on. Decided by each ConnectToPrinter. */
extern VDL_API unsigned char gWriteLog;

/* ------------------------------------------------------------------------- */
/* Internal steps. Exported for diagnosis and for the library's own use;      */
/* applications normally need none of them.                                  */
/* ------------------------------------------------------------------------- */

/** Runs the model check; 0, or VDL_ERR_NOT_ACCEPTED for any failure of it. */
VDL_API int openCheck(void);
/** Sends the model query and classifies the reply; 0, VDL_ERR_WRITE or VDL_ERR_NO_REPLY. */
VDL_API int modelCheck(void);
/** Model number (151-199) whose name occurs in reply, ignoring case; 0 when none. */
VDL_API int getModel(const char *reply);
/** Paced write of length bytes; returns length, or VDL_ERR_WRITE_CHUNK. */
VDL_API int writeData(const void *data, uint32_t length);
/** Paced read of at most min(size, 512) bytes; returns the count stored (0 to 512). */
VDL_API int readData(void *buffer, int size);

/** Sends and empties the command buffer once it holds 3584 bytes or more; 0 or VDL_ERR_WRITE. */
VDL_API int bufferCheck(void);
/** Empties the command buffer: all bytes zero, fill level zero. */
VDL_API void initDataBuffer(void);

/**
 * Converts length bytes of UTF-8 text to codePage and appends them as the data
 * part of a text command; a codePage outside 0-8 appends the text unconverted.
 * @return VDL_OK, VDL_ERR_WRITE (conversion or flush failed) or VDL_ERR_NO_MEMORY.
 */
VDL_API int convertData(const char *text, uint32_t length, int codePage);

/** Decides from "log.tmp" in the working directory whether tracing is on. */
VDL_API void initWriteLog(void);
/** Appends one record to "log.txt" when tracing is on. */
VDL_API void printDebugLog(const char *functionName, const char *format, ...) VDL_PRINTF_FORMAT(2, 3);

/* Transports: each returns an open descriptor (0 or more) or a negative code. */

/** Connects a TCP socket to address:port (a dotted IPv4 address and a decimal port). */
VDL_API int openDeviceEthernet(const char *address, const char *port);
/**
 * Probes the USB printer-class nodes (/dev/usblpN, /dev/usb/lpN, /dev/usb/usblpN
 * for N = 0..15) and opens the first VELDRIN printer whose IEEE 1284 model is
 * in VELDRIN_DEVICE; sets gPrinterModel to its slot.
 * @return the descriptor; VDL_ERR_OPEN with errno ENODEV when no node exists;
 *         VDL_ERR_NOT_ACCEPTED when nodes exist but none was accepted.
 */
VDL_API int openDeviceUSB(void);
/** Opens a parallel port node. @return the descriptor or VDL_ERR_OPEN. */
VDL_API int openDeviceParallel(const char *path);
/**
 * Opens a serial port in raw 8-N-1 mode without flow control at baud (2400,
 * 4800, 9600, 19200, 38400, 57600 or 115200; any other value gives 9600).
 * @return the descriptor, VDL_ERR_OPEN, VDL_ERR_PORT_SETUP or VDL_ERR_PORT_APPLY.
 */
VDL_API int openDeviceSerial(const char *path, int baud);

/* ------------------------------------------------------------------------- */
/* Bluetooth (Serial Port Profile over RFCOMM)                                */
/*                                                                           */
/* The library uses BlueZ's libbluetooth without depending on it: the        */
/* application that wants Bluetooth links libbluetooth itself               */
/* (-Wl,--no-as-needed -lbluetooth). Without it every other transport works  */
/* and a Bluetooth connect fails with VDL_ERR_BT_SDP.                        */
/* ------------------------------------------------------------------------- */

/**
 * A Bluetooth device address, laid out as BlueZ's bdaddr_t (six bytes, b[0]
 * the last group of the text form "XX:XX:XX:XX:XX:XX"): a bdaddr_t can be
 * copied into it byte for byte.
 */
typedef struct VdlBluetoothAddress {
    uint8_t b[6]; /**< the six bytes, last group of the text form first */
} VdlBluetoothAddress;

/** An open SDP session: BlueZ's sdp_session_t, opaque here. */
typedef struct VdlSdpSession VdlSdpSession;

/**
 * Finds the printer's Serial Port channel over SDP (up to five searches,
 * 300 ms apart) and connects an RFCOMM socket to it (up to five attempts).
 * @return the connected socket; VDL_ERR_BT_SDP when no SDP connection could be
 *         opened (also when the application does not link libbluetooth);
 *         VDL_ERR_BT_NO_CHANNEL; VDL_ERR_BT_CONNECT.
 */
VDL_API int openDeviceBluetooth(VdlBluetoothAddress address);

/**
 * Asks an open SDP session for the RFCOMM channel of the Serial Port service.
 * @return 0 with the channel in *channel; -1 (*channel untouched) when sdp is
 *         null, the query failed, no record names a channel, or libbluetooth
 *         is not linked.
 */
VDL_API int sdp_search_spp(VdlSdpSession *sdp, uint8_t *channel);

/**
 * Creates an RFCOMM socket bound to local and connects it to remote's channel.
 * A device that reports itself busy is asked again every 100 ms, 20 times at
 * most. @return 0 with the socket in *fd; VDL_ERR_BT_SOCKET (also for a null
 * argument), VDL_ERR_BT_BIND or VDL_ERR_BT_CONNECT with *fd = -1.
 */
VDL_API int spp_connect(const VdlBluetoothAddress *local, const VdlBluetoothAddress *remote, uint8_t channel,
                        int *fd);

/*
 * Image loading and the bitmap commands. A raster is biHeight rows of
 * ceil(biWidth / 8) bytes, top row first, most significant bit leftmost,
 * 1 = black; the loaders allocate it with malloc and the caller frees it.
 */

/**
 * Loads an image file as a raster and fills info. Which files are converted
 * to true colour first goes by the name's extension (the three characters
 * after the last '.', letter case counts): "jpg" and "gif" always, "bmp" when
 * the file has 1 or 32 bits per pixel; other BMP files are read as they are.
 * The conversion is done in process. A targetWidth above 0 and other than the
 * picture's width rescales the raster to that width (nearest neighbour, the
 * height in proportion); 0 or a negative value leaves it as it is.
 * @return VDL_OK with *image set; otherwise *image is null and the result is
 *         VDL_ERR_IMAGE_OPEN (no such regular file, or unreadable; a JPEG or
 *         GIF that cannot be decoded), VDL_ERR_IMAGE_FORMAT (not a BMP, an
 *         unsupported depth, an invalid or inconsistent header, a picture
 *         with rows of more than 65535 bytes, more than 65535 rows or a
 *         raster over 512 MiB, a null argument) or VDL_ERR_NO_MEMORY.
 */
VDL_API int loadImage(const char *path, unsigned char **image, BITMAPINFOHEADER *info, int targetWidth);
/** Like loadImage without rescaling; converts only "jpg" and "gif" names, to a dithered black and white
 *  picture, and looks for a BMP colour table at file offset 54 (right for 40-byte info headers only). */
VDL_API int loadImage1(const char *path, unsigned char **image, BITMAPINFOHEADER *info);
/** The bits per pixel of a BMP file, or VDL_ERR_IMAGE_OPEN, VDL_ERR_IMAGE_FORMAT or VDL_ERR_NO_MEMORY. */
VDL_API int GetImageBit(const char *path);
/**
 * Rescales a picture of one byte per pixel (non-zero = black; info->biWidth
 * bytes a row, top row first) to targetWidth, and updates info's size.
 * @return VDL_OK with *resized a new raster; VDL_ERR_NO_MEMORY, or
 *         VDL_ERR_IMAGE_FORMAT for a null argument, a size out of limits or a
 *         targetWidth below 1.
 */
VDL_API int resizeImage(const unsigned char *pixels, unsigned char **resized, int targetWidth,
                        BITMAPINFOHEADER *info);
/** Copies min(strlen(source), maxLength) bytes (all when maxLength < 0), a-z made A-Z; adds no NUL. */
VDL_API void strToUpper(const char *source, char *destination, int maxLength);
/** Writes the "LD" command for a raster (width 0: no raster); 0, or VDL_ERR_IMAGE_FORMAT (nothing sent) when
 *  info cannot be described: null, a negative size, rows of more than 65535 bytes or more than 65535 rows. */
VDL_API int printLD(const unsigned char *raster, const BITMAPINFOHEADER *info, int x, int y);
/** Writes the "LCR" command for a raster, as printLD does. */
VDL_API int printLCR(const unsigned char *raster, const BITMAPINFOHEADER *info, int x, int y);
/**
 * Prints a raster as one label in a single write: the bitmap command that
 * printLCR (compress 1) or printLD (any other compress) writes, then the label
 * content waiting in the command buffer, then the print command of
 * Prints(first, second), all handed to one writeData call. The bytes are
 * those of printLCR or printLD followed by Prints; only the pauses differ: on
 * a network printer each writeData call costs about 20 ms of pacing, so a
 * label goes out in one paced write instead of four. writeData still cuts
 * the write into the interface's chunks and paces them, so serial and
 * Bluetooth printers are paced as before.
 * The whole label is composed in memory first: rasters of more than 64 MiB
 * (rowBytes x rows) are refused.
 * @return VDL_OK, and the command buffer is empty;
 *         VDL_ERR_IMAGE_FORMAT (nothing sent) when info cannot be described,
 *         as for printLD;
 *         VDL_ERR_NO_MEMORY (nothing sent) for a raster over 64 MiB or when
 *         the label's memory cannot be allocated;
 *         VDL_ERR_WRITE when the write failed (the command buffer is kept).
 */
VDL_API int PrintRasterLabel(const unsigned char *raster, const BITMAPINFOHEADER *info, int x, int y,
                             unsigned char compress, int first, int second);
/** Run-length encodes length bytes and writes the stream in one writeData call; 0 or VDL_ERR_NO_MEMORY. */
VDL_API int compressData(const unsigned char *data, uint32_t length);

#ifdef __cplusplus
}
#endif

#endif /* VDL_LABEL_API_H */

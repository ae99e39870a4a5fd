/**
 * @file VdlLabelAPI.hpp
 *
 * The C++ interface of libVdlLabelAPI: header-only, over the C functions of
 * VdlLabelAPI.h (C++17, no other dependency than the standard library).
 *
 *     vdl::Printer printer("192.168.1.50:9100");        // connects, or throws vdl::Error
 *     printer.setSpeed(4);
 *     printer.printDeviceFont("SHIP TO: ACME", 40, 40);
 *     printer.print1DBarcode("PKG000123456", 40, 120, vdl::Symbology::code128);
 *     printer.print();                                  // the label goes out
 *     std::cout << vdl::to_string(printer.status()) << "\n";
 *                                                       // disconnects when it goes out of scope
 *
 * Failures throw vdl::Error, a std::system_error whose code is in
 * vdl::category(). vdl::NothrowPrinter offers the same calls without
 * exceptions: each returns a std::error_code (a vdl::Outcome for calls that
 * return a value), and its constructor takes the code by reference. It is
 * all there is in a build without exceptions (-fno-exceptions), where
 * vdl::Printer and the calls that throw are left out.
 *
 * The library holds one connection per process, so only one printer object
 * may be connected at a time: a second one is refused with
 * std::errc::device_or_resource_busy while the first lives (also while a
 * connection opened through the C functions is open). An object that does
 * not hold the connection (refused, moved from, disconnected) sends nothing:
 * each of its calls fails with vdl::Errc::not_connected, whoever holds the
 * connection.
 *
 * vdl::category() is one object in the library, so error codes compare equal
 * across the shared objects of a process.
 *
 * Numbers out of range are brought into range by the library, as the C
 * functions document; the enums below name the values that have a meaning.
 * Texts are passed as std::string_view and end at their first NUL byte,
 * since the printer's commands cannot carry one.
 */
#ifndef VDL_LABEL_API_HPP
#define VDL_LABEL_API_HPP

#include <pthread.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "VdlLabelAPI.h"

/** The C++ interface of libVdlLabelAPI. */
namespace vdl {

/** A result code of the library in words. */
struct Words {
    int code;           /**< a VdlResult or VdlStatusBit value */
    const char *words;  /**< what it means, for people */
};

/**
 * The code of a call on a printer object that does not hold the connection:
 * the C++ interface's own, outside the range of the library's codes.
 */
inline constexpr int kNotConnected = -1000;

/** The code of label() called while a label is being composed: labels do not nest. */
inline constexpr int kLabelUnderWay = -1001;

/**
 * The words for every failure code: the one table that vdl::category(), the
 * vdl-label tool and the Python binding (generated from the entries of the
 * VDL_ERR codes) use. One entry a line, so that the Python build can read it.
 */
inline constexpr Words kErrorWords[] = {
    {VDL_ERR_PORT_SETUP, "the port could not be set up (serial settings refused, or the TCP connection was refused or timed out)"},
    {VDL_ERR_OPEN, "the device could not be opened (no such port, or no USB printer attached)"},
    {VDL_ERR_NOT_ACCEPTED, "the printer did not answer the model query, or is not a supported label printer"},
    {VDL_ERR_WRITE_CHUNK, "the printer did not take the data (connection lost, or busy for too long)"},
    {VDL_ERR_PORT_APPLY, "the serial port refused its settings"},
    {VDL_ERR_WRITE, "the printer did not take the whole command, or a text could not be converted"},
    {VDL_ERR_NO_REPLY, "the printer did not answer"},
    {VDL_ERR_BT_SDP, "no Bluetooth connection to the printer's service directory"},
    {VDL_ERR_BT_NO_CHANNEL, "the Bluetooth printer offers no serial port service"},
    {VDL_ERR_BT_SOCKET, "no Bluetooth socket could be created"},
    {VDL_ERR_BT_BIND, "the Bluetooth socket could not be bound to a local adapter"},
    {VDL_ERR_BT_CONNECT, "the Bluetooth printer refused the connection"},
    {VDL_ERR_PORT_NAME, "the port name is not valid: use USB, /dev/ttyS0:9600, SERIAL:9600, /dev/lp0, PARALLEL, a Bluetooth address or an IPv4 address and port such as 192.168.1.50:9100"},
    {VDL_ERR_SOCKET, "no network socket could be created"},
    {VDL_ERR_IMAGE_OPEN, "the image file cannot be opened"},
    {VDL_ERR_IMAGE_FORMAT, "the image file is not a supported picture"},
    {VDL_ERR_NO_MEMORY, "out of memory"},
    {VDL_ERR_BLOCK_OPTION, "invalid block option"},
    {kNotConnected, "not connected"},
    {kLabelUnderWay, "a label is being composed already (labels do not nest)"},
    // The ZPL translator's codes (VdlZpl.h), so that they read as words wherever a code is shown.
    {-201, "no ZPL, or no place for the result, was given"},
    {-202, "the ZPL is malformed"},
    {-203, "the label needs a warning and strict translation refuses it"},
    {-204, "the ZPL passes a bound of the translator"},
    {-205, "the process is connected to a printer; disconnect before converting"},
    {-206, "the printer's bytes could not be captured"},
    {-207, "no printer is connected"},
};

/** The words for every error bit of the printer's status, in bit order. */
inline constexpr Words kStatusWords[] = {
    {VDL_STATUS_PAPER_PRESENCE, "paper presence error"},
    {VDL_STATUS_RIBBON_END, "ribbon end"},
    {VDL_STATUS_GAP_ERROR, "gap not found"},
    {VDL_STATUS_HEAD_OVERHEAT, "print head overheated"},
    {VDL_STATUS_CUTTER_JAM, "cutter jam"},
    {VDL_STATUS_COVER_OPEN, "cover open"},
    {VDL_STATUS_PAPER_EMPTY, "paper empty"},
};

/**
 * Positions and sizes are in dots: millimetres as dots at the printer's
 * resolution (203, 300 or 600 dots per inch), rounded to the nearest dot.
 */
constexpr int dotsFromMillimetres(double millimetres, int dotsPerInch = 203) noexcept {
    const double dots = millimetres * dotsPerInch / 25.4;
    return int(dots < 0 ? dots - 0.5 : dots + 0.5);
}

/** The words for a failure code, or "unexpected result N". */
inline std::string describe(int code) {
    for (const Words &w : kErrorWords)
        if (w.code == code) return w.words;
    return "unexpected result " + std::to_string(code);
}

/** @cond internal */
namespace detail {
// The category's behaviour. Its one object is the library's (VdlErrorCategory).
struct Category final : std::error_category {
    const char *name() const noexcept override { return "vdl"; }
    std::string message(int code) const override { return describe(code); }
};
}  // namespace detail
/** @endcond */

/**
 * The category of the library's result codes; message() gives the words of
 * kErrorWords. One object for the whole process, held by the library, so that
 * codes made in different shared objects compare equal.
 */
inline const std::error_category &category() noexcept {
#if defined(_LIBCPP_VERSION)
    // The library's object belongs to libstdc++: an application on another
    // standard library gets one category per shared object instead.
    static const detail::Category instance;
    return instance;
#else
    return *static_cast<const std::error_category *>(VdlErrorCategory());
#endif
}

/** The library's failure codes as a typed enum; comparable with std::error_code. */
enum class Errc : int {
    port_setup = VDL_ERR_PORT_SETUP,          /**< VDL_ERR_PORT_SETUP */
    open = VDL_ERR_OPEN,                      /**< VDL_ERR_OPEN */
    not_accepted = VDL_ERR_NOT_ACCEPTED,      /**< VDL_ERR_NOT_ACCEPTED */
    write_chunk = VDL_ERR_WRITE_CHUNK,        /**< VDL_ERR_WRITE_CHUNK */
    port_apply = VDL_ERR_PORT_APPLY,          /**< VDL_ERR_PORT_APPLY */
    write = VDL_ERR_WRITE,                    /**< VDL_ERR_WRITE */
    no_reply = VDL_ERR_NO_REPLY,              /**< VDL_ERR_NO_REPLY */
    bt_sdp = VDL_ERR_BT_SDP,                  /**< VDL_ERR_BT_SDP */
    bt_no_channel = VDL_ERR_BT_NO_CHANNEL,    /**< VDL_ERR_BT_NO_CHANNEL */
    bt_socket = VDL_ERR_BT_SOCKET,            /**< VDL_ERR_BT_SOCKET */
    bt_bind = VDL_ERR_BT_BIND,                /**< VDL_ERR_BT_BIND */
    bt_connect = VDL_ERR_BT_CONNECT,          /**< VDL_ERR_BT_CONNECT */
    port_name = VDL_ERR_PORT_NAME,            /**< VDL_ERR_PORT_NAME */
    socket = VDL_ERR_SOCKET,                  /**< VDL_ERR_SOCKET */
    image_open = VDL_ERR_IMAGE_OPEN,          /**< VDL_ERR_IMAGE_OPEN */
    image_format = VDL_ERR_IMAGE_FORMAT,      /**< VDL_ERR_IMAGE_FORMAT */
    no_memory = VDL_ERR_NO_MEMORY,            /**< VDL_ERR_NO_MEMORY */
    block_option = VDL_ERR_BLOCK_OPTION,      /**< VDL_ERR_BLOCK_OPTION */
    not_connected = kNotConnected,            /**< the printer object does not hold the connection */
    label_under_way = kLabelUnderWay          /**< label() inside label() */
};

/** A library result code as a std::error_code of vdl::category(). */
inline std::error_code make_error_code(Errc code) noexcept { return {static_cast<int>(code), category()}; }

/** A failed call: a std::system_error whose code() is in vdl::category(). */
class Error : public std::system_error {
public:
    /** @param code the failure; @param operation what was being done (the start of what()) */
    Error(std::error_code code, const std::string &operation) : std::system_error(code, operation) {}
};

}  // namespace vdl

/** @cond internal */
namespace std {
template <>
struct is_error_code_enum<vdl::Errc> : true_type {};
}  // namespace std
/** @endcond */

namespace vdl {

/** Device fonts of the T command: 0-9, and the letters 'a'-'n' ('a'-'f' Korean, 'm' GB18030, 'n' BIG5). */
enum class DeviceFont : int {
    f0 = 0, f1, f2, f3, f4, f5, f6, f7, f8, f9,  ///< the numbered fonts
    a = 'a', b, c, d, e, f, g, h, i, j, k, l, m, n  ///< the letter fonts
};

/** Vector fonts of the V command, by the printer's letter. */
enum class VectorFont : int {
    U = 0,  ///< 'U', text unconverted
    K = 1,  ///< 'K', text converted to EUC-KR
    B = 2,  ///< 'B', text converted to BIG5
    G = 3,  ///< 'G', text converted to GB18030
    J = 4,  ///< 'J', text converted to CP932
    a = 5,  ///< 'a', text unconverted
    b = 6   ///< 'b', text unconverted
};

/** Rotation of text and symbols, in quarter turns. */
enum class Rotation : int { r0 = 0, r90 = 1, r180 = 2, r270 = 3 };  ///< none, one, two, three quarter turns

/** Alignment of vector-font text. */
enum class Alignment : int { left = 0, centre = 1, right = 2 };  ///< the L, C and R alignments

/** Linear symbologies of Print1DBarcode. */
enum class Symbology : int {
    code39 = 0, code128, interleaved2of5, codabar, code93, upca, upce, ean13, ean8, gs1_128, code11,
    industrial2of5, msi_plessey, postnet, planet, itf14, code39_full_ascii  ///< the printer's codes 0-16
};

/** Code pages for converted text (the VdlCodePage values). */
enum class CodePage : int {
    euc_kr = VDL_CP_EUC_KR, cp949 = VDL_CP_CP949, euc_cn = VDL_CP_EUC_CN, gb18030 = VDL_CP_GB18030,
    big5 = VDL_CP_BIG5, cp950 = VDL_CP_CP950, euc_jp = VDL_CP_EUC_JP, cp932 = VDL_CP_CP932,
    cp874 = VDL_CP_CP874  ///< the nine target encodings
};

/** Media of SetPaper. */
enum class MediaType : int { gap = 0, continuous = 1, black_mark = 2 };  ///< labels with gaps, endless, marked

/** Block options of PrintBlock. */
enum class BlockOption : int {
    overwrite = 0,     ///< 'O': fills the rectangle black
    exclusive_or = 1,  ///< 'E': inverts it
    erase = 2,         ///< 'D': clears it to white
    slope = 3,         ///< 'S': a line from corner to corner, optionValue dots thick
    box = 4            ///< 'B': a box, optionValue dots thick
};

/** Which end of the label prints first. */
enum class Orientation : int { top_first = 'T', bottom_first = 'B' };  ///< 'T' or 'B'

/** Printing method. */
enum class PrintingType : int { direct_thermal = 0, thermal_transfer = 1 };  ///< 'd' or 't'

/** RFID write types of WriteRFID. */
enum class RfidWrite : int { A = 1, H = 2, U = 3, E = 4 };  ///< the printer's letters

/** CODABLOCK modes. */
enum class CodablockMode : int { A = 0, E = 1, F = 2 };  ///< the printer's letters

/** One error bit of the printer's status. */
enum class StatusBit : std::uint8_t {
    paper_presence = VDL_STATUS_PAPER_PRESENCE, ribbon_end = VDL_STATUS_RIBBON_END,
    gap_error = VDL_STATUS_GAP_ERROR, head_overheat = VDL_STATUS_HEAD_OVERHEAT,
    cutter_jam = VDL_STATUS_CUTTER_JAM, cover_open = VDL_STATUS_COVER_OPEN,
    paper_empty = VDL_STATUS_PAPER_EMPTY  ///< the VdlStatusBit values
};

/** The error bits of the printer's status; none set means ready. */
class Status {
public:
    /** A status of the given bits. */
    constexpr explicit Status(std::uint8_t bits = 0) noexcept : bits_(bits) {}
    /** A status of one bit. */
    constexpr Status(StatusBit bit) noexcept : bits_(static_cast<std::uint8_t>(bit)) {}
    /** The bits as the printer sent them. */
    constexpr std::uint8_t bits() const noexcept { return bits_; }
    /** True when no error bit is set. */
    constexpr bool ready() const noexcept { return bits_ == 0; }
    /** True when every bit of other is set here. */
    constexpr bool has(Status other) const noexcept { return (bits_ & other.bits_) == other.bits_ && other.bits_; }
    /** Both statuses' bits. */
    friend constexpr Status operator|(Status a, Status b) noexcept { return Status(std::uint8_t(a.bits_ | b.bits_)); }
    /** Same bits. */
    friend constexpr bool operator==(Status a, Status b) noexcept { return a.bits_ == b.bits_; }
    /** Different bits. */
    friend constexpr bool operator!=(Status a, Status b) noexcept { return a.bits_ != b.bits_; }

private:
    std::uint8_t bits_;
};

/** "ready", or the words of each error bit set, joined by ", " ("cover open, paper empty"). */
inline std::string to_string(Status status) {
    if (status.ready()) return "ready";
    std::string text;
    for (const Words &w : kStatusWords)
        if (status.bits() & w.code) text += (text.empty() ? "" : ", ") + std::string(w.words);
    return text;
}

/** @cond internal */
namespace detail {

inline std::error_code codeOf(int result) noexcept {
    return result < 0 ? std::error_code(result, category()) : std::error_code();
}

// Runs a call that allocates (texts made NUL-terminated, pictures): running
// out of memory is reported as the library would, not thrown. Without
// exceptions it ends the program, as every allocation failure in such a build.
template <typename Call>
int guarded(Call &&call) noexcept {
#if defined(__cpp_exceptions)
    try {
        return call();
    } catch (const std::bad_alloc &) {
        return VDL_ERR_NO_MEMORY;
    }
#else
    return call();
#endif
}

inline std::string cstr(std::string_view text) { return std::string(text.substr(0, text.find('\0'))); }

// Releases what the library allocated with malloc.
struct FreeBytes {
    void operator()(unsigned char *bytes) const noexcept { std::free(bytes); }
};
using LibraryBytes = std::unique_ptr<unsigned char, FreeBytes>;

// A picture file by its content (VdlLoadPicture), held as the library made
// it, or why it could not be loaded; print() sends it as one bitmap command.
class LoadedPicture {
public:
    explicit LoadedPicture(const std::string &path) noexcept
        : loaded_(VdlLoadPicture(path.c_str(), &made_, &info_, 0)), raster_(made_) {}
    bool loaded() const noexcept { return loaded_ == VDL_OK; }
    int print(int x, int y, bool compress) const noexcept {
        if (loaded_ != VDL_OK) return loaded_;
        return compress ? printLCR(raster_.get(), &info_, x, y) : printLD(raster_.get(), &info_, x, y);
    }

private:
    unsigned char *made_ = nullptr;
    BITMAPINFOHEADER info_{};
    int loaded_;
    LibraryBytes raster_;
};

}  // namespace detail
/** @endcond */

/**
 * A picture of one bit per pixel as the bitmap commands take it: height rows
 * of (width + 7) / 8 bytes, top row first, most significant bit leftmost,
 * 1 = black. Made by the application pixel by pixel or row by row, or loaded
 * from an image file and rescaled by the library, so that it prints as
 * PrintBitmap prints the file.
 */
class Raster {
public:
    /** An all-white raster; sides are limited to 1..65535. */
    Raster(int width, int height)
        : width_(clampSide(width)), height_(clampSide(height)),
          bits_(std::size_t(rowBytes()) * std::size_t(height_), 0) {}
    int width() const noexcept { return width_; }                 ///< pixels a row
    int height() const noexcept { return height_; }               ///< rows
    int rowBytes() const noexcept { return (width_ + 7) / 8; }    ///< bytes a row
    const std::vector<unsigned char> &bits() const noexcept { return bits_; }  ///< all rows
    /** True when the pixel at (x, y) is black; positions outside are white. */
    bool black(int x, int y) const noexcept {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return false;
        return bits_[std::size_t(y) * std::size_t(rowBytes()) + std::size_t(x / 8)] & (0x80 >> (x % 8));
    }
    /** Makes the pixel at (x, y) black; positions outside are ignored. */
    void setBlack(int x, int y) noexcept {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
        const std::size_t at = std::size_t(y) * std::size_t(rowBytes()) + std::size_t(x / 8);
        bits_[at] |= static_cast<unsigned char>(0x80 >> (x % 8));
    }
    /**
     * Sets row y from packed bits as bits() holds them (most significant bit
     * leftmost, 1 = black). Bytes past rowBytes() are not read; the row's
     * bytes past the given ones and its bits past the width are white. A row
     * outside the raster is ignored.
     */
    void setRow(int y, const unsigned char *row, std::size_t bytes) noexcept {
        if (y < 0 || y >= height_ || row == nullptr) return;
        const std::size_t size = std::size_t(rowBytes());
        unsigned char *to = bits_.data() + std::size_t(y) * size;
        for (std::size_t i = 0; i < size; ++i) to[i] = i < bytes ? row[i] : 0;
        if (width_ % 8 != 0) to[size - 1] = static_cast<unsigned char>(to[size - 1] & (0xff00u >> (width_ % 8)));
    }
    /** The info header the bitmap commands read the size from. */
    BITMAPINFOHEADER info() const noexcept {
        BITMAPINFOHEADER header{};
        header.biSize = 40;
        header.biWidth = width_;
        header.biHeight = height_;
        header.biPlanes = 1;
        header.biBitCount = 1;
        return header;
    }

    /**
     * The picture of an image file, loaded by the library by its content
     * (VdlLoadPicture): BMP, JPEG and GIF as PrintBitmap prints them (every
     * pixel that is not pure white is black), PNG laid over white with every
     * pixel darker than mid grey black. A targetWidth above 0 rescales it as
     * rescaled() does. While it loads, the picture is held twice (the
     * library's raster and its copy here); printBitmap() holds it once. On
     * failure error is vdl::Errc::image_open,
     * image_format (also when the rescaled picture would have no row) or
     * no_memory, and the raster is one white pixel.
     */
    static Raster load(std::string_view path, std::error_code &error, int targetWidth = 0) noexcept {
        Raster raster(1, 1);
        error = detail::codeOf(detail::guarded([&] { return raster.loadFile(detail::cstr(path), targetWidth); }));
        return raster;
    }
    /**
     * This picture rescaled by the library to targetWidth pixels (resizeImage:
     * nearest neighbour, the height in proportion, as loadImage rescales); the
     * same width gives a copy. It takes a byte for every pixel of this
     * picture while it works. On failure error is vdl::Errc::image_format (a
     * targetWidth below 1, a result too large or without a row) or
     * no_memory, and the raster is one white pixel.
     */
    Raster rescaled(int targetWidth, std::error_code &error) const noexcept {
        Raster raster(1, 1);
        error = detail::codeOf(detail::guarded([&] { return raster.rescale(*this, targetWidth); }));
        return raster;
    }
#if defined(__cpp_exceptions)
    /** As load(path, error, targetWidth), but throws vdl::Error on failure. */
    static Raster load(std::string_view path, int targetWidth = 0) {
        std::error_code error;
        Raster raster = load(path, error, targetWidth);
        if (error) throw Error(error, "load " + std::string(path));
        return raster;
    }
    /** As rescaled(targetWidth, error), but throws vdl::Error on failure. */
    Raster rescaled(int targetWidth) const {
        std::error_code error;
        Raster raster = rescaled(targetWidth, error);
        if (error) throw Error(error, "rescale to " + std::to_string(targetWidth) + " pixels");
        return raster;
    }
#endif

private:
    static int clampSide(int side) noexcept { return side < 1 ? 1 : side > 65535 ? 65535 : side; }

    int loadFile(const std::string &path, int targetWidth) {
        unsigned char *made = nullptr;
        BITMAPINFOHEADER madeInfo{};
        const int result = VdlLoadPicture(path.c_str(), &made, &madeInfo, targetWidth);
        return take(result, made, madeInfo);
    }

    int rescale(const Raster &from, int targetWidth) {
        if (targetWidth == from.width_) {  // as loadImage, which rescales only to another width
            *this = from;
            return VDL_OK;
        }
        // resizeImage reads one byte a pixel, non-zero black.
        const std::size_t count = std::size_t(from.width_) * std::size_t(from.height_);
        const detail::LibraryBytes pixels(static_cast<unsigned char *>(std::malloc(count)));
        if (!pixels) return VDL_ERR_NO_MEMORY;
        unsigned char *pixel = pixels.get();
        for (int y = 0; y < from.height_; ++y)
            for (int x = 0; x < from.width_; ++x) *pixel++ = from.black(x, y) ? 1 : 0;
        BITMAPINFOHEADER madeInfo = from.info();
        unsigned char *made = nullptr;
        const int result = resizeImage(pixels.get(), &made, targetWidth, &madeInfo);
        return take(result, made, madeInfo);
    }

    // Takes over a raster the library made (malloc'd rows of the size in
    // madeInfo), or passes its failure on. A picture without a row is none.
    int take(int result, unsigned char *made, const BITMAPINFOHEADER &madeInfo) {
        const detail::LibraryBytes owned(made);
        if (result < 0) return result;
        if (made == nullptr || madeInfo.biWidth < 1 || madeInfo.biHeight < 1) return VDL_ERR_IMAGE_FORMAT;
        const std::size_t size = std::size_t((madeInfo.biWidth + 7) / 8) * std::size_t(madeInfo.biHeight);
        bits_.assign(made, made + size);
        width_ = madeInfo.biWidth;
        height_ = madeInfo.biHeight;
        return VDL_OK;
    }

    int width_, height_;
    std::vector<unsigned char> bits_;
};

/** A value and the code of the call that produced it (NothrowPrinter's calls that return a value). */
template <typename T>
struct Outcome {
    T value{};              ///< the value; default-constructed when the call failed
    std::error_code error;  ///< empty on success
    /** True on success. */
    explicit operator bool() const noexcept { return !error; }
};

/** @cond internal */
namespace detail {

// What the interface keeps beside the library's one connection of the
// process, held by the library (VdlInterfaceState) so that all shared objects
// share it. The library takes no lock, so every call of a printer object runs
// under `mutex`, and a whole label() under it too, so that the labels of two
// threads never mix in the one command buffer. Processes are named by pid: a
// forked child is neither the owner of the connection nor inside label().
struct Connection {
    pthread_mutex_t mutex;       // recursive: label() calls the other calls
    pid_t owner = 0;             // the process whose printer object holds the connection; 0: none
    pid_t composing = 0;         // the process inside label(); 0: none
    int labelFailure = 0;        // the first failure inside that label()
    bool labelUnderWay = false;  // content was added since the last print or discard

    Connection() noexcept { initMutex(); }
    void initMutex() noexcept {
        pthread_mutexattr_t attributes;
        pthread_mutexattr_init(&attributes);
        pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
        pthread_mutex_init(&mutex, &attributes);
        pthread_mutexattr_destroy(&attributes);
    }
    bool held() const noexcept { return owner == getpid(); }
    bool inLabel() const noexcept { return composing == getpid(); }
};

inline Connection &connection() noexcept { return *static_cast<Connection *>(VdlInterfaceState()); }

// Holds the connection's lock for a scope.
class Lock {
public:
    Lock() noexcept { pthread_mutex_lock(&connection().mutex); }
    ~Lock() { pthread_mutex_unlock(&connection().mutex); }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;
};

#if defined(__cpp_exceptions)
struct Throwing {
    static constexpr bool nothrow = false;
    using Done = void;
    template <typename T>
    using Value = T;
    static void done(int result, const char *operation) {
        if (result < 0) throw Error(codeOf(result), operation);
    }
    template <typename T>
    static T value(int result, T value, const char *operation) {
        done(result, operation);
        return value;
    }
};
#endif

struct ErrorCodes {
    static constexpr bool nothrow = true;
    using Done = std::error_code;
    template <typename T>
    using Value = Outcome<T>;
    static std::error_code done(int result, const char *) noexcept { return codeOf(result); }
    template <typename T>
    static Outcome<T> value(int result, T value, const char *) noexcept {
        if (result < 0) return Outcome<T>{T{}, codeOf(result)};
        return Outcome<T>{std::move(value), {}};
    }
};

}  // namespace detail
/** @endcond */

/**
 * The connection to one printer, open for the lifetime of the object or
 * until disconnect(); the calls compose labels on it, send settings and
 * actions and ask for status. Movable, not copyable. An object that does not
 * hold the connection sends nothing: its calls fail with
 * vdl::Errc::not_connected. Policy decides how failures come back: see
 * vdl::Printer (exceptions) and vdl::NothrowPrinter (error codes).
 */
template <typename Policy>
class BasicPrinter {
public:
    using Done = typename Policy::Done;  ///< void, or std::error_code
    template <typename T>
    using Value = typename Policy::template Value<T>;  ///< T, or Outcome<T>

#if defined(__cpp_exceptions)
    /** Connects to port (see ConnectToPrinter for the port names); throws vdl::Error on failure. */
    explicit BasicPrinter(std::string_view port) {
        if (const std::error_code error = connect(port)) throw Error(error, "connect to " + std::string(port));
    }
#endif
    /** Connects to port; error is set on failure, and the object is then not connected. */
    BasicPrinter(std::string_view port, std::error_code &error) noexcept { error = connect(port); }
    /** Disconnects. */
    ~BasicPrinter() { release(); }
    /** Takes over other's connection. */
    BasicPrinter(BasicPrinter &&other) noexcept
        : connected_(std::exchange(other.connected_, false)), owner_(other.owner_) {}
    /** Disconnects this one, then takes over other's connection. */
    BasicPrinter &operator=(BasicPrinter &&other) noexcept {
        if (this != &other) {
            release();
            connected_ = std::exchange(other.connected_, false);
            owner_ = other.owner_;
        }
        return *this;
    }
    BasicPrinter(const BasicPrinter &) = delete;             ///< one connection: not copyable
    BasicPrinter &operator=(const BasicPrinter &) = delete;  ///< one connection: not copyable

    /** True while this object holds the connection; in a child process forked after the connect, false. */
    bool connected() const noexcept { return connected_ && owner_ == getpid(); }
    /** Closes the connection now, keeping the command buffer (DisconnectPrinter); does nothing on an
     *  object that does not hold the connection, whoever holds it. */
    void disconnect() noexcept { release(); }
    /** The model name of the connected printer, as in the model table. */
    std::string_view model() const noexcept {
        const char *name = connected() ? VELDRIN_DEVICE[gPrinterModel] : nullptr;
        return name ? name : "";
    }
    /** The connected printer's resolution, 203, 300 or 600 dots per inch (VdlModelDotsPerInch); 0 when
     *  not connected. Every position and size of a label is in these dots. */
    int dotsPerInch() const noexcept { return connected() ? VdlModelDotsPerInch(gPrinterModel) : 0; }
    /** Millimetres as dots of the connected printer (dotsFromMillimetres at dotsPerInch(); 203 dpi when
     *  not connected). */
    int dots(double millimetres) const noexcept {
        const int dpi = dotsPerInch();
        return dotsFromMillimetres(millimetres, dpi > 0 ? dpi : 203);
    }

    /// @name Label content (buffered until print())
    /// @{
    /** Device-font text (PrintDeviceFont), or converted to codePage (PrintDeviceFontW) when one is given. */
    Done printDeviceFont(std::string_view text, int x, int y, DeviceFont font = DeviceFont::f3, int horizontal = 1,
                         int vertical = 1, Rotation rotation = Rotation::r0,
                         bool bold = false) noexcept(Policy::nothrow) {
        return content([&] { return PrintDeviceFont(detail::cstr(text).c_str(), x, y, int(font), horizontal, vertical,
                                                 int(rotation), bold); }, "PrintDeviceFont");
    }
    /** Device-font text converted to codePage for every letter font (PrintDeviceFontW). */
    Done printDeviceFont(std::string_view text, int x, int y, DeviceFont font, int horizontal, int vertical,
                         Rotation rotation, bool bold, CodePage codePage) noexcept(Policy::nothrow) {
        return content([&] { return PrintDeviceFontW(detail::cstr(text).c_str(), x, y, int(font), horizontal, vertical,
                                                  int(rotation), bold, int(codePage)); }, "PrintDeviceFontW");
    }
    /** Vector-font text (PrintVectorFont). */
    Done printVectorFont(std::string_view text, int x, int y, VectorFont font, int width, int height, int spacing = 0,
                         bool bold = false, bool reverse = false, bool italic = false, Rotation rotation = Rotation::r0,
                         Alignment alignment = Alignment::left, int direction = 0) noexcept(Policy::nothrow) {
        return content([&] { return PrintVectorFont(detail::cstr(text).c_str(), x, y, int(font), width, height, spacing,
                                                 bold, reverse, italic, int(rotation), int(alignment), direction); },
                    "PrintVectorFont");
    }
    /** Vector-font text converted to codePage unless the font is U (PrintVectorFontW). */
    Done printVectorFont(std::string_view text, int x, int y, VectorFont font, int width, int height, int spacing,
                         bool bold, bool reverse, bool italic, Rotation rotation, Alignment alignment, int direction,
                         CodePage codePage) noexcept(Policy::nothrow) {
        return content([&] { return PrintVectorFontW(detail::cstr(text).c_str(), x, y, int(font), width, height,
                                                  spacing, bold, reverse, italic, int(rotation), int(alignment),
                                                  direction, int(codePage)); }, "PrintVectorFontW");
    }
    /** A line or box (PrintBlock); optionValue counts for slope and box only. */
    Done printBlock(int x1, int y1, int x2, int y2, BlockOption option, int optionValue = 0) noexcept(Policy::nothrow) {
        return content([&] { return PrintBlock(x1, y1, x2, y2, int(option), optionValue); }, "PrintBlock");
    }
    /** A circle (PrintCircle): size 1-6, multiplier 1-4. */
    Done printCircle(int x, int y, int size = 2, int multiplier = 1) noexcept(Policy::nothrow) {
        return content([&] { return PrintCircle(x, y, size, multiplier); }, "PrintCircle");
    }
    /** A linear barcode (Print1DBarcode); fields 4-6 and 8 go to the printer as given. */
    Done print1DBarcode(std::string_view data, int x, int y, Symbology symbology, int field4 = 2, int field5 = 4,
                        int field6 = 100, Rotation rotation = Rotation::r0, int field8 = 0) noexcept(Policy::nothrow) {
        return content([&] { return Print1DBarcode(detail::cstr(data).c_str(), x, y, int(symbology), field4, field5,
                                                field6, int(rotation), field8); }, "Print1DBarcode");
    }
    /** MaxiCode (PrintMaxiCode). */
    Done printMaxiCode(std::string_view data, int x, int y, int mode = 0) noexcept(Policy::nothrow) {
        return content([&] { return PrintMaxiCode(detail::cstr(data).c_str(), x, y, mode); }, "PrintMaxiCode");
    }
    /** PDF417 (PrintPDF417). */
    Done printPDF417(std::string_view data, int x, int y, int rows = 30, int columns = 5, int eccLevel = 0,
                     int field7 = 0, bool field8 = false, int field9 = 1, int field10 = 3, int field11 = 10,
                     Rotation rotation = Rotation::r0) noexcept(Policy::nothrow) {
        return content([&] { return PrintPDF417(detail::cstr(data).c_str(), x, y, rows, columns, eccLevel, field7,
                                             field8, field9, field10, field11, int(rotation)); }, "PrintPDF417");
    }
    /** QR Code (PrintQRCode): eccLevel 0 L, 1 M, 2 Q, 3 H. */
    Done printQRCode(std::string_view data, int x, int y, int model = 2, int eccLevel = 1, int field6 = 4,
                     Rotation rotation = Rotation::r0) noexcept(Policy::nothrow) {
        return content([&] { return PrintQRCode(detail::cstr(data).c_str(), x, y, model, eccLevel, field6,
                                             int(rotation)); }, "PrintQRCode");
    }
    /** Data Matrix (PrintDataMatrix). */
    Done printDataMatrix(std::string_view data, int x, int y, int field4 = 2, bool field5 = false,
                         Rotation rotation = Rotation::r0) noexcept(Policy::nothrow) {
        return content([&] { return PrintDataMatrix(detail::cstr(data).c_str(), x, y, field4, field5, int(rotation)); },
                    "PrintDataMatrix");
    }
    /** Aztec (PrintAztec). */
    Done printAztec(std::string_view data, int x, int y, int field4 = 2, int field5 = 0, int field6 = 0,
                    bool field7 = false, int field8 = 15, int field9 = 0,
                    Rotation rotation = Rotation::r0) noexcept(Policy::nothrow) {
        return content([&] { return PrintAztec(detail::cstr(data).c_str(), x, y, field4, field5, field6, field7, field8,
                                            field9, int(rotation)); }, "PrintAztec");
    }
    /** Code 49 (PrintCode49). */
    Done printCode49(std::string_view data, int x, int y, int field4, int field5, int field6, int field7 = 0,
                     int field8 = 0, Rotation rotation = Rotation::r0) noexcept(Policy::nothrow) {
        return content([&] { return PrintCode49(detail::cstr(data).c_str(), x, y, field4, field5, field6, field7, field8,
                                             int(rotation)); }, "PrintCode49");
    }
    /** CODABLOCK (PrintCODABLOCK). */
    Done printCODABLOCK(std::string_view data, int x, int y, int field4, int field5, int field6, bool field7 = false,
                        int field8 = 30, CodablockMode mode = CodablockMode::E,
                        int field10 = 3) noexcept(Policy::nothrow) {
        return content([&] { return PrintCODABLOCK(detail::cstr(data).c_str(), x, y, field4, field5, field6, field7,
                                                field8, int(mode), field10); }, "PrintCODABLOCK");
    }
    /** MicroPDF417 (PrintMicroPDF). */
    Done printMicroPDF(std::string_view data, int x, int y, int field4 = 5, int field5 = 50, int field6 = 0,
                       Rotation rotation = Rotation::r0) noexcept(Policy::nothrow) {
        return content([&] { return PrintMicroPDF(detail::cstr(data).c_str(), x, y, field4, field5, field6,
                                               int(rotation)); }, "PrintMicroPDF");
    }
    /** GS1 DataBar (PrintGS1DataBar). */
    Done printGS1DataBar(std::string_view data, int x, int y, int field4 = 5, int field5 = 1, int field6 = 1,
                         int field7 = 0, int segments = 6, Rotation rotation = Rotation::r0) noexcept(Policy::nothrow) {
        return content([&] { return PrintGS1DataBar(detail::cstr(data).c_str(), x, y, field4, field5, field6, field7,
                                                 segments, int(rotation)); }, "PrintGS1DataBar");
    }
    /**
     * Ends the label: the print command and all buffered content go out
     * (Prints); copies of each label, and sets of them. A label whose print
     * fails is discarded, as any failed label (see label()).
     */
    Done print(int copies = 1, int sets = 1) noexcept(Policy::nothrow) {
        detail::Lock lock;
        if (detail::connection().inLabel()) return Policy::done(failInLabel(kLabelUnderWay), "Prints");
        return Policy::done(printNow(copies, sets), "Prints");
    }

    /**
     * One label, all or nothing: compose() adds its content, then the label
     * prints (Prints(copies, sets)). A label that does not complete prints
     * nothing: when compose() throws, or a call in it fails (also one whose
     * failure compose() caught or ignored), or the print fails, the label is
     * discarded (discardLabel()) and the failure passed on, as the exception
     * thrown or the first failure's code. The connection's lock is held
     * throughout, so the labels of two threads never mix. Labels do not nest,
     * and a label prints once: label() or print() inside compose() fails with
     * vdl::Errc::label_under_way (and so fails the label).
     */
    template <typename Compose>
    Done label(Compose &&compose, int copies = 1, int sets = 1) noexcept(Policy::nothrow && noexcept(compose())) {
        detail::Lock lock;
        if (!connected()) return Policy::done(kNotConnected, "label");
        if (detail::connection().inLabel()) return Policy::done(failInLabel(kLabelUnderWay), "label");
        Composing composing;
        std::forward<Compose>(compose)();
        const int failure = composing.end();
        return Policy::done(failure < 0 ? failure : printNow(copies, sets), "label");
    }

    /**
     * Drops the label under way: the library's command buffer is emptied,
     * and when part of the label already went to the printer (a bitmap, or
     * content past the buffer's flush threshold) the printer's clear-buffer
     * command clears it there. A failed content call does this by itself, so
     * a half-made command never reaches the next label.
     */
    Done discardLabel() noexcept(Policy::nothrow) {
        return done([&] { return discardNow(); }, "discardLabel");
    }
    /// @}

    /// @name Bitmaps (written at once)
    /// @{
    /**
     * The picture of a BMP, JPEG, GIF or PNG file, recognised by its content whatever its name, loaded as
     * Raster::load loads it (VdlLoadPicture) and sent as printRaster sends it: a BMP, JPEG or GIF gives the
     * bytes PrintBitmap gives for it under its own extension. Run-length encoded when compress. A file that
     * cannot be loaded is named in the failure's words ("printBitmap logo.png: the image file is not a
     * supported picture") and sends nothing.
     */
    Done printBitmap(std::string_view path, int x, int y, bool compress = true) noexcept(Policy::nothrow) {
        // Loaded before the connection's lock is taken: a large picture takes
        // seconds, and the labels of other threads go out meanwhile.
        const detail::LoadedPicture picture(detail::cstr(path));
        // A picture that cannot be loaded is named in the failure: "printBitmap logo.png: ...".
        const std::string operation = picture.loaded() ? "printBitmap" : "printBitmap " + std::string(path);
        return content([&] { return picture.print(x, y, compress); }, operation.c_str());
    }
    /** A raster made by the application (printLCR when compress, else printLD). */
    Done printRaster(const Raster &raster, int x, int y, bool compress = true) noexcept(Policy::nothrow) {
        const BITMAPINFOHEADER info = raster.info();
        return content([&] { return compress ? printLCR(raster.bits().data(), &info, x, y)
                                          : printLD(raster.bits().data(), &info, x, y); },
                    compress ? "printLCR" : "printLD");
    }
    /**
     * A raster made by the application printed as one label, its bitmap,
     * the content buffered and the print command in one paced write
     * (PrintRasterLabel): the bytes of printRaster() and print(), a third of
     * the pauses. A label that fails is discarded, as print() discards it.
     */
    Done printRasterLabel(const Raster &raster, int x, int y, bool compress = true, int copies = 1,
                          int sets = 1) noexcept(Policy::nothrow) {
        detail::Lock lock;
        if (detail::connection().inLabel()) return Policy::done(failInLabel(kLabelUnderWay), "PrintRasterLabel");
        const BITMAPINFOHEADER info = raster.info();
        return Policy::done(
            endLabel([&] { return PrintRasterLabel(raster.bits().data(), &info, x, y, compress ? 1 : 0, copies, sets); }),
            "PrintRasterLabel");
    }
    /// @}

    /// @name Actions and settings (written at once)
    /// @{
    /** Initialises the printer (InitializePrinter). */
    Done initialize() noexcept(Policy::nothrow) { return done(InitializePrinter, "InitializePrinter"); }
    /** Makes the printer measure its media (CalibrateMedia). */
    Done calibrateMedia() noexcept(Policy::nothrow) { return done(CalibrateMedia, "CalibrateMedia"); }
    Done reset() noexcept(Policy::nothrow) { return done(ResetPrinter, "ResetPrinter"); }  ///< ResetPrinter
    Done feedOneLabel() noexcept(Policy::nothrow) { return done(FeedOneLabel, "FeedOneLabel"); }  ///< FeedOneLabel
    /** Print speed 0-12 (clamped by the library). */
    Done setSpeed(int speed) noexcept(Policy::nothrow) { return done([&] { return SetSpeed(speed); }, "SetSpeed"); }
    /** Print density 0-20 (clamped by the library). */
    Done setDensity(int density) noexcept(Policy::nothrow) {
        return done([&] { return SetDensity(density); }, "SetDensity");
    }
    /** Which end prints first. */
    Done setOrientation(Orientation orientation) noexcept(Policy::nothrow) {
        return done([&] { return SetOrientation(int(orientation)); }, "SetOrientation");
    }
    /** Cutter on or off; with a period, cuts every period labels. */
    Done setCutter(bool autoCut, int cutPeriod = 0) noexcept(Policy::nothrow) {
        return done([&] { return SetCutter(autoCut, cutPeriod); }, "SetCutter");
    }
    /** Rewinder on or off. */
    Done setRewinder(bool rewind) noexcept(Policy::nothrow) {
        return done([&] { return SetRewinder(rewind); }, "SetRewinder");
    }
    /** Print offset -100 to 100 (clamped). */
    Done setOffset(int offset) noexcept(Policy::nothrow) {
        return done([&] { return SetOffset(offset); }, "SetOffset");
    }
    /** Cut position -100 to 100 (clamped; SetCutPostion). */
    Done setCutPosition(int cutPosition) noexcept(Policy::nothrow) {
        return done([&] { return SetCutPostion(cutPosition); }, "SetCutPostion");
    }
    /** Direct thermal or thermal transfer. */
    Done setPrintingType(PrintingType type) noexcept(Policy::nothrow) {
        return done([&] { return SetPrintingType(int(type)); }, "SetPrintingType");
    }
    /** Back feed on or off. */
    Done setBackFeed(bool backFeeding) noexcept(Policy::nothrow) {
        return done([&] { return SetBackFeed(backFeeding); }, "SetBackFeed");
    }
    /** Paper size in dots and media (SetPaper). */
    Done setPaper(int width, int height, MediaType media = MediaType::gap, int offset = 0,
                  int gapLength = 24) noexcept(Policy::nothrow) {
        return done([&] { return SetPaper(width, height, int(media), offset, gapLength); }, "SetPaper");
    }
    /** Margins in dots. */
    Done setMargin(int horizontal, int vertical) noexcept(Policy::nothrow) {
        return done([&] { return SetMargin(horizontal, vertical); }, "SetMargin");
    }
    /** Character set 0-15 and code table 0-255. */
    Done setCharacterSet(int characterSet, int codeTable) noexcept(Policy::nothrow) {
        return done([&] { return SetCharacterSet(characterSet, codeTable); }, "SetCharacterSet");
    }
    /// @}

    /// @name Status
    /// @{
    /** The printer's error bits (CheckPrinterStatus). */
    Value<Status> status() noexcept(Policy::nothrow) {
        const int result = run(CheckPrinterStatus);
        return Policy::value(result, Status(std::uint8_t(result < 0 ? 0 : result)), "CheckPrinterStatus");
    }
    /// @}

    /// @name RFID (written at once)
    /// @{
    /** RFID set-up; the value is the number of bytes written. */
    Value<int> setupRFID(int field1, int field2, int field3, int field4) noexcept(Policy::nothrow) {
        const int result = run([&] { return SetupRFID(field1, field2, field3, field4); });
        return Policy::value(result, result, "SetupRFID");
    }
    Done calibrateRFID() noexcept(Policy::nothrow) { return done(CalibrateRFID, "CalibrateRFID"); }  ///< CalibrateRFID
    /** Position of the encoder. */
    Done setRFIDPosition(int position) noexcept(Policy::nothrow) {
        return done([&] { return SetRFIDPosition(position); }, "SetRFIDPosition");
    }
    /** The EPC data structure. */
    Done setEPCDataStructure(int field1, std::string_view structure) noexcept(Policy::nothrow) {
        return done([&] { return SetEPCDataStructure(field1, detail::cstr(structure).c_str()); },
                    "SetEPCDataStructure");
    }
    /** Writes data to the tag. */
    Done writeRFID(RfidWrite type, int field2, int length, std::string_view data) noexcept(Policy::nothrow) {
        return done([&] { return WriteRFID(int(type), field2, length, detail::cstr(data).c_str()); }, "WriteRFID");
    }
    /** The tag password setting. */
    Done setRFIDPassword(std::string_view part1, std::string_view part2, std::string_view part3,
                         std::string_view part4) noexcept(Policy::nothrow) {
        return done([&] { return SetRFIDPassword(detail::cstr(part1).c_str(), detail::cstr(part2).c_str(),
                                                 detail::cstr(part3).c_str(), detail::cstr(part4).c_str()); },
                    "SetRFIDPassword");
    }
    Done lockRFID() noexcept(Policy::nothrow) { return done(LockRFID, "LockRFID"); }        ///< LockRFID
    Done unlockRFID() noexcept(Policy::nothrow) { return done(UnlockRFID, "UnlockRFID"); }  ///< UnlockRFID
    /// @}

    /// @name Raw bytes (written at once)
    /// @{
    /** Sends bytes as they are (WriteBuffer). */
    Done write(std::string_view bytes) noexcept(Policy::nothrow) {
        return done([&] { return writeAll(bytes); }, "WriteBuffer");
    }
    /** Sends out, then reads a reply of at most replyCapacity (and 512) bytes (DirectIO). */
    Value<std::string> directIO(std::string_view out, std::size_t replyCapacity) noexcept(Policy::nothrow) {
        std::string reply;
        const int result = run([&] {
            reply.resize(replyCapacity < 512 ? replyCapacity : 512);
            std::uint32_t length = std::uint32_t(reply.size());
            const int r = DirectIO(out.data(), std::uint32_t(out.size()), reply.empty() ? nullptr : &reply[0],
                                   &length);
            reply.resize(length < reply.size() ? length : reply.size());
            return r;
        });
        return Policy::value(result, std::move(reply), "DirectIO");
    }
    /** The printer's clear-buffer command (ClearBuffer). */
    Done clearBuffer() noexcept(Policy::nothrow) { return done(ClearBuffer, "ClearBuffer"); }
    /// @}

private:
    std::error_code connect(std::string_view port) noexcept {
        detail::Lock lock;
        detail::Connection &state = detail::connection();
        if (state.owner != 0 && !state.held()) forgetInherited();
        if (gConnectedPrinter || state.owner != 0) return std::make_error_code(std::errc::device_or_resource_busy);
        const int result = detail::guarded([&] { return ConnectToPrinter(detail::cstr(port).c_str()); });
        if (result != VDL_OK) return detail::codeOf(result);
        connected_ = true;
        owner_ = state.owner = getpid();
        state.labelUnderWay = false;
        return {};
    }

    void release() noexcept {
        detail::Lock lock;
        if (connected()) {
            DisconnectPrinter();
            detail::connection().owner = 0;
        }
        connected_ = false;
    }

    // A child forked after the connect shares the parent's descriptor and a
    // copy of its half-made label: it closes its own copy of the descriptor
    // (the parent's stays open) and empties the buffer, so that it can
    // connect by itself and never sends on the parent's connection.
    static void forgetInherited() noexcept {
        DisconnectPrinter();
        initDataBuffer();
        detail::Connection &state = detail::connection();
        state.owner = 0;
        state.labelUnderWay = false;
    }

    static int writeAll(std::string_view bytes) noexcept {
        constexpr std::size_t kPiece = std::size_t(1) << 30;  // WriteBuffer counts in 32 bits
        for (std::size_t sent = 0; sent < bytes.size();) {
            const std::uint32_t piece = std::uint32_t(bytes.size() - sent < kPiece ? bytes.size() - sent : kPiece);
            const int result = WriteBuffer(bytes.data() + sent, piece);
            if (result < 0) return result;
            sent += piece;
        }
        return VDL_OK;
    }

    // Every call reaches the library through here, under the connection's
    // lock: an object that does not hold the connection must not send on the
    // one another object (or the parent process) holds.
    template <typename Call>
    int run(Call &&call) const noexcept {
        detail::Lock lock;
        return connected() ? detail::guarded(std::forward<Call>(call)) : kNotConnected;
    }

    // Inside label(), any failure fails the label.
    template <typename Call>
    Done done(Call &&call, const char *operation) noexcept(Policy::nothrow) {
        detail::Lock lock;
        const int result = run(std::forward<Call>(call));
        if (result < 0 && detail::connection().inLabel()) failInLabel(result);
        return Policy::done(result, operation);
    }

    // A call that adds to the label under way; when it fails the label is
    // discarded.
    template <typename Call>
    Done content(Call &&call, const char *operation) noexcept(Policy::nothrow) {
        detail::Lock lock;
        const int result = run(std::forward<Call>(call));
        if (result == kNotConnected) return Policy::done(failInLabel(result), operation);
        detail::connection().labelUnderWay = true;
        if (result >= 0) return Policy::done(result, operation);
        const bool textRefused = result == VDL_ERR_WRITE && gDataIndex > 0 && gPrintData[gDataIndex - 1] != '\r';
        labelFailed(result);
        return Policy::done(result, textRefused ? kTextRefused : operation);
    }

    // The one -105 that is not the printer's: a converted text whose
    // conversion failed leaves its header behind, without the data part that
    // every content command ends with.
    static constexpr const char *kTextRefused =
        "text conversion (a character the code page cannot hold; the label was discarded)";

    int printNow(int copies, int sets) noexcept { return endLabel([&] { return Prints(copies, sets); }); }

    // A call that ends the label under way: printed, it is over; failed, it
    // is discarded.
    template <typename Call>
    int endLabel(Call &&call) noexcept {
        const int result = run(std::forward<Call>(call));
        if (result == VDL_OK) detail::connection().labelUnderWay = false;
        else if (result != kNotConnected) labelFailed(result);
        return result;
    }

    // Part of the label may be at the printer already: a bitmap goes out at
    // once, and the library's buffer sends itself whenever it needs room,
    // which cannot be seen from here in every case (a send that made room
    // for a larger command leaves the buffer fuller than before). So a
    // discarded label is cleared on the printer too. Only the process that
    // holds the connection discards, whichever of its objects holds it now.
    static int discardNow() noexcept {
        detail::Connection &state = detail::connection();
        if (!state.held()) return kNotConnected;
        initDataBuffer();
        return std::exchange(state.labelUnderWay, false) ? ClearBuffer() : VDL_OK;
    }

    // Discards the label under way and, inside label(), fails it.
    static void labelFailed(int result) noexcept {
        discardNow();
        failInLabel(result);
    }

    static int failInLabel(int result) noexcept {
        detail::Connection &state = detail::connection();
        if (state.inLabel() && state.labelFailure == VDL_OK) state.labelFailure = result;
        return result;
    }

    // The label() under way, process-wide (the printer object may be moved
    // inside it): end() gives its first failure; a label that did not end
    // (compose threw) or failed is discarded.
    class Composing {
    public:
        Composing() noexcept {
            detail::Connection &state = detail::connection();
            state.composing = getpid();
            state.labelFailure = VDL_OK;
        }
        ~Composing() {
            detail::Connection &state = detail::connection();
            if (!ended_ || state.labelFailure < 0) discardNow();
            state.composing = 0;
        }
        int end() noexcept {
            ended_ = true;
            return detail::connection().labelFailure;
        }
        Composing(const Composing &) = delete;
        Composing &operator=(const Composing &) = delete;

    private:
        bool ended_ = false;
    };

    bool connected_ = false;
    pid_t owner_ = 0;
};

#if defined(__cpp_exceptions)
/** A printer connection whose failures throw vdl::Error (not in a build without exceptions). */
using Printer = BasicPrinter<detail::Throwing>;
#endif
/** A printer connection whose calls return std::error_code (or vdl::Outcome) and never throw. */
using NothrowPrinter = BasicPrinter<detail::ErrorCodes>;

}  // namespace vdl

#endif  // VDL_LABEL_API_HPP

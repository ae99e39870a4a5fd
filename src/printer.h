// The state record of a printer: its connection and its command buffer.
//
// The library drives one default printer whose state lives in the exported
// variables (gPrintData, gDataIndex, gConnectedPrinter, ...). The record holds
// references to that storage, so every operation is written once against a
// Printer and a later handle-based interface can hand the same operations a
// record of its own.
#ifndef VDL_PRINTER_H
#define VDL_PRINTER_H

#include <algorithm>
#include <cstdint>

namespace vdl {

// Interface types, in the numbering the library has always used.
enum InterfaceType : int {
    kUsb = 0,
    kSerial = 1,
    kParallel = 2,
    kNetwork = 3,
    kBluetooth = 4,
};

// The connection state marks "no descriptor open" with -1: descriptor 0 is a
// real descriptor (a transport may legitimately get it), and the library must
// never touch a descriptor it did not open.
constexpr int kNoDescriptor = -1;

struct Connection {
    int &fd;
    int &interfaceType;
    unsigned char &connected;
    int &model;
    // Sockets are written with send(MSG_NOSIGNAL) so that a printer closing
    // the connection can never raise SIGPIPE in the application.
    bool &isSocket;

    bool isOpen() const { return fd != kNoDescriptor; }
};

constexpr uint32_t kBufferCapacity = 4096;
// A fill of this many bytes or more is sent by bufferCheck; it keeps 512
// bytes free so that the next command normally fits without a flush.
constexpr uint32_t kFlushThreshold = 3584;

struct CommandBuffer {
    unsigned char *bytes;  // kBufferCapacity bytes
    uint32_t &fillLevel;

    // The fill level is an exported variable an application could overwrite;
    // reading it through this bound keeps every access inside the buffer.
    uint32_t fill() const { return std::min(fillLevel, kBufferCapacity); }
    uint32_t room() const { return kBufferCapacity - fill(); }
};

// The last value of each setting that reached the printer whole; written only
// after the whole command was written, never read back by the library.
struct RecordedSettings {
    int &speed;
    int &density;
    int &orientation;
    unsigned char &autoCut;
    int &cutPeriod;
    unsigned char &rewind;
    int &offset;
    int &cutPosition;
    int &printingType;
    int &backFeeding;
    int &paperWidth;
    int &paperHeight;
    int &mediaType;
    int &gapLength;
    int &horizontalMargin;
    int &verticalMargin;
    // The error mask of the last status query, 0 after a failed one.
    unsigned char &status;
};

struct Printer {
    Connection connection;
    CommandBuffer buffer;
    RecordedSettings settings;
};

// The one printer that the exported functions drive.
Printer &defaultPrinter();

}  // namespace vdl

#endif

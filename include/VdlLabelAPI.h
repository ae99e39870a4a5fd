/*
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

#if defined(__GNUC__)
#define VDL_API __attribute__((visibility("default")))
#define VDL_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VDL_API
#define VDL_PRINTF_FORMAT(fmt, args)
#endif

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
 * Call DisconnectPrinter before connecting again.
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

/** Decides from "log.tmp" in the working directory whether tracing is on. */
VDL_API void initWriteLog(void);
/** Appends one record to "log.txt" when tracing is on. */
VDL_API void printDebugLog(const char *functionName, const char *format, ...) VDL_PRINTF_FORMAT(2, 3);

/** Transports: each returns an open descriptor (0 or more) or a negative code. */
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
    uint8_t b[6];
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

#ifdef __cplusplus
}
#endif

#endif /* VDL_LABEL_API_H */

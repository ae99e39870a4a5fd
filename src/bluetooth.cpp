// The Bluetooth transport: the Serial Port Profile over RFCOMM.
//
// The printer's RFCOMM channel is found with an SDP query through BlueZ's
// libbluetooth; the connection itself is a plain kernel socket. The library
// does not depend on libbluetooth: its functions are weak references, filled
// in by the dynamic linker when the application links libbluetooth and left
// null otherwise. Without them every other transport works as usual and a
// Bluetooth connect fails with VDL_ERR_BT_SDP. The search needs seven of them;
// sdp_list_free and sdp_record_free are used when present to release what the
// search built, and an application that leaves them out still connects.
#include <bluetooth/bluetooth.h>
#include <bluetooth/rfcomm.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "VdlLabelAPI.h"
#include "pause.h"
#include "transport.h"

// Supplied by the application's libbluetooth, or null.
#pragma weak sdp_connect
#pragma weak sdp_close
#pragma weak sdp_uuid16_create
#pragma weak sdp_list_append
#pragma weak sdp_list_free
#pragma weak sdp_service_search_attr_req
#pragma weak sdp_record_free
#pragma weak sdp_get_access_protos
#pragma weak sdp_get_proto_port

static_assert(sizeof(VdlBluetoothAddress) == sizeof(bdaddr_t) && alignof(VdlBluetoothAddress) == alignof(bdaddr_t),
              "VdlBluetoothAddress must be laid out as BlueZ's bdaddr_t");
static_assert(sizeof(sockaddr_rc) == 10, "RFCOMM socket addresses are 10 bytes long");

namespace vdl {
namespace {

constexpr const char *kOpenName = "openDeviceBluetooth";
constexpr const char *kConnectName = "spp_connect";

// Five SDP searches and five connection attempts at most.
constexpr int kServiceAttempts = 5;
constexpr int kConnectAttempts = 5;
constexpr int kNoChannel = -1;

bool libbluetoothLinked() {
    return sdp_connect != nullptr && sdp_close != nullptr && sdp_uuid16_create != nullptr &&
           sdp_list_append != nullptr && sdp_service_search_attr_req != nullptr && sdp_get_access_protos != nullptr &&
           sdp_get_proto_port != nullptr;
}

bdaddr_t toBlueZ(const VdlBluetoothAddress &address) {
    bdaddr_t converted;
    std::memcpy(&converted, &address, sizeof converted);
    return converted;
}

// Release helpers in the shape of sdp_free_func_t.
void freeRecord(void *record) { sdp_record_free(static_cast<sdp_record_t *>(record)); }
void freeList(void *list) { sdp_list_free(static_cast<sdp_list_t *>(list), nullptr); }

// Releases a list, and its elements with freeElement, when the application
// supplied the release functions; without them the lists are left as they are.
void releaseList(sdp_list_t *list, sdp_free_func_t freeElement) {
    if (sdp_list_free != nullptr) sdp_list_free(list, freeElement);
}
sdp_free_func_t recordRelease() { return sdp_record_free != nullptr ? freeRecord : nullptr; }

// The RFCOMM channel of one service record, or 0 when it names none.
uint8_t rfcommChannel(const sdp_record_t *record) {
    sdp_list_t *protocols = nullptr;
    if (sdp_get_access_protos(record, &protocols) != 0) return 0;
    const int port = sdp_get_proto_port(protocols, RFCOMM_UUID);
    // A list of protocol sequences; the elements themselves belong to the record.
    releaseList(protocols, freeList);
    return uint8_t(port & 0xFF);
}

// The channel of the first record that names one, or kNoChannel.
int searchSerialPort(sdp_session_t *session) {
    uuid_t serialPort;
    sdp_uuid16_create(&serialPort, SERIAL_PORT_SVCLASS_ID);
    uint16_t protocolDescriptorList = SDP_ATTR_PROTO_DESC_LIST;
    sdp_list_t *search = sdp_list_append(nullptr, &serialPort);
    sdp_list_t *attributes = sdp_list_append(nullptr, &protocolDescriptorList);
    sdp_list_t *records = nullptr;

    int channel = kNoChannel;
    if (search != nullptr && attributes != nullptr &&
        sdp_service_search_attr_req(session, search, SDP_ATTR_REQ_INDIVIDUAL, attributes, &records) == 0) {
        for (sdp_list_t *r = records; r != nullptr && channel == kNoChannel; r = r->next) {
            const uint8_t found = rfcommChannel(static_cast<const sdp_record_t *>(r->data));
            if (found != 0) channel = found;
        }
    }
    releaseList(records, recordRelease());
    releaseList(attributes, nullptr);
    releaseList(search, nullptr);
    return channel;
}

// Filled in place, so that its padding byte goes to the kernel as zero.
void setRfcommAddress(sockaddr_rc &address, const VdlBluetoothAddress &device, uint8_t channel) {
    std::memset(&address, 0, sizeof address);
    address.rc_family = AF_BLUETOOTH;
    const bdaddr_t converted = toBlueZ(device);
    bacpy(&address.rc_bdaddr, &converted);
    address.rc_channel = channel;
}

int closeSocket(int *fd, int code) {
    ::close(*fd);
    *fd = -1;
    return code;
}

// connect(), asked again while the device reports itself busy, within the
// bound of kRfcommBusyRetries. Returns 0 or the last error number.
int connectWhileBusy(int fd, const sockaddr_rc &target) {
    for (int busy = 0;; ++busy) {
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&target), sizeof target) == 0) return 0;
        const int error = errno;
        printDebugLog(kConnectName, "Failed to call connect().");
        if (error != EBUSY) return error;
        if (busy == kRfcommBusyRetries) {
            printDebugLog(kConnectName, "Bluetooth device still busy after %d retries.", kRfcommBusyRetries);
            return error;
        }
        printDebugLog(kConnectName, "Bluetooth device is busy. Reconnect after 10 secs.");
        pauseMs(kRfcommBusyPauseMs);
    }
}

int connectRfcomm(const VdlBluetoothAddress *local, const VdlBluetoothAddress *remote, uint8_t channel, int *fd) {
    if (fd == nullptr) return VDL_ERR_BT_SOCKET;
    *fd = -1;
    if (local == nullptr || remote == nullptr) return VDL_ERR_BT_SOCKET;

    *fd = ::socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_CLOEXEC, BTPROTO_RFCOMM);
    if (*fd < 0) {
        printDebugLog(kConnectName, "Failed to call socket().");
        return VDL_ERR_BT_SOCKET;
    }
    sockaddr_rc source, target;
    setRfcommAddress(source, *local, 0);
    if (::bind(*fd, reinterpret_cast<const sockaddr *>(&source), sizeof source) != 0) {
        printDebugLog(kConnectName, "Failed to call bind().");
        return closeSocket(fd, VDL_ERR_BT_BIND);
    }
    setRfcommAddress(target, *remote, channel);
    if (connectWhileBusy(*fd, target) != 0) return closeSocket(fd, VDL_ERR_BT_CONNECT);
    return 0;
}

// Service phase: the printer's Serial Port channel, over up to five SDP
// connections; VDL_ERR_BT_SDP or VDL_ERR_BT_NO_CHANNEL when there is none.
int findChannel(const bdaddr_t &device, uint8_t *channel) {
    for (int attempt = 1;; ++attempt) {
        const bdaddr_t anyAdapter{};
        sdp_session_t *session = sdp_connect(&anyAdapter, &device, SDP_RETRY_IF_BUSY);
        if (session == nullptr) {
            printDebugLog(kOpenName, "Failed to sdp_connect().");
            return VDL_ERR_BT_SDP;
        }
        const int found = sdp_search_spp(reinterpret_cast<VdlSdpSession *>(session), channel);
        sdp_close(session);
        if (found == 0) return 0;
        printDebugLog(kOpenName, "Failed to get service info.");
        if (attempt == kServiceAttempts) return VDL_ERR_BT_NO_CHANNEL;
        pauseMs(kServiceSearchRetryPauseMs);
        printDebugLog(kOpenName, "Retry to get service info.");
    }
}

// Connect phase: up to five attempts, each on a fresh socket.
int connectChannel(const VdlBluetoothAddress &device, uint8_t channel) {
    for (int attempt = 1;; ++attempt) {
        const VdlBluetoothAddress anyAdapter{};
        int fd = -1;
        if (spp_connect(&anyAdapter, &device, channel, &fd) >= 0) {
            printDebugLog(kOpenName, "Success port open.");
            return fd;
        }
        printDebugLog(kOpenName, "Failed to connect.");
        if (attempt == kConnectAttempts) return VDL_ERR_BT_CONNECT;
        pauseUs(kRfcommRetryPauseUs);
        printDebugLog(kOpenName, "Retry to connect.");
    }
}

int openBluetooth(const VdlBluetoothAddress &address) {
    printDebugLog(kOpenName, "start");
    if (!libbluetoothLinked()) {
        printDebugLog(kOpenName, "libbluetooth is not linked into the application.");
        printDebugLog(kOpenName, "Failed to sdp_connect().");
        return VDL_ERR_BT_SDP;
    }
    uint8_t channel = 0;
    const int found = findChannel(toBlueZ(address), &channel);
    if (found != 0) return found;
    return connectChannel(address, channel);
}

}  // namespace
}  // namespace vdl

extern "C" int openDeviceBluetooth(VdlBluetoothAddress address) { return vdl::openBluetooth(address); }

extern "C" int sdp_search_spp(VdlSdpSession *sdp, uint8_t *channel) {
    if (sdp == nullptr || channel == nullptr || !vdl::libbluetoothLinked()) return -1;
    const int found = vdl::searchSerialPort(reinterpret_cast<sdp_session_t *>(sdp));
    if (found == vdl::kNoChannel) return -1;
    *channel = uint8_t(found);
    return 0;
}

extern "C" int spp_connect(const VdlBluetoothAddress *local, const VdlBluetoothAddress *remote, uint8_t channel,
                           int *fd) {
    return vdl::connectRfcomm(local, remote, channel, fd);
}

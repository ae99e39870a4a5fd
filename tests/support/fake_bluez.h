// Fake BlueZ functions: the test program supplies the libbluetooth functions
// that the library references (an application supplies the real ones by
// linking libbluetooth). They answer from a script and record their calls.
#ifndef VDL_TEST_FAKE_BLUEZ_H
#define VDL_TEST_FAKE_BLUEZ_H

#include <cstdint>
#include <string>
#include <vector>

namespace vdltest {

struct FakeBluez {
    // --- script ---
    // sdp_connect opens a session only for a printer in range ...
    bool inRange = false;
    // ... and never on this attempt (1-based; 0: every attempt succeeds).
    int sdpConnectFailsAt = 0;
    // sdp_service_search_attr_req fails.
    bool searchFails = false;
    // The service records found: the RFCOMM port of each, or kNoProtocolList
    // for a record whose protocol descriptor list cannot be read.
    std::vector<int> records;
    static constexpr int kNoProtocolList = -1;

    // --- recorded ---
    int sdpConnects = 0;
    int sdpCloses = 0;
    int searches = 0;
    std::vector<std::string> sdpSources;       // the 6 address bytes given to sdp_connect
    std::vector<std::string> sdpDestinations;  // likewise
    std::vector<uint32_t> sdpFlags;
    std::vector<uint16_t> searchedServices;    // the 16-bit UUID of each search list
    std::vector<uint16_t> searchedAttributes;  // the attribute ID of each attribute list
    std::vector<int> requestTypes;
    std::vector<int> portProtocols;            // the protocol asked of sdp_get_proto_port
    int listsAlive = 0;                        // list nodes allocated and not yet freed
    int recordsAlive = 0;                      // records handed out and not yet freed
    int sessionsAlive = 0;
};

FakeBluez &fakeBluez();

}  // namespace vdltest

#endif

// Fake BlueZ functions: the test program supplies the libbluetooth functions
// that the library references (an application supplies the real ones by
// linking libbluetooth). They answer from a script and record their calls.
//
// Built with VDL_FAKE_BLUEZ_WITHOUT_RELEASE the fake supplies only the eight
// functions an application must provide, without sdp_list_free and
// sdp_record_free.
#ifndef VDL_TEST_FAKE_BLUEZ_H
#define VDL_TEST_FAKE_BLUEZ_H

#include <deque>
#include <string>
#include <vector>

#include <bluetooth/bluetooth.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>

namespace vdltest {

struct FakeBluez {
    // --- script ---
    // sdp_connect opens a session only for a printer in range ...
    bool inRange = false;
    // ... and never on this attempt (1-based; 0: every attempt succeeds).
    int sdpConnectFailsAt = 0;
    bool searchFails = false;
    // The service records found: the RFCOMM port of each, or kNoProtocolList
    // for a record whose protocol descriptor list cannot be read.
    std::vector<int> records;
    static constexpr int kNoProtocolList = -1;

    // --- recorded ---
    // One line per call: "connect <source> <destination> <flags>" (addresses
    // in hexadecimal, stored byte order), "search <service> <attribute>
    // <request type>", "port <protocol>", "str2ba <text>".
    std::vector<std::string> calls;
    int sdpConnects = 0;
    int sdpCloses = 0;
    int listsAlive = 0;    // list nodes handed out and not released
    int recordsAlive = 0;  // records handed out and not released
    int sessionsAlive = 0;

    // Storage of everything handed out, so that nothing leaks whether or not
    // the library releases it.
    std::deque<sdp_list_t> lists;
    std::deque<sdp_record_t> recordStore;
    std::deque<sdp_session_t> sessions;
};

FakeBluez &fakeBluez();
// Whether this build of the fake supplies the release functions.
bool fakeBluezReleases();

}  // namespace vdltest

#endif

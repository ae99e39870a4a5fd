#include "fake_bluez.h"

#include <bluetooth/bluetooth.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>

#include <cstdlib>
#include <cstring>

namespace vdltest {

FakeBluez &fakeBluez() {
    static FakeBluez fake;
    return fake;
}

namespace {

// A record carries its RFCOMM port in its handle.
constexpr uint32_t kUnreadable = 0xFFFFFFFFu;

std::string bytesOf(const bdaddr_t *address) {
    return address ? std::string(reinterpret_cast<const char *>(address->b), 6) : std::string();
}

}  // namespace
}  // namespace vdltest

using vdltest::fakeBluez;

extern "C" sdp_session_t *sdp_connect(const bdaddr_t *src, const bdaddr_t *dst, uint32_t flags) {
    vdltest::FakeBluez &f = fakeBluez();
    ++f.sdpConnects;
    f.sdpSources.push_back(vdltest::bytesOf(src));
    f.sdpDestinations.push_back(vdltest::bytesOf(dst));
    f.sdpFlags.push_back(flags);
    if (!f.inRange || f.sdpConnects == f.sdpConnectFailsAt) return nullptr;
    ++f.sessionsAlive;
    return static_cast<sdp_session_t *>(std::calloc(1, sizeof(sdp_session_t)));
}

extern "C" int sdp_close(sdp_session_t *session) {
    vdltest::FakeBluez &f = fakeBluez();
    ++f.sdpCloses;
    if (session != nullptr) --f.sessionsAlive;
    std::free(session);
    return 0;
}

extern "C" uuid_t *sdp_uuid16_create(uuid_t *uuid, uint16_t value) {
    std::memset(uuid, 0, sizeof *uuid);
    uuid->type = SDP_UUID16;
    uuid->value.uuid16 = value;
    return uuid;
}

extern "C" sdp_list_t *sdp_list_append(sdp_list_t *list, void *data) {
    auto *node = static_cast<sdp_list_t *>(std::malloc(sizeof(sdp_list_t)));
    node->data = data;
    node->next = nullptr;
    ++fakeBluez().listsAlive;
    if (list == nullptr) return node;
    sdp_list_t *last = list;
    while (last->next != nullptr) last = last->next;
    last->next = node;
    return list;
}

extern "C" void sdp_list_free(sdp_list_t *list, sdp_free_func_t free) {
    while (list != nullptr) {
        sdp_list_t *next = list->next;
        if (free != nullptr) free(list->data);
        std::free(list);
        --fakeBluez().listsAlive;
        list = next;
    }
}

extern "C" void sdp_record_free(sdp_record_t *record) {
    --fakeBluez().recordsAlive;
    std::free(record);
}

extern "C" int sdp_service_search_attr_req(sdp_session_t *, const sdp_list_t *search, sdp_attrreq_type_t type,
                                           const sdp_list_t *attributes, sdp_list_t **response) {
    vdltest::FakeBluez &f = fakeBluez();
    ++f.searches;
    const auto *uuid = static_cast<const uuid_t *>(search->data);
    f.searchedServices.push_back(uuid->type == SDP_UUID16 ? uuid->value.uuid16 : 0);
    f.searchedAttributes.push_back(*static_cast<const uint16_t *>(attributes->data));
    f.requestTypes.push_back(type);
    if (f.searchFails) return -1;
    *response = nullptr;
    for (int port : f.records) {
        auto *record = static_cast<sdp_record_t *>(std::calloc(1, sizeof(sdp_record_t)));
        record->handle = port == vdltest::FakeBluez::kNoProtocolList ? vdltest::kUnreadable : uint32_t(port);
        ++f.recordsAlive;
        *response = sdp_list_append(*response, record);
    }
    return 0;
}

// A list of one protocol sequence, whose element points back at the record
// (elements belong to their record, as in BlueZ).
extern "C" int sdp_get_access_protos(const sdp_record_t *record, sdp_list_t **protocols) {
    if (record->handle == vdltest::kUnreadable) return -1;
    sdp_list_t *sequence = sdp_list_append(nullptr, const_cast<sdp_record_t *>(record));
    *protocols = sdp_list_append(nullptr, sequence);
    return 0;
}

extern "C" int sdp_get_proto_port(const sdp_list_t *protocols, int protocol) {
    fakeBluez().portProtocols.push_back(protocol);
    const auto *sequence = static_cast<const sdp_list_t *>(protocols->data);
    return int(static_cast<const sdp_record_t *>(sequence->data)->handle);
}

#include "fake_bluez.h"

#include <bluetooth/sdp_lib.h>

#include <cctype>
#include <cstdio>
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

std::string hexOf(const bdaddr_t *address) {
    char text[13] = {};
    for (int i = 0; address != nullptr && i < 6; ++i) std::snprintf(text + 2 * i, 3, "%02x", address->b[i]);
    return text;
}

void record(const std::string &call) { fakeBluez().calls.push_back(call); }

}  // namespace
}  // namespace vdltest

using vdltest::fakeBluez;

extern "C" sdp_session_t *sdp_connect(const bdaddr_t *src, const bdaddr_t *dst, uint32_t flags) {
    vdltest::FakeBluez &f = fakeBluez();
    ++f.sdpConnects;
    vdltest::record("connect " + vdltest::hexOf(src) + " " + vdltest::hexOf(dst) + " " + std::to_string(flags));
    if (!f.inRange || f.sdpConnects == f.sdpConnectFailsAt) return nullptr;
    ++f.sessionsAlive;
    return &f.sessions.emplace_back();
}

extern "C" int sdp_close(sdp_session_t *session) {
    ++fakeBluez().sdpCloses;
    if (session != nullptr) --fakeBluez().sessionsAlive;
    return 0;
}

extern "C" uuid_t *sdp_uuid16_create(uuid_t *uuid, uint16_t value) {
    std::memset(uuid, 0, sizeof *uuid);
    uuid->type = SDP_UUID16;
    uuid->value.uuid16 = value;
    return uuid;
}

extern "C" sdp_list_t *sdp_list_append(sdp_list_t *list, void *data) {
    sdp_list_t &node = fakeBluez().lists.emplace_back(sdp_list_t{nullptr, data});
    ++fakeBluez().listsAlive;
    if (list == nullptr) return &node;
    sdp_list_t *last = list;
    while (last->next != nullptr) last = last->next;
    last->next = &node;
    return list;
}

extern "C" int sdp_service_search_attr_req(sdp_session_t *, const sdp_list_t *search, sdp_attrreq_type_t type,
                                           const sdp_list_t *attributes, sdp_list_t **response) {
    vdltest::FakeBluez &f = fakeBluez();
    const auto *uuid = static_cast<const uuid_t *>(search->data);
    char call[64];
    std::snprintf(call, sizeof call, "search %04x %04x %d", uuid->type == SDP_UUID16 ? uuid->value.uuid16 : 0,
                  *static_cast<const uint16_t *>(attributes->data), int(type));
    vdltest::record(call);
    if (f.searchFails) return -1;
    *response = nullptr;
    for (int port : f.records) {
        sdp_record_t &r = f.recordStore.emplace_back();
        r.handle = port == vdltest::FakeBluez::kNoProtocolList ? vdltest::kUnreadable : uint32_t(port);
        ++f.recordsAlive;
        *response = sdp_list_append(*response, &r);
    }
    return 0;
}

// A list of one protocol sequence, whose element points back at the record
// (elements belong to their record, as in BlueZ).
extern "C" int sdp_get_access_protos(const sdp_record_t *record, sdp_list_t **protocols) {
    if (record->handle == vdltest::kUnreadable) return -1;
    *protocols = sdp_list_append(nullptr, sdp_list_append(nullptr, const_cast<sdp_record_t *>(record)));
    return 0;
}

extern "C" int sdp_get_proto_port(const sdp_list_t *protocols, int protocol) {
    vdltest::record("port " + std::to_string(protocol));
    const auto *sequence = static_cast<const sdp_list_t *>(protocols->data);
    return int(static_cast<const sdp_record_t *>(sequence->data)->handle);
}

// BlueZ's syntax: six two-digit hexadecimal groups separated by ':'.
extern "C" int str2ba(const char *text, bdaddr_t *address) {
    vdltest::record(std::string("str2ba ") + text);
    std::memset(address, 0, sizeof *address);
    if (std::strlen(text) != 17) return -1;
    for (int i = 0; i < 17; ++i)
        if (i % 3 == 2 ? text[i] != ':' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return -1;
    for (int group = 0; group < 6; ++group) address->b[5 - group] = uint8_t(std::strtoul(text + 3 * group, nullptr, 16));
    return 0;
}

#ifndef VDL_FAKE_BLUEZ_WITHOUT_RELEASE
bool vdltest::fakeBluezReleases() { return true; }

extern "C" void sdp_list_free(sdp_list_t *list, sdp_free_func_t free) {
    for (; list != nullptr; list = list->next) {
        if (free != nullptr) free(list->data);
        --fakeBluez().listsAlive;
    }
}

extern "C" void sdp_record_free(sdp_record_t *) { --fakeBluez().recordsAlive; }
#else
bool vdltest::fakeBluezReleases() { return false; }
#endif

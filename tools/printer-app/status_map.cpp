#include "status_map.h"

#include "VdlLabelAPI.hpp"

namespace vdlapp {
namespace {

struct ReasonOfBit {
    vdl::StatusBit bit;
    pappl_preason_t reason;  // 'other' where IPP has no reason of its own: the words say which
};

constexpr ReasonOfBit kReasons[] = {
    {vdl::StatusBit::cover_open, PAPPL_PREASON_COVER_OPEN},
    {vdl::StatusBit::paper_empty, PAPPL_PREASON_MEDIA_EMPTY},
    {vdl::StatusBit::ribbon_end, PAPPL_PREASON_MARKER_SUPPLY_EMPTY},
    {vdl::StatusBit::cutter_jam, PAPPL_PREASON_MEDIA_JAM},
    {vdl::StatusBit::head_overheat, PAPPL_PREASON_OTHER},
    {vdl::StatusBit::gap_error, PAPPL_PREASON_OTHER},
    {vdl::StatusBit::paper_presence, PAPPL_PREASON_OTHER},
};

}  // namespace

pappl_preason_t reasonsFor(std::uint32_t statusBits) {
    const vdl::Status status{std::uint8_t(statusBits)};
    int reasons = PAPPL_PREASON_NONE;
    for (const ReasonOfBit &r : kReasons)
        if (status.has(r.bit)) reasons |= r.reason;
    return pappl_preason_t(reasons);
}

pappl_preason_t reasonsWeSet() {
    int reasons = PAPPL_PREASON_OFFLINE;
    for (const ReasonOfBit &r : kReasons) reasons |= r.reason;
    return pappl_preason_t(reasons);
}

std::string messageFor(std::uint32_t statusBits) { return vdl::to_string(vdl::Status{std::uint8_t(statusBits)}); }

bool holdsLabelsBack(std::uint32_t statusBits) {
    vdl::Status status{std::uint8_t(statusBits)};
    for (const ReasonOfBit &r : kReasons)
        if (r.bit != vdl::StatusBit::paper_presence && status.has(r.bit)) return true;
    return false;
}

}  // namespace vdlapp

// The model table: every printer of the maker by model number.
//
// Slot 0 is the manufacturer name. Slots 151-190 are the label printers this
// library drives; the other filled slots are the maker's receipt, kiosk,
// mobile and impact printers, which the USB probe recognises and the model
// check refuses. Names are fixed-width within a family so that no name is
// contained in another by accident; the plain name of a family is contained
// in its suffixed variants (-RF, -HC, -BT, -WF, -EX, -II, L, S) on purpose.
#include <cstring>

#include "VdlLabelAPI.h"
#include "modelTable.h"

// clang-format off
const char *VELDRIN_DEVICE[VDL_MODEL_SLOTS] = {
    /*   0 */ "VELDRIN",
    /*   1 */ "VRK-150-EX", "VRQ-50",  "VRP-110", "VRP-120", "VRP-130",
    /*   6 */ "VRP-140", "VRP-210", "VRP-220", "VRP-230", "VRP-240",
    /*  11 */ "VRP-310", "VRP-320", "VRP-330", "VRK-150", "VRK-160",
    /*  16 */ "VRK-170", "VRK-180", "VRS-700", "VRS-710", "VRS-720",
    /*  21 */ "VRS-730", "VRS-740", "VRB-101", "VRB-102", "VRB-103",
    /*  26 */ "VRB-104", "VRP-330-II", "VRB-201", "VRB-202", "VRB-203",
    /*  31 */ "VRB-204", "VRQ-50L", "VRB-301",
    /*  34-80 */ nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    /*  81 */ "VRE-810", "VRE-820", "VRE-830",
    /*  84-100 */ nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    /* 101 */ "VRC-52S", "VRC-52", "VRC-63", "VRC-74", "VRC-85",
    /* 106 */ "VRC-96", "VRC-97",
    /* 108-110 */ nullptr, nullptr, nullptr,
    /* 111 */ "VRH-111", "VRH-112", "VRH-113",
    /* 114-120 */ nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    /* 121 */ "VRW-121", "VRW-122",
    /* 123-148 */ nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    /* 149 */ "VRZ-900",
    /* 150 */ nullptr,
    /* 151: label printers */
    "VRL-204", "VRL-206", "VRL-208", "VRL-304", "VRL-306",
    /* 156 */ "VRL-308", "VRL-404", "VRL-406", "VRL-408", "VRL-604",
    /* 161 */ "VRL-606", "VRL-608", "VRX-410", "VRX-410-RF", "VRX-420",
    /* 166 */ "VRX-430", "VRX-610", "VRX-620", "VRX-630", "VRT-212",
    /* 171 */ "VRT-214", "VRT-312", "VRT-314", "VRT-412", "VRT-414",
    /* 176 */ "VRD-220", "VRD-240", "VRM-310", "VRM-320", "VRM-330",
    /* 181 */ "VRM-410", "VRM-320-BT", "VRM-330-BT", "VRX-610-HC", "VRX-620-HC",
    /* 186 */ "VRX-630-HC", "VRQ-50LT", "VRD-260", "VRD-280", "VRM-310-WF",
    /* 191-199 */ nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};
// clang-format on

// The resolution each label printer prints at, slot 151 first. A family's
// "-x06" or "-x20" model is its 300 dpi one, "-x30" its 600 dpi one; the
// desktop VRT printers come in 203 ("-x12") and 300 ("-x14"), the VRD in
// 203 ("-220", "-260") and 300 ("-240", "-280"); mobile printers (VRM) and
// the VRQ print at 203.
constexpr short kDotsPerInch[] = {
    /* 151 */ 203, 300, 203, 203, 300,  // VRL-204 VRL-206 VRL-208 VRL-304 VRL-306
    /* 156 */ 203, 203, 300, 203, 203,  // VRL-308 VRL-404 VRL-406 VRL-408 VRL-604
    /* 161 */ 300, 203, 203, 203, 300,  // VRL-606 VRL-608 VRX-410 VRX-410-RF VRX-420
    /* 166 */ 600, 203, 300, 600, 203,  // VRX-430 VRX-610 VRX-620 VRX-630 VRT-212
    /* 171 */ 300, 203, 300, 203, 300,  // VRT-214 VRT-312 VRT-314 VRT-412 VRT-414
    /* 176 */ 203, 300, 203, 203, 203,  // VRD-220 VRD-240 VRM-310 VRM-320 VRM-330
    /* 181 */ 203, 203, 203, 203, 300,  // VRM-410 VRM-320-BT VRM-330-BT VRX-610-HC VRX-620-HC
    /* 186 */ 600, 203, 203, 300, 203,  // VRX-630-HC VRQ-50LT VRD-260 VRD-280 VRM-310-WF
};
static_assert(sizeof kDotsPerInch / sizeof kDotsPerInch[0] == 190 - 151 + 1, "one resolution a label printer");

namespace vdl {

int findModel(const char *text, int firstSlot) {
    if (text == nullptr) return 0;
    for (int slot = firstSlot; slot < VDL_MODEL_SLOTS; ++slot) {
        const char *name = VELDRIN_DEVICE[slot];
        if (name != nullptr && strcasestr(text, name) != nullptr) return slot;
    }
    return 0;
}

}  // namespace vdl

extern "C" int getModel(const char *reply) { return vdl::findModel(reply, vdl::kFirstLabelPrinterSlot); }

extern "C" int VdlModelDotsPerInch(int model) {
    if (model < vdl::kFirstLabelPrinterSlot || model > vdl::kLastLabelPrinterSlot) return 0;
    return kDotsPerInch[model - vdl::kFirstLabelPrinterSlot];
}

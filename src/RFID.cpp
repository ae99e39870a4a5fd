// RFID commands: each is one command line, written at once.
#include <cstring>

#include "VdlLabelAPI.h"
#include "command.h"
#include "normalise.h"
#include "printer.h"

namespace vdl {
namespace {

constexpr int kSetupFallbackField1 = 5;
constexpr Range kSetupField1{0, 5};
constexpr Range kSetupField2{1, 10};
constexpr Range kSetupField3{1, 5};
constexpr Range kSetupField4{0, 30};

constexpr Letter kWriteTypeLetters[] = {{1, 'A'}, {2, 'H'}, {3, 'U'}, {4, 'E'}};

// The printer's command line: a command with its strings, terminating NUL
// included, must fit these areas. A longer one is refused whole rather than
// cut, since a cut tag write would program the wrong data.
using RfidCommand = CommandArea<512>;
using RfidWriteCommand = CommandArea<1024>;

template <std::size_t N>
int sendRfid(const char *name, const CommandArea<N> &command) {
    if (!command.fits()) {
        printDebugLog(name, "Command too long");
        return VDL_ERR_WRITE;
    }
    return sendCommand(defaultPrinter(), name, command.view());
}

int sendFixed(const char *name, std::string_view command) {
    printDebugLog(name, "Start");
    return sendCommand(defaultPrinter(), name, command);
}

const char *orEmpty(const char *text) { return text != nullptr ? text : ""; }

}  // namespace
}  // namespace vdl

extern "C" int SetupRFID(int field1, int field2, int field3, int field4) {
    using namespace vdl;
    printDebugLog("SetupRFID", "Start");
    RfidCommand command;
    command.format(">RFS,%d,%d,%d,%d\r\n", kSetupField1.contains(field1) ? field1 : kSetupFallbackField1,
                   clampTo(kSetupField2, field2), clampTo(kSetupField3, field3), clampTo(kSetupField4, field4));
    const int result = sendRfid("SetupRFID", command);
    return result == 0 ? command.length() : result;
}

extern "C" int CalibrateRFID(void) { return vdl::sendFixed("CalibrateRFID", ">RFCP\r\n"); }
extern "C" int LockRFID(void) { return vdl::sendFixed("LockRFID", ">RFLK\r\n"); }
extern "C" int UnlockRFID(void) { return vdl::sendFixed("UnlockRFID", ">RFU\r\n"); }

extern "C" int SetRFIDPosition(int position) {
    using namespace vdl;
    printDebugLog("SetRFIDPosition", "Start");
    RfidCommand command;
    command.format(">RFTP,%d\r\n", position);
    return sendRfid("SetRFIDPosition", command);
}

extern "C" int SetEPCDataStructure(int field1, const char *structure) {
    using namespace vdl;
    printDebugLog("SetEPCDataStructure", "Start");
    RfidCommand command;
    command.format(">RFES%d,'%s'\r\n", field1, orEmpty(structure));
    return sendRfid("SetEPCDataStructure", command);
}

extern "C" int WriteRFID(int type, int field2, int length, const char *data) {
    using namespace vdl;
    const char letter = letterFor(type, kWriteTypeLetters, 0);
    if (letter == 0) return 0;
    data = orEmpty(data);
    RfidWriteCommand command;
    if (letter == 'E') {
        command.format(">RFW,%c,'%s'\r\n", letter, data);
    } else {
        // Hexadecimal data: the length sent is the count of bytes it encodes.
        const bool hex = letter == 'H' || letter == 'U';
        const int sentLength = hex ? int(std::strlen(data) / 2) : length;
        command.format(">RFW,%c,%d,%d, '%s'\r\n", letter, field2, sentLength, data);
    }
    return sendRfid("WriteRFID", command);
}

extern "C" int SetRFIDPassword(const char *part1, const char *part2, const char *part3, const char *part4) {
    using namespace vdl;
    printDebugLog("SetRFIDPassword", "Start");
    RfidCommand command;
    command.format(">RFZ,'%s,%s,%s,%s'\r\n", orEmpty(part1), orEmpty(part2), orEmpty(part3), orEmpty(part4));
    return sendRfid("SetRFIDPassword", command);
}

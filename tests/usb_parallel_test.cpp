// The USB probe and the parallel transport, on fake device nodes: socket
// pairs served by fake printers, with scripted IEEE 1284 IDs.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "library_test.h"

namespace vdltest {
namespace {

constexpr int kUsbFlags = O_RDWR | O_EXCL | O_NONBLOCK;
constexpr int kParallelFlags = O_RDWR | O_NONBLOCK;

// The node names the probe tries for index i, in order.
std::vector<std::string> usbForms(int i) {
    const std::string n = std::to_string(i);
    return {"/dev/usblp" + n, "/dev/usb/lp" + n, "/dev/usb/usblp" + n};
}

std::vector<std::string> allUsbForms(int upTo) {
    std::vector<std::string> names;
    for (int i = 0; i <= upTo; ++i) names = names + usbForms(i);
    return names;
}

class DeviceTest : public LibraryTest {
protected:
    // A device node served by a fake printer of its own.
    FakePrinter &addDevice(const std::string &path, std::optional<std::string> id = std::nullopt) {
        devices_.push_back(std::make_unique<FakePrinter>());
        DeviceNode node;
        node.fd = devices_.back()->attachDevice();
        node.deviceId = std::move(id);
        deviceNodes().nodes[path] = node;
        return *devices_.back();
    }
    void addRefusedNode(const std::string &path, int error) { deviceNodes().nodes[path].error = error; }
    // A device node served by the fixture's printer.
    void mapToPrinter(const std::string &path, std::optional<std::string> id = std::nullopt) {
        DeviceNode node;
        node.fd = printer.attachDevice();
        node.deviceId = std::move(id);
        deviceNodes().nodes[path] = node;
    }

    // Whether the library still holds the device open (or never opened it).
    static bool stillOpen(FakePrinter &device) {
        device.pump();
        return device.connected();
    }

    // Whether fd is the library's end of device.
    static bool reaches(int fd, FakePrinter &device) {
        if (::write(fd, "?", 1) != 1) return false;
        return device.received() == "?";
    }

private:
    std::vector<std::unique_ptr<FakePrinter>> devices_;
};

using UsbTest = DeviceTest;

TEST_F(UsbTest, NoNodeAtAllTriesAll48NamesAndFailsWithENODEV) {
    errno = 0;
    EXPECT_EQ(openDeviceUSB(), VDL_ERR_OPEN);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(openedPaths(), allUsbForms(15));
}

TEST_F(UsbTest, APrinterAtIndex3IsFoundAfterEveryAbsentFormBeforeIt) {
    FakePrinter &device = addDevice("/dev/usb/usblp3", "MFG:VELDRIN;MDL:VRL-204;");
    const int fd = openDeviceUSB();
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(reaches(fd, device));
    EXPECT_EQ(gPrinterModel, 151);
    EXPECT_EQ(openedPaths(), allUsbForms(3));
    for (const OpenCall &call : deviceNodes().opened) EXPECT_EQ(call.flags & kUsbFlags, kUsbFlags) << call.path;
    close(fd);
}

TEST_F(UsbTest, LaterFormsAreTriedOnlyWhenTheEarlierOneDoesNotExist) {
    FakePrinter &first = addDevice("/dev/usblp1", "MFG:VELDRIN;MDL:VRL-204;");
    FakePrinter &second = addDevice("/dev/usb/lp1", "MFG:VELDRIN;MDL:VRL-408;");
    const int fd = openDeviceUSB();
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(reaches(fd, first));
    EXPECT_EQ(gPrinterModel, 151);
    EXPECT_EQ(openedPaths(), allUsbForms(0) + std::vector<std::string>{"/dev/usblp1"});
    EXPECT_TRUE(stillOpen(second));  // handed to nobody
    close(fd);
}

// One probe: the nodes that exist, what the probe returns, and which device
// it keeps open.
struct Node {
    std::string path;
    std::optional<std::string> id;  // none: the ID request fails
    int error = 0;                  // refused by the system
};

struct Probe {
    const char *what;
    std::vector<Node> nodes;
    int result;       // a model slot (> 0) or a code
    int acceptedAt;   // index into nodes of the device kept open; -1: none
};

void PrintTo(const Probe &p, std::ostream *os) { *os << p.what; }

class UsbProbeTest : public DeviceTest, public ::testing::WithParamInterface<Probe> {};

TEST_P(UsbProbeTest, KeepsTheFirstAcceptedPrinterAndClosesEveryOther) {
    const Probe &p = GetParam();
    std::vector<FakePrinter *> devices;
    for (const Node &node : p.nodes) {
        if (node.error != 0) {
            addRefusedNode(node.path, node.error);
            devices.push_back(nullptr);
        } else {
            devices.push_back(&addDevice(node.path, node.id));
        }
    }
    gPrinterModel = -7;
    const int fd = openDeviceUSB();

    if (p.result > 0) {
        ASSERT_GE(fd, 0);
        EXPECT_EQ(gPrinterModel, p.result);
        EXPECT_TRUE(reaches(fd, *devices[std::size_t(p.acceptedAt)]));
        close(fd);
    } else {
        EXPECT_EQ(fd, p.result);
        EXPECT_EQ(gPrinterModel, -7);
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (devices[i] == nullptr || int(i) == p.acceptedAt) continue;
        EXPECT_FALSE(stillOpen(*devices[i])) << p.nodes[i].path << " was rejected but left open";
    }
}

const std::string kSixtyXs(60, 'x');

INSTANTIATE_TEST_SUITE_P(
    Ids, UsbProbeTest,
    ::testing::Values(
        Probe{"maker's label printer", {{"/dev/usb/lp0", "MFG:VELDRIN;CMD:VPL;MDL:VRL-408;CLS:PRINTER;"}}, 159, 0},
        Probe{"long manufacturer key", {{"/dev/usb/lp0", "MANUFACTURER:VELDRIN;MODEL:VRL-408;"}}, 159, 0},
        Probe{"both keys: the short one counts", {{"/dev/usb/lp0", "MANUFACTURER:VELDRIN;MFG:OTHERCO;MDL:VRL-408;"}},
              VDL_ERR_NOT_ACCEPTED, -1},
        Probe{"another maker", {{"/dev/usb/lp0", "MFG:OTHERCO;MDL:VRL-408;"}}, VDL_ERR_NOT_ACCEPTED, -1},
        Probe{"maker in lower case", {{"/dev/usb/lp0", "MFG:veldrin;MDL:VRL-408;"}}, VDL_ERR_NOT_ACCEPTED, -1},
        Probe{"model in lower case", {{"/dev/usb/lp0", "MFG:VELDRIN;MDL:vrl-408;"}}, 159, 0},
        Probe{"model naming two slots", {{"/dev/usb/lp0", "MFG:VELDRIN;MDL:VRX-410-RF;"}}, 163, 0},
        Probe{"maker's receipt printer", {{"/dev/usb/lp0", "MFG:VELDRIN;MDL:VRP-110;"}}, 3, 0},
        Probe{"partner maker", {{"/dev/usb/lp0", "MFG:KADMERA;MDL:VRL-408;"}}, 159, 0},
        Probe{"partner maker's first six letters", {{"/dev/usb/lp0", "MFG:KADMERX;MDL:VRL-408;"}}, 159, 0},
        Probe{"too short for the partner", {{"/dev/usb/lp0", "MFG:KADME;MDL:VRL-408;"}}, VDL_ERR_NOT_ACCEPTED, -1},
        Probe{"unknown model, then a known one",
              {{"/dev/usb/lp0", "MFG:VELDRIN;MDL:VRL-999;"}, {"/dev/usb/lp1", "MFG:VELDRIN;MDL:VRL-204;"}}, 151, 1},
        Probe{"busy node, then a printer",
              {{"/dev/usb/lp0", std::nullopt, EBUSY}, {"/dev/usb/lp1", "MFG:VELDRIN;MDL:VRL-204;"}}, 151, 1},
        Probe{"busy node only", {{"/dev/usb/lp0", std::nullopt, EBUSY}}, VDL_ERR_NOT_ACCEPTED, -1},
        Probe{"no permission", {{"/dev/usblp2", std::nullopt, EACCES}}, VDL_ERR_NOT_ACCEPTED, -1},
        Probe{"no device ID", {{"/dev/usb/lp0", std::nullopt}}, VDL_ERR_NOT_ACCEPTED, -1},
        Probe{"no stale manufacturer",
              {{"/dev/usb/lp0", "MFG:VELDRIN;MDL:VRL-999;"}, {"/dev/usb/lp1", "CMD:VPL;MDL:VRL-408;"}},
              VDL_ERR_NOT_ACCEPTED, -1},
        Probe{"no stale model",
              {{"/dev/usb/lp0", "MFG:OTHERCO;MDL:VRL-408;"}, {"/dev/usb/lp1", "MFG:VELDRIN;CMD:VPL;"}},
              VDL_ERR_NOT_ACCEPTED, -1},
        Probe{"model beyond the 63-character cut", {{"/dev/usb/lp0", "MFG:VELDRIN;MDL:" + kSixtyXs + "VRL-408;"}},
              VDL_ERR_NOT_ACCEPTED, -1},
        Probe{"last index", {{"/dev/usb/usblp15", "MFG:VELDRIN;MDL:VRL-408;"}}, 159, 0}),
    [](const ::testing::TestParamInfo<Probe> &info) { return "case" + std::to_string(info.index); });

TEST_F(UsbTest, ConnectsEndToEndAndWritesInChunksOf4096) {
    mapToPrinter("/dev/usb/lp0", "MFG:VELDRIN;MDL:VRL-408;");
    printer.options().modelReply = "VRL-204\r\n";

    ASSERT_EQ(ConnectToPrinter("usb001"), VDL_OK);
    EXPECT_EQ(connection().interfaceType, vdl::kUsb);
    EXPECT_EQ(gPrinterModel, 151);  // the printer's own answer overrides its ID
    EXPECT_EQ(printer.received(), "^PI0\r\n");
    EXPECT_EQ(pauses(), std::vector<unsigned>({10, 10, 100, 100}) + repeated(30, 20));

    printer.clearReceived();
    resetPauses();
    sendScript().fd = connection().fd;
    const std::string data = pattern(10000);
    ASSERT_EQ(writeData(data.data(), uint32_t(data.size())), 10000);
    EXPECT_EQ(sendScript().asked, (std::vector<std::size_t>{4096, 4096, 1808}));
    EXPECT_EQ(pauses(), std::vector<unsigned>{10} + repeated(10, 5));
    EXPECT_TRUE(sameBytes(printer.received(), data));
}

TEST_F(UsbTest, APrinterThatFailsTheModelCheckIsClosedAgain) {
    mapToPrinter("/dev/usb/lp0", "MFG:VELDRIN;MDL:VRL-408;");
    printer.options().modelReply = "VRP-110\r\n";

    EXPECT_EQ(ConnectToPrinter("USB"), VDL_ERR_NOT_ACCEPTED);
    EXPECT_FALSE(connection().isOpen());
    EXPECT_FALSE(stillOpen(printer));
}

// ---------------------------------------------------------------------------
// Parallel
// ---------------------------------------------------------------------------

using ParallelTest = DeviceTest;

TEST_F(ParallelTest, OpensTheNamedNodeOnlyAndWritesInChunksOf1024) {
    mapToPrinter("/dev/lp0");

    ASSERT_EQ(ConnectToPrinter("/dev/lp0"), VDL_OK);
    EXPECT_EQ(connection().interfaceType, vdl::kParallel);
    EXPECT_EQ(gPrinterModel, 159);
    EXPECT_EQ(openedPaths(), std::vector<std::string>{"/dev/lp0"});
    EXPECT_EQ(deviceNodes().opened[0].flags & (kParallelFlags | O_EXCL), kParallelFlags);

    printer.clearReceived();
    resetPauses();
    const std::string data = pattern(4096);
    ASSERT_EQ(writeData(data.data(), uint32_t(data.size())), 4096);
    EXPECT_EQ(pauses(), std::vector<unsigned>{10} + repeated(10, 7));
    EXPECT_TRUE(sameBytes(printer.received(), data));
}

TEST_F(ParallelTest, ScanTakesTheFirstNodeThatOpens) {
    mapToPrinter("/dev/lp2");
    addDevice("/dev/lp3");

    ASSERT_EQ(ConnectToPrinter("parallel"), VDL_OK);
    EXPECT_EQ(openedPaths(), (std::vector<std::string>{"/dev/lp0", "/dev/lp1", "/dev/lp2"}));
}

TEST_F(ParallelTest, ANamedNodeThatDoesNotExistIsNotScannedPast) {
    addDevice("/dev/lp1");
    EXPECT_EQ(ConnectToPrinter("/dev/lp0"), VDL_ERR_OPEN);
    EXPECT_EQ(openedPaths(), std::vector<std::string>{"/dev/lp0"});
    EXPECT_EQ(openDeviceParallel("/dev/lp7"), VDL_ERR_OPEN);
    EXPECT_EQ(openDeviceParallel(nullptr), VDL_ERR_OPEN);
}

TEST_F(ParallelTest, ScanWithoutAnyNodeTriesAllTen) {
    EXPECT_EQ(ConnectToPrinter("PARALLEL"), VDL_ERR_OPEN);
    EXPECT_EQ(openedPaths().size(), 10u);
    EXPECT_EQ(openedPaths().back(), "/dev/lp9");
}

}  // namespace
}  // namespace vdltest

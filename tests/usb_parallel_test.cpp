// The USB probe and the parallel transport, on fake device nodes: socket
// pairs served by fake printers, with scripted IEEE 1284 IDs.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>

#include "library_test.h"

namespace vdltest {
namespace {

// The node names the probe tries for indexes 0 to upTo, in order.
std::vector<std::string> usbForms(int upTo) {
    std::vector<std::string> names;
    for (int i = 0; i <= upTo; ++i)
        for (const char *form : {"/dev/usblp", "/dev/usb/lp", "/dev/usb/usblp"}) names.push_back(form + std::to_string(i));
    return names;
}

class DeviceTest : public LibraryTest {
protected:
    // A device node served by a fake printer of its own (or the fixture's),
    // or refused by the system with error.
    FakePrinter *addDevice(const std::string &path, std::optional<std::string> id = std::nullopt, int error = 0,
                           FakePrinter *served = nullptr) {
        DeviceNode &node = deviceNodes().nodes[path];
        node.error = error;
        if (error != 0) return nullptr;
        if (served == nullptr) served = devices_.emplace_back(std::make_unique<FakePrinter>()).get();
        node.fd = served->attachDevice();
        node.deviceId = std::move(id);
        return served;
    }

    // Whether the library still holds the device open.
    static bool stillOpen(FakePrinter &device) {
        device.pump();
        return device.connected();
    }

    // Whether fd is the library's end of device.
    static bool reaches(int fd, FakePrinter &device) { return ::write(fd, "?", 1) == 1 && device.received() == "?"; }

private:
    std::vector<std::unique_ptr<FakePrinter>> devices_;
};

using UsbTest = DeviceTest;

TEST_F(UsbTest, NoNodeAtAllTriesAll48NamesAndFailsWithENODEV) {
    errno = 0;
    EXPECT_EQ(openDeviceUSB(), VDL_ERR_OPEN);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(openedPaths(), usbForms(15));
}

TEST_F(UsbTest, LaterFormsAreTriedOnlyWhenTheEarlierOnesDoNotExist) {
    FakePrinter *first = addDevice("/dev/usb/lp3", "MFG:VELDRIN;MDL:VRL-204;");
    FakePrinter *second = addDevice("/dev/usb/usblp3", "MFG:VELDRIN;MDL:VRL-408;");
    const int fd = openDeviceUSB();
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(reaches(fd, *first));
    EXPECT_EQ(gPrinterModel, 151);
    EXPECT_EQ(openedPaths(), usbForms(2) + std::vector<std::string>({"/dev/usblp3", "/dev/usb/lp3"}));
    const int flags = O_RDWR | O_EXCL | O_NONBLOCK;
    for (const OpenCall &call : deviceNodes().opened) EXPECT_EQ(call.flags & flags, flags) << call.path;
    EXPECT_TRUE(stillOpen(*second));  // handed to nobody
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
    std::vector<Node> nodes;
    int result;      // a model slot (> 0) or a code
    int acceptedAt;  // index into nodes of the device kept open; -1: none
};

class UsbProbeTest : public DeviceTest, public ::testing::WithParamInterface<Probe> {};

TEST_P(UsbProbeTest, KeepsTheFirstAcceptedPrinterAndClosesEveryOther) {
    const Probe &p = GetParam();
    std::vector<FakePrinter *> devices;
    for (const Node &node : p.nodes) devices.push_back(addDevice(node.path, node.id, node.error));
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
    for (std::size_t i = 0; i < devices.size(); ++i)
        EXPECT_TRUE(devices[i] == nullptr || int(i) == p.acceptedAt || !stillOpen(*devices[i])) << p.nodes[i].path;
}

constexpr int kNone = VDL_ERR_NOT_ACCEPTED;
const std::string kLp0 = "/dev/usb/lp0", kLp1 = "/dev/usb/lp1";

INSTANTIATE_TEST_SUITE_P(
    Ids, UsbProbeTest,
    ::testing::Values(Probe{{{kLp0, "MFG:VELDRIN;CMD:VPL;MDL:VRL-408;CLS:PRINTER;"}}, 159, 0},
                      Probe{{{kLp0, "MFG:OTHERCO;MDL:VRL-408;"}}, kNone, -1},
                      Probe{{{kLp0, "MFG:veldrin;MDL:VRL-408;"}}, kNone, -1},
                      Probe{{{kLp0, "MFG:VELDRIN;MDL:vrx-410-RF;"}}, 163, 0},
                      Probe{{{kLp0, "MFG:VELDRIN;MDL:VRP-110;"}}, 3, 0},  // any printer of the maker
                      Probe{{{kLp0, "MFG:KADMERX;MDL:VRL-408;"}}, 159, 0},  // the partner's first six letters
                      Probe{{{kLp0, "MFG:KADME;MDL:VRL-408;"}}, kNone, -1},
                      Probe{{{kLp0, "MFG:VELDRIN;MDL:VRL-999;"}, {kLp1, "MFG:VELDRIN;MDL:VRL-204;"}}, 151, 1},
                      Probe{{{kLp0, std::nullopt, EBUSY}, {kLp1, "MFG:VELDRIN;MDL:VRL-204;"}}, 151, 1},
                      Probe{{{"/dev/usblp2", std::nullopt, EACCES}}, kNone, -1}, Probe{{{kLp0, std::nullopt}}, kNone, -1},
                      // Nothing of one node's ID is kept for the next.
                      Probe{{{kLp0, "MFG:VELDRIN;MDL:VRL-999;"}, {kLp1, "CMD:VPL;MDL:VRL-408;"}}, kNone, -1},
                      Probe{{{"/dev/usb/usblp15", "MFG:VELDRIN;MDL:VRL-408;"}}, 159, 0}));

TEST_F(UsbTest, ConnectsEndToEnd) {
    addDevice(kLp0, "MFG:VELDRIN;MDL:VRL-408;", 0, &printer);
    printer.options().modelReply = "VRL-204\r\n";

    ASSERT_EQ(ConnectToPrinter("usb001"), VDL_OK);
    EXPECT_EQ(connection().interfaceType, vdl::kUsb);
    EXPECT_EQ(gPrinterModel, 151);  // the printer's own answer overrides its ID
    EXPECT_EQ(printer.received(), "^PI0\r\n");

}

using ParallelTest = DeviceTest;

TEST_F(ParallelTest, OpensTheNamedNodeOnly) {
    addDevice("/dev/lp0", std::nullopt, 0, &printer);

    ASSERT_EQ(ConnectToPrinter("/dev/lp0"), VDL_OK);
    EXPECT_EQ(connection().interfaceType, vdl::kParallel);
    EXPECT_EQ(openedPaths(), std::vector<std::string>{"/dev/lp0"});
    const int flags = O_RDWR | O_NONBLOCK;
    EXPECT_EQ(deviceNodes().opened[0].flags & (flags | O_EXCL), flags);

}

TEST_F(ParallelTest, ScanTakesTheFirstNodeThatOpensAndANamedNodeIsNotScannedPast) {
    EXPECT_EQ(ConnectToPrinter("PARALLEL"), VDL_ERR_OPEN);
    EXPECT_EQ(openedPaths().size(), 10u);
    deviceNodes().opened.clear();
    addDevice("/dev/lp1");
    EXPECT_EQ(ConnectToPrinter("/dev/lp0"), VDL_ERR_OPEN);
    EXPECT_EQ(openedPaths(), std::vector<std::string>{"/dev/lp0"});
    ASSERT_EQ(ConnectToPrinter("parallel"), VDL_OK);  // the first node that opens
    EXPECT_EQ(openedPaths(), (std::vector<std::string>{"/dev/lp0", "/dev/lp0", "/dev/lp1"}));
    // A node name too long for a path is not opened at all.
    DisconnectPrinter();
    deviceNodes().opened.clear();
    const std::string longest = "/dev/lp" + std::string(PATH_MAX - 8, '0');
    EXPECT_EQ(ConnectToPrinter(longest.c_str()), VDL_ERR_OPEN);
    EXPECT_EQ(ConnectToPrinter((longest + "0").c_str()), VDL_ERR_OPEN);
    EXPECT_EQ(openedPaths(), std::vector<std::string>{longest});
}

}  // namespace
}  // namespace vdltest

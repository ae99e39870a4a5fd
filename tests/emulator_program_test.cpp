// The vdl-emulator program itself, on an ephemeral port: it keeps serving
// through garbage, truncated commands and abrupt disconnects, and the
// library prints a label through it end to end.
//
// This program links the shared library as an application does (no test
// stand-ins for usleep or send), so the library paces its writes for real.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "VdlLabelAPI.hpp"
#include "child_process.h"

namespace vdltest {
namespace {

constexpr int kWaitMs = 10000;  // bound on every wait; normally a few milliseconds

class EmulatorProgram : public ::testing::Test {
protected:
    void start(std::vector<std::string> options = {}) {
        std::vector<std::string> arguments = {VDL_EMULATOR_PROGRAM, "--port", "0", "--log", logPath(),
                                              "--preview-dir", previews()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        emulator = std::make_unique<ChildProcess>(arguments);
        ASSERT_TRUE(emulator->started());
        said = emulator->waitForError("listening on", kWaitMs);
        port = std::atoi(said.substr(said.find(':', said.find("listening on")) + 1).c_str());
        ASSERT_GT(port, 0) << said;
    }

    void TearDown() override { EXPECT_TRUE(!emulator || emulator->stop() == 0) << "the emulator did not end cleanly"; }

    std::string logPath() const { return directory.path() + "/emulator.log"; }
    std::string previews() const { return directory.path() + "/previews"; }
    std::string log(const std::vector<std::string> &texts) { return waitForFileContaining(logPath(), texts, kWaitMs); }

    // A raw connection that has sent `bytes`.
    int connectAndSend(const std::string &bytes) const {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        sendAll(fd, bytes);
        return fd;
    }

    static void sendAll(int fd, const std::string &bytes) { EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size())); }

    // Reads until `count` bytes came or the wait ran out.
    static std::string receive(int fd, std::size_t count) {
        const timeval wait{kWaitMs / 1000, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        std::string got(count, '\0');
        got.resize(std::size_t(std::max<ssize_t>(recv(fd, &got[0], count, MSG_WAITALL), 0)));
        return got;
    }

    TempDirectory directory;
    std::unique_ptr<ChildProcess> emulator;
    std::string said;  // what it said on standard error when it started
    int port = 0;
};

// Every one of `texts` is in the log.
void expectAll(const std::string &log, const std::vector<std::string> &texts) {
    for (const std::string &text : texts) EXPECT_NE(log.find(text), std::string::npos) << text << " not in\n" << log;
}

TEST_F(EmulatorProgram, KeepsServingThroughGarbageTruncationAndDisconnects) {
    start({"--status", "cover-open", "--model", "165"});
    // 1: garbage, a good command, then a barcode cut off by a normal close.
    close(connectAndSend(std::string("\x00\x01garbage\r", 10) + "SS3\r" + "B210,20,Q,1,L,4,0,'HEL"));
    log({"1 closed by the peer"});
    // 2: a status query answered, then half a bitmap and a reset connection.
    const int second = connectAndSend("^cu\r");
    EXPECT_EQ(receive(second, 1), "\x40");
    sendAll(second, std::string("LCR\0\x01\0\x02\0\x04\0\x08\0\x00", 13));
    const linger abort = {1, 0};
    setsockopt(second, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(second);
    log({"2 closed reset by the peer"});
    // 3: still answering.
    const std::string model = VELDRIN_DEVICE[165];
    const int third = connectAndSend("^PI0\r\n");
    EXPECT_EQ(receive(third, model.size() + 2), model + "\r\n");
    close(third);
    expectAll(log({"3 closed by the peer"}),
              {"1.1 UNKNOWN no command starts with these bytes; 10 bytes \"\\x00\\x01garbage\\x0D\"", "1.2 SS speed: speed=3",
               "1.3 TRUNCATED B2 two-dimensional barcode: the connection ended inside the command", "2.1 ^cu status query: | answer: 0x40",
               "2.2 TRUNCATED LCR compressed bitmap", "3.1 ^PI0 model query: | answer: " + model});
}

// A model prints at its own resolution unless --dpi says otherwise: its
// previews and its 4 x 6 inch paper are in its dots.
TEST_F(EmulatorProgram, TakesTheModelsResolution) {
    const std::pair<std::vector<std::string>, const char *> cases[] = {
        {{}, "as VRL-408, status 0x00, paper 812x1218 dots at 203 dpi"},
        {{"--model", "VRL-406"}, "as VRL-406, status 0x00, paper 1200x1800 dots at 300 dpi"},
        {{"--model", "166"}, "as VRX-430, status 0x00, paper 2400x3600 dots at 600 dpi"},
        {{"--model", "VRX-430", "--dpi", "203"}, "as VRX-430, status 0x00, paper 812x1218 dots at 203 dpi"},
        {{"--dpi", "300", "--model", "VRX-430"}, "as VRX-430, status 0x00, paper 1200x1800 dots at 300 dpi"},
        {{"--model", "VRP-110"}, "as VRP-110, status 0x00, paper 812x1218 dots at 203 dpi"},  // not a label printer
    };
    for (const auto &[options, expected] : cases) {
        start(options);
        EXPECT_NE(said.find(expected), std::string::npos) << said;
        EXPECT_EQ(emulator->stop(), 0);
        emulator.reset();
    }
}

// The preview: the paper's size, and the printed QR code read back.
TEST_F(EmulatorProgram, LibraryPrintsALabelThroughIt) {
    start({"--status", "0x41"});
    ASSERT_EQ(ConnectToPrinter(("127.0.0.1:" + std::to_string(port)).c_str()), VDL_OK);
    for (int result : {SetPaper(600, 400, 0, 0, 24), PrintBlock(10, 10, 590, 390, 4, 3), PrintQRCode("PKG-42", 350, 120, 2, 1, 5, 0), Prints(1, 1)})
        EXPECT_EQ(result, VDL_OK);
    EXPECT_EQ(CheckPrinterStatus(), 0x40);
    DisconnectPrinter();
    const std::string preview = previews() + "/label-0001.png";
    expectAll(log({"1 closed"}), {"1.4 BD block", "1.6 P print: first=1 second=1 | preview: " + preview, "1.7 ^cu status query: | answer: 0x41"});
    const std::string png = readFile(preview);
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\x02\x58\0\0\x01\x90", 8));  // 600 x 400
    if (onPath("zbarimg")) {
        EXPECT_EQ(runProgram({"zbarimg", "--raw", "-q", "--nodbus", preview}).output, "PKG-42\n");
    }
}

// Each command carries the time its last byte arrived, on the system clock,
// so that a client can time what it sent to the arrival at the printer.
TEST_F(EmulatorProgram, WritesJsonLines) {
    start({"--json", "--no-preview"});
    const auto clock = [] {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    };
    const double before = clock();
    close(connectAndSend("SS3\rP1,1\r"));
    const std::string lines = log({"\"closed\""});
    const double after = clock();  // the bytes arrive once sent, and are logged before this
    const std::string speed = "{\"connection\":1,\"sequence\":1,\"outcome\":\"decoded\",\"code\":\"SS\",\"command\":"
                              "\"speed\",\"fields\":{\"speed\":3},\"received\":";
    expectAll(lines, {speed, "\"code\":\"P\""});
    const std::size_t at = lines.find(speed);
    ASSERT_NE(at, std::string::npos);
    const double received = std::strtod(lines.c_str() + at + speed.size(), nullptr);
    EXPECT_GE(received, before - 0.001);
    EXPECT_LE(received, after + 0.001);
}

// The quoted values of a field in the log's lines, in order ("text" of text
// commands, "data" of barcodes).
std::vector<std::string> quotedFields(const std::string &log, const std::string &field) {
    std::vector<std::string> seen;
    const std::string key = " " + field + "=\"";
    for (std::size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1))
        seen.push_back(log.substr(at + key.size(), log.find('"', at + key.size()) - at - key.size()));
    return seen;
}

std::size_t occurrences(const std::string &log, const std::string &text) {
    std::size_t count = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
}

// A label abandoned half-way by the program's own exception, by a library
// error or after part of it went to the printer prints nothing: the next
// label prints alone.
TEST_F(EmulatorProgram, AbandonedLabelsPrintNothing) {
    start({"--no-preview"});
    vdl::Printer printer("127.0.0.1:" + std::to_string(port));
    const auto abandon = [&](const std::function<void()> &content) {
        EXPECT_ANY_THROW(printer.label([&] {
            printer.printDeviceFont("LOST", 10, 10);
            printer.print1DBarcode("LOST-1", 10, 60, vdl::Symbology::code128);
            content();
        }));
    };
    abandon([] { throw std::runtime_error("the program's own fault"); });
    abandon([&] { printer.printDeviceFont("\xED\x95\x9C", 10, 90, vdl::DeviceFont::a, 1, 1, vdl::Rotation::r0, false,
                                          vdl::CodePage::cp874); });
    abandon([&] {  // past the flush threshold: part of it is at the printer already
        for (int i = 0; i < 40; ++i) printer.printDeviceFont(std::string(100, 'L'), 10, i);
        throw std::runtime_error("late");
    });
    try {  // outside label(): the failed text takes the label under way with it
        printer.printDeviceFont("LOST", 10, 10);
        printer.printDeviceFont("\xED\x95\x9C", 10, 90, vdl::DeviceFont::a, 1, 1, vdl::Rotation::r0, false,
                                vdl::CodePage::cp874);
        FAIL();
    } catch (const vdl::Error &e) {
        EXPECT_EQ(e.code(), vdl::Errc::write);
        EXPECT_NE(std::string(e.what()).find("code page cannot hold"), std::string::npos) << e.what();
    }
    printer.label([&] { printer.printDeviceFont("KEPT", 10, 10); });
    printer.disconnect();
    const std::string decoded = log({"1 closed"});
    EXPECT_EQ(quotedFields(decoded, "text").back(), "KEPT");
    const std::size_t lastClear = decoded.rfind("CB clear buffer");
    ASSERT_NE(lastClear, std::string::npos) << decoded;
    EXPECT_EQ(decoded.find("LOST", lastClear), std::string::npos) << decoded;
    EXPECT_EQ(occurrences(decoded, "P print"), 1u) << decoded;
}

// Two threads print 200 labels each through one printer object: every label
// whole, each thread's in its order, nothing malformed on the wire.
TEST_F(EmulatorProgram, LabelsOfTwoThreadsNeverMix) {
    start({"--no-preview"});
    vdl::Printer printer("127.0.0.1:" + std::to_string(port));
    constexpr int kLabels = 200;
    const auto printLabels = [&](char thread) {
        for (int n = 0; n < kLabels; ++n)
            printer.label([&] {
                const std::string name = thread + std::to_string(n);
                printer.printDeviceFont(name, 10, 10);
                printer.print1DBarcode(name, 10, 60, vdl::Symbology::code128);
            });
    };
    std::thread a(printLabels, 'A'), b(printLabels, 'B');
    a.join();
    b.join();
    printer.disconnect();
    const std::string decoded = log({"1 closed"});
    EXPECT_EQ(decoded.find("MALFORMED"), std::string::npos);
    EXPECT_EQ(decoded.find("UNKNOWN"), std::string::npos);
    const std::vector<std::string> texts = quotedFields(decoded, "text");
    EXPECT_EQ(quotedFields(decoded, "data"), texts);
    int next[2] = {0, 0};
    for (const std::string &text : texts) {
        ASSERT_TRUE(text[0] == 'A' || text[0] == 'B') << text;
        EXPECT_EQ(text.substr(1), std::to_string(next[text[0] - 'A']++));
    }
    EXPECT_EQ(next[0] + next[1], 2 * kLabels);
    EXPECT_EQ(occurrences(decoded, "P print"), std::size_t(2 * kLabels));
}

void forkAChildThatPrints(vdl::Printer &parent, const std::string &portName);

// A child forked after the connect may not print on the parent's
// connection, nor send the parent's half-made label; it connects by itself.
TEST_F(EmulatorProgram, AForkedChildConnectsByItself) {
    start({"--no-preview"});
    const std::string portName = "127.0.0.1:" + std::to_string(port);
    vdl::Printer parent(portName);
    parent.label([&] {  // the child is not inside the parent's label
        parent.printDeviceFont("PARENT", 10, 10);
        forkAChildThatPrints(parent, portName);
    });
    parent.disconnect();
    const std::string decoded = log({"1 closed", "2 closed"});
    expectAll(decoded, {"text=\"CHILD\"", "2.3 P print", "text=\"PARENT\"", "1.3 P print"});
    EXPECT_EQ(quotedFields(decoded, "text"), (std::vector<std::string>{"CHILD", "PARENT"})) << decoded;
}

void forkAChildThatPrints(vdl::Printer &parent, const std::string &portName) {
    const pid_t child = fork();
    if (child == 0) {
        bool ok = !parent.connected();
        try {
            parent.feedOneLabel();
            ok = false;
        } catch (const vdl::Error &e) {
            ok = ok && e.code() == vdl::Errc::not_connected;
        }
        try {
            vdl::Printer own(portName);
            own.label([&] { own.printDeviceFont("CHILD", 10, 10); });
        } catch (const vdl::Error &) {
            ok = false;
        }
        _exit(ok ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
}

TEST(EmulatorOptions, RefusesWhatItCannotTake) {
    for (const std::vector<std::string> &wrong : {std::vector<std::string>{VDL_EMULATOR_PROGRAM, "--status", "cover-shut"},
                                                 {VDL_EMULATOR_PROGRAM, "--model", "200"}, {VDL_EMULATOR_PROGRAM, "--port", "70000"},
                                                 {VDL_EMULATOR_PROGRAM, "--code-page", "9"}, {VDL_EMULATOR_PROGRAM, "--paper", "4"},
                                                 {VDL_EMULATOR_PROGRAM, "--dpi"}, {VDL_EMULATOR_PROGRAM, "--bogus"}})
        EXPECT_EQ(runProgram(wrong).exitCode, 2) << wrong[1];
    EXPECT_NE(runProgram({VDL_EMULATOR_PROGRAM, "--help"}).output.find("--preview-dir"), std::string::npos);
}

}  // namespace
}  // namespace vdltest

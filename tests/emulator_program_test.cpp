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

#include <memory>
#include <string>
#include <vector>

#include "VdlLabelAPI.h"
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
        const std::string said = emulator->waitForError("listening on", kWaitMs);
        const std::size_t at = said.find("127.0.0.1:");
        ASSERT_NE(at, std::string::npos) << said;
        port = std::atoi(said.c_str() + at + 10);
        ASSERT_GT(port, 0);
    }

    void TearDown() override {
        if (emulator) {
            EXPECT_EQ(emulator->stop(), 0) << "the emulator did not end cleanly";
        }
    }

    std::string logPath() const { return directory.path() + "/emulator.log"; }
    std::string previews() const { return directory.path() + "/previews"; }
    std::string log(const std::vector<std::string> &texts) { return waitForFileContaining(logPath(), texts, kWaitMs); }

    int connectRaw() const {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        return fd;
    }

    static void sendAll(int fd, const std::string &bytes) {
        ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
    }

    // Reads until `count` bytes came or the wait ran out.
    static std::string receive(int fd, std::size_t count) {
        std::string got;
        while (got.size() < count) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, kWaitMs) <= 0) break;
            char buffer[256];
            const ssize_t n = recv(fd, buffer, std::min(sizeof buffer, count - got.size()), 0);
            if (n <= 0) break;
            got.append(buffer, std::size_t(n));
        }
        return got;
    }

    TempDirectory directory;
    std::unique_ptr<ChildProcess> emulator;
    int port = 0;
};

TEST_F(EmulatorProgram, KeepsServingThroughGarbageTruncationAndDisconnects) {
    start({"--status", "cover-open", "--model", "165"});

    // 1: garbage, a good command, then a barcode cut off by a normal close.
    const int first = connectRaw();
    sendAll(first, std::string("\x00\x01garbage\r", 10) + "SS3\r" + "B210,20,Q,1,L,4,0,'HEL");
    close(first);
    log({"1 closed by the peer"});

    // 2: a status query answered, then half a bitmap and a reset connection.
    const int second = connectRaw();
    sendAll(second, "^cu\r");
    EXPECT_EQ(receive(second, 1), "\x40");
    sendAll(second, std::string("LCR\0\x01\0\x02\0\x04\0\x08\0\x00", 13));
    const linger abort = {1, 0};
    setsockopt(second, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(second);
    log({"2 closed reset by the peer"});

    // 3: still answering.
    const int third = connectRaw();
    sendAll(third, "^PI0\r\n");
    EXPECT_EQ(receive(third, std::string(VELDRIN_DEVICE[165]).size() + 2), std::string(VELDRIN_DEVICE[165]) + "\r\n");
    sendAll(third, "^cu\r");
    EXPECT_EQ(receive(third, 1), "\x40");
    close(third);

    const std::string content = log({"3 closed by the peer"});
    EXPECT_NE(content.find("1.1 UNKNOWN no command starts with these bytes; 10 bytes \"\\x00\\x01garbage\\x0D\""),
              std::string::npos)
        << content;
    EXPECT_NE(content.find("1.2 SS speed: speed=3"), std::string::npos) << content;
    EXPECT_NE(content.find("1.3 TRUNCATED B2 two-dimensional barcode: the connection ended inside the command"),
              std::string::npos)
        << content;
    EXPECT_NE(content.find("2.1 ^cu status query: | answer: 0x40"), std::string::npos) << content;
    EXPECT_NE(content.find("2 closed reset by the peer"), std::string::npos) << content;
    EXPECT_NE(content.find("3.1 ^PI0 model query: | answer: " + std::string(VELDRIN_DEVICE[165])), std::string::npos)
        << content;
}

int pngSide(const std::string &png, int offset) {
    int value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(png[std::size_t(offset + i)]);
    return value;
}

TEST_F(EmulatorProgram, LibraryPrintsALabelThroughIt) {
    start({"--status", "0x41"});
    ASSERT_EQ(ConnectToPrinter(("127.0.0.1:" + std::to_string(port)).c_str()), VDL_OK);
    EXPECT_STREQ(VELDRIN_DEVICE[gPrinterModel], "VRL-408");
    EXPECT_EQ(SetPaper(600, 400, 0, 0, 24), VDL_OK);
    EXPECT_EQ(PrintBlock(10, 10, 590, 390, 4, 3), VDL_OK);
    EXPECT_EQ(PrintDeviceFont("TO: ACME", 30, 30, 4, 2, 2, 0, 1), VDL_OK);
    EXPECT_EQ(PrintQRCode("PKG-42", 350, 120, 2, 1, 5, 0), VDL_OK);
    EXPECT_EQ(Prints(1, 1), VDL_OK);
    EXPECT_EQ(CheckPrinterStatus(), 0x40);
    DisconnectPrinter();

    const std::string preview = previews() + "/label-0001.png";
    const std::string content = log({"1.4 BD block", "1.7 P print: first=1 second=1 | preview: " + preview, "1 closed"});
    EXPECT_NE(content.find("1.8 ^cu status query: | answer: 0x41"), std::string::npos) << content;
    const std::string png = readFile(preview);
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(pngSide(png, 16), 600);
    EXPECT_EQ(pngSide(png, 20), 400);
    if (onPath("zbarimg")) {
        EXPECT_EQ(runProgram({"zbarimg", "--raw", "-q", "--nodbus", preview}).output, "PKG-42\n");
    }
}

TEST_F(EmulatorProgram, WritesJsonLines) {
    start({"--json", "--no-preview"});
    const int fd = connectRaw();
    sendAll(fd, "SS3\rP1,1\r");
    close(fd);
    const std::string content = log({"\"closed\""});
    EXPECT_NE(content.find("{\"connection\":1,\"sequence\":1,\"outcome\":\"decoded\",\"code\":\"SS\",\"command\":"
                           "\"speed\",\"fields\":{\"speed\":3}}\n"),
              std::string::npos)
        << content;
    EXPECT_NE(content.find("\"code\":\"P\""), std::string::npos) << content;
}

TEST(EmulatorOptions, RefusesWhatItCannotTake) {
    for (const std::vector<std::string> &wrong :
         {std::vector<std::string>{"--status", "cover-shut"}, {"--model", "200"}, {"--port", "70000"},
          {"--code-page", "9"}, {"--paper", "4"}, {"--dpi"}, {"--bogus"}}) {
        std::vector<std::string> arguments = {VDL_EMULATOR_PROGRAM};
        arguments.insert(arguments.end(), wrong.begin(), wrong.end());
        EXPECT_EQ(runProgram(arguments).exitCode, 2) << wrong.front();
    }
    const ProgramResult help = runProgram({VDL_EMULATOR_PROGRAM, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--preview-dir"), std::string::npos);
}

}  // namespace
}  // namespace vdltest

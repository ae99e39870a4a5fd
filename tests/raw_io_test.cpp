// writeData and readData: chunking and pacing by interface type, the retry
// rules, and the read rules, against the fake printer.
#include <cerrno>
#include <csignal>

#include "library_test.h"

namespace vdltest {
namespace {

class RawIoTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        connectToFake();
        sendScript().fd = connection().fd;
    }
};

struct Pacing {
    vdl::InterfaceType type;
    std::size_t chunk;
    unsigned pause;
};

class PacingTest : public RawIoTest, public ::testing::WithParamInterface<Pacing> {};

// The pacing pause comes before every chunk and between chunks, never after
// the last one.
TEST_P(PacingTest, CutsTheDataIntoChunksAndPausesBeforeAndBetweenThem) {
    const Pacing &p = GetParam();
    connection().interfaceType = p.type;
    const std::string data = pattern(8192);

    ASSERT_EQ(writeData(data.data(), uint32_t(data.size())), 8192);

    const int chunks = int(8192 / p.chunk);
    EXPECT_EQ(pauses(), std::vector<unsigned>{10} + repeated(p.pause, 2 * chunks - 1));
    EXPECT_EQ(sendScript().asked, std::vector<std::size_t>(std::size_t(chunks), p.chunk));
    EXPECT_TRUE(sameBytes(printer.received(), data));
}

INSTANTIATE_TEST_SUITE_P(ByInterface, PacingTest,
                         ::testing::Values(Pacing{vdl::kUsb, 4096, 10}, Pacing{vdl::kSerial, 512, 30},
                                           Pacing{vdl::kParallel, 1024, 10}, Pacing{vdl::kNetwork, 8192, 10},
                                           Pacing{vdl::kBluetooth, 512, 30}));

TEST_F(RawIoTest, ZeroLengthOrNoConnectionWritesNothing) {
    EXPECT_EQ(writeData("", 0), 0);
    EXPECT_TRUE(sendScript().asked.empty());
    EXPECT_EQ(pauses(), std::vector<unsigned>{10});
    DisconnectPrinter();
    resetPauses();
    EXPECT_EQ(writeData("x", 1), VDL_ERR_WRITE_CHUNK);
    EXPECT_TRUE(pauses().empty());
}

struct Refusals {
    std::vector<SendStep> steps;  // before the device takes the rest
    int result;
    int attempts;  // send() calls in all
};

class RetryTest : public RawIoTest, public ::testing::WithParamInterface<Refusals> {};

TEST_P(RetryTest, RetriesWithinItsBoundsAndNeverRepeatsAByte) {
    const Refusals &r = GetParam();
    for (const SendStep &step : r.steps) sendScript().steps.push_back(step);
    const std::string data = pattern(100);

    EXPECT_EQ(writeData(data.data(), 100), r.result);

    EXPECT_EQ(int(sendScript().asked.size()), r.attempts);
    // Every retry is preceded by a 200 ms pause, then the pacing pause.
    std::vector<unsigned> expected = {10, 10};
    for (int retry = 1; retry < r.attempts; ++retry) expected = expected + std::vector<unsigned>{200, 10};
    EXPECT_EQ(pauses(), expected);
    if (r.result == 100) { EXPECT_TRUE(sameBytes(printer.received(), data)); }
}

const SendStep kNothing{0, 0}, kBusy{0, EAGAIN};
std::vector<SendStep> times(int n, SendStep step) { return std::vector<SendStep>(std::size_t(n), step); }

INSTANTIATE_TEST_SUITE_P(
    Rules, RetryTest,
    ::testing::Values(Refusals{times(4, kNothing), 100, 5}, Refusals{times(5, kNothing), VDL_ERR_WRITE_CHUNK, 5},
                      // A part taken, or an error, starts the nothing-taken count again.
                      Refusals{times(4, kNothing) + times(1, {3, 0}) + times(4, kNothing) + times(1, {50, 0}), 100, 11},
                      Refusals{times(4, kNothing) + times(1, kBusy) + times(4, kNothing), 100, 10},
                      Refusals{times(149, kBusy), 100, 150}, Refusals{times(150, kBusy), VDL_ERR_WRITE_CHUNK, 150},
                      Refusals{{{0, EBADF}}, VDL_ERR_WRITE_CHUNK, 1}, Refusals{{{0, EPIPE}}, VDL_ERR_WRITE_CHUNK, 1},
                      Refusals{times(4, {0, EIO}), 100, 5}, Refusals{times(5, {0, EIO}), VDL_ERR_WRITE_CHUNK, 5}));

TEST_F(RawIoTest, PrinterThatResetsTheConnectionFailsTheWriteWithoutSigpipe) {
    struct sigaction previous {}, fatal {};
    fatal.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &fatal, &previous);  // a SIGPIPE would end the test program
    printer.resetConnection();
    int result = 0;
    for (int i = 0; i < 3 && result >= 0; ++i) result = writeData(pattern(64).data(), 64);
    EXPECT_EQ(result, VDL_ERR_WRITE_CHUNK);
    sigaction(SIGPIPE, &previous, nullptr);
}

TEST_F(RawIoTest, ReadStopsAtAChunkEndingInNul) {
    printer.options().replyPieces = 2;  // one piece per pump
    printer.sendRaw(std::string("AB\0", 3));
    printer.sendRaw("CD");
    char buffer[16] = {};
    EXPECT_EQ(readData(buffer, 16), 3);
    EXPECT_EQ(std::string(buffer, 3), std::string("AB\0", 3));
    EXPECT_EQ(pauses(), (std::vector<unsigned>{100, 30}));
}

TEST_F(RawIoTest, ReadJoinsPiecesUpToAtMost512BytesAndLeavesTheRestOfTheBufferAlone) {
    printer.options().replyPieces = 3;  // one piece per pump
    for (int piece = 0; piece < 3; ++piece) printer.sendRaw(std::string(200, 'r'));
    std::string buffer(1000, '-');
    EXPECT_EQ(readData(buffer.data(), 1000), 512);
    EXPECT_EQ(buffer, std::string(512, 'r') + std::string(488, '-'));
}

TEST_F(RawIoTest, ReadOfNothingTriesTwentyTimes) {
    char buffer[8];
    EXPECT_EQ(readData(buffer, 8), 0);
    EXPECT_EQ(pauses(), std::vector<unsigned>{100} + repeated(30, 20));
    resetPauses();
    EXPECT_EQ(readData(buffer, 0), 0);  // nothing asked for: not one try
    EXPECT_EQ(pauses(), std::vector<unsigned>{100});
    DisconnectPrinter();
    resetPauses();
    EXPECT_EQ(readData(buffer, 8), 0);
    EXPECT_TRUE(pauses().empty());
}

}  // namespace
}  // namespace vdltest

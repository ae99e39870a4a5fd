// The command buffer, the append rule and the job commands.
#include <cerrno>
#include <random>

#include "command.h"
#include "library_test.h"

namespace vdltest {
namespace {

class CommandBufferTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        connectToFake();
        sendScript().fd = connection().fd;
    }

    int append(const std::string &unit) { return vdl::append(vdl::defaultPrinter(), {unit}); }

    // The next writeData of the library fails at once, as if the printer had gone.
    void failNextWrite() { sendScript().steps.push_back({0, EPIPE}); }
};

TEST_F(CommandBufferTest, FlushesOnceTheFillReaches3584) {
    ASSERT_EQ(append(pattern(3583)), 0);
    EXPECT_EQ(printer.received(), "");
    ASSERT_EQ(append("x"), 0);
    EXPECT_TRUE(sameBytes(printer.received(), pattern(3583) + "x"));
    EXPECT_EQ(sendScript().asked, std::vector<std::size_t>{3584});
    EXPECT_EQ(gDataIndex, 0u);
    // A unit that fills exactly the room left goes in whole: one full send.
    ASSERT_EQ(append(pattern(3583)), 0);
    ASSERT_EQ(append(pattern(513, 1)), 0);
    EXPECT_EQ(sendScript().asked, (std::vector<std::size_t>{3584, 4096}));
}

TEST_F(CommandBufferTest, FailedPrintKeepsEverythingForTheNextPrint) {
    ASSERT_EQ(append("LABEL"), 0);
    failNextWrite();
    EXPECT_EQ(Prints(1, 1), VDL_ERR_WRITE);
    EXPECT_EQ(buffered(), "LABELP1,1\r");
    ASSERT_EQ(Prints(1, 1), 0);
    EXPECT_EQ(printer.received(), "LABELP1,1\rP1,1\r");
}

TEST_F(CommandBufferTest, FailedFlushKeepsTheBufferAndTheNextAppendRetriesIt) {
    const std::string first = pattern(3600, 1), second = pattern(100, 2);
    failNextWrite();
    EXPECT_EQ(append(first), VDL_ERR_WRITE);
    EXPECT_TRUE(sameBytes(buffered(), first));
    EXPECT_EQ(append(second), 0);  // fits behind, and the flush is tried again
    EXPECT_TRUE(sameBytes(printer.received(), first + second));
    EXPECT_EQ(gDataIndex, 0u);
}

// A content operation that fails leaves the buffer and its fill as they were
// before the call, however long its command: no half command stays behind.
// Bytes that went out before the failing send go out again with the next print.
TEST_F(CommandBufferTest, OverLongCommandThatCannotBeSentLeavesTheBufferAsItWas) {
    const std::string data(6000, 'D');
    failNextWrite();
    EXPECT_EQ(Print1DBarcode(data.c_str(), 0, 0, 0, 0, 0, 0, 0, 0), VDL_ERR_WRITE);
    EXPECT_EQ(gDataIndex, 0u);
    failNextWrite();  // a converted text: its header does not stay behind either
    EXPECT_EQ(PrintDeviceFont(data.c_str(), 0, 0, 'a', 1, 1, 0, 0), VDL_ERR_WRITE);
    EXPECT_EQ(gDataIndex, 0u);

    ASSERT_EQ(append("LABEL"), 0);
    sendScript().steps = {{5, 0}, {0, EPIPE}};  // the label goes out, the command's first part does not
    EXPECT_EQ(Print1DBarcode(data.c_str(), 0, 0, 0, 0, 0, 0, 0, 0), VDL_ERR_WRITE);
    EXPECT_EQ(buffered(), "LABEL");
    ASSERT_EQ(Prints(1, 1), 0);
    EXPECT_EQ(printer.received(), "LABELLABELP1,1\r");

    failNextWrite();
    ASSERT_EQ(append(pattern(3600)), VDL_ERR_WRITE);
    failNextWrite();
    EXPECT_EQ(append(pattern(600, 2)), VDL_ERR_WRITE);
    EXPECT_TRUE(sameBytes(buffered(), pattern(3600)));
}

// Random unit sizes, some far larger than the buffer: every byte arrives once
// and in order, in sends no larger than the buffer, and the fill never passes
// the buffer's end (the sanitizer build catches a write past it).
TEST_F(CommandBufferTest, RandomUnitsArriveWholeAndInOrder) {
    std::mt19937 random(7);
    std::string all;
    for (int i = 0; i < 200; ++i) {
        const std::string unit = pattern(random() % 3 == 0 ? random() % 9000 : random() % 600, unsigned(i));
        ASSERT_EQ(append(unit), 0);
        ASSERT_LT(gDataIndex, 3584u);
        all += unit;
    }
    EXPECT_TRUE(sameBytes(printer.received() + buffered(), all));
    for (std::size_t asked : sendScript().asked) EXPECT_LE(asked, 4096u);
}

TEST_F(CommandBufferTest, FillLevelOverwrittenByTheApplicationIsBoundedByTheBuffer) {
    gDataIndex = 100000;
    failNextWrite();
    EXPECT_EQ(append("x"), VDL_ERR_WRITE);
    EXPECT_EQ(append("y"), 0);  // the 4096 buffered bytes went out first
    EXPECT_EQ(printer.received().size(), 4096u);
    EXPECT_EQ(buffered(), "y");
}

TEST_F(CommandBufferTest, ClearBufferAndWriteBufferGoOutAheadOfTheLabelContent) {
    ASSERT_EQ(append("LABEL"), 0);
    ASSERT_EQ(ClearBuffer(), 0);
    EXPECT_EQ(WriteBuffer("SS3\r", 4), 4);
    EXPECT_EQ(WriteBuffer("", 0), 0);
    EXPECT_EQ(buffered(), "LABEL");
    ASSERT_EQ(Prints(1, 1), 0);
    EXPECT_EQ(printer.received(), "CB\rSS3\rLABELP1,1\r");
}

TEST_F(CommandBufferTest, DirectIOWritesThenReads) {
    const struct {
        bool out;           // a command is given
        uint32_t capacity;  // 0: no reply wanted
        std::string reply;  // what the printer answers
        int result;
        uint32_t received;
    } cases[] = {{true, 16, "OK\r\n", 0, 4}, {false, 16, "OK\r\n", 0, 4}, {true, 0, "", 0, 0},
                 {false, 1000, std::string(700, 'z'), 0, 512}, {true, 16, "", VDL_ERR_NO_REPLY, 0}};
    for (const auto &c : cases) {
        printer.clearReceived();
        if (!c.reply.empty()) printer.sendRaw(c.reply);
        std::string in(1024, '\0');
        uint32_t length = c.capacity;
        EXPECT_EQ(DirectIO(c.out ? "~HS\r" : nullptr, 4, c.capacity ? in.data() : nullptr, &length), c.result);
        EXPECT_EQ(length, c.received);
        EXPECT_EQ(in.substr(0, c.received), c.reply.substr(0, c.received));
        EXPECT_EQ(printer.received(), c.out ? "~HS\r" : "");
        readData(in.data(), 1024);  // what was left over
    }
}

}  // namespace
}  // namespace vdltest

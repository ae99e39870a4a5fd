// The fixture every library test starts from: no connection, an empty
// command buffer, tracing off, no recorded pauses, a fake printer listening.
#ifndef VDL_TEST_LIBRARY_TEST_H
#define VDL_TEST_LIBRARY_TEST_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VdlLabelAPI.h"
#include "fake_printer.h"
#include "interpose.h"
#include "printer.h"

namespace vdltest {

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Connects to the fake printer and forgets the connect's pauses and bytes.
    void connectToFake();


    vdl::Connection &connection() { return vdl::defaultPrinter().connection; }
    std::string buffered() const { return std::string(reinterpret_cast<const char *>(gPrintData), gDataIndex); }

    FakePrinter printer;
};

// n pauses of ms milliseconds each.
std::vector<unsigned> repeated(unsigned ms, int n);
template <typename T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// n pseudo-random bytes: content whose order a test can check.
std::string pattern(std::size_t n, unsigned seed = 0);

// Byte strings compared without printing them whole.
::testing::AssertionResult sameBytes(const std::string &actual, const std::string &expected);

// Descriptors this process has open.
int openDescriptorCount();

}  // namespace vdltest

#endif

// What the printer application makes of PAPPL's state text before it is
// written or read: control characters in quoted values become blanks, and a
// value keeps at most 255 bytes, cut between whole UTF-8 characters, so that
// every line reads back (PAPPL reads a line only up to about 2 kB); CR LF
// line ends and a last line without its end, as an editor may leave them, read.
#include <gtest/gtest.h>

#include <string>

#include "state_file.h"

namespace {

TEST(StateFileTest, QuotedValuesLoseControlsAndWhatIsPastTheirBytes) {
    const std::string x254(254, 'x'), x255(255, 'x'), pairs(2 * 300, '\\');
    const struct {
        std::string line, expected;
    } cases[] = {
        {"Job id=1 name=\"line\nbreak\t!\" username=\"u\"\n", "Job id=1 name=\"line break !\" username=\"u\"\n"},
        {"Job id=2 name=\"" + std::string(300, 'x') + "\"\n", "Job id=2 name=\"" + x255 + "\"\n"},
        {"Job id=3 name=\"" + x254 + "\xC3\xA9\"\n", "Job id=3 name=\"" + x254 + "\"\n"},  // é would pass 255
        {"Job id=4 name=\"" + pairs + "\"\n", "Job id=4 name=\"" + std::string(2 * 255, '\\') + "\"\n"},
        {"Job id=5 name=\"" + x255 + "\\\"y\" next=\"z\"\n", "Job id=5 name=\"" + x255 + "\" next=\"z\"\n"},
        {"Location \"a\x01\"\n", "Location \"a\x01\"\n"},  // a line PAPPL writes unquoted values in
        {"Job id=6 name=\"a\r\n\"\r\nUUID u", "Job id=6 name=\"a  \"\nUUID u\n"},  // an editor's line ends
    };
    for (const auto &c : cases) EXPECT_EQ(vdlapp::withoutControlsInValues(c.line), c.expected) << c.line;
}

}  // namespace

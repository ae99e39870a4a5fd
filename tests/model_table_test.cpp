#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "VdlLabelAPI.h"

namespace {

bool filledSlot(int slot) {
    const std::pair<int, int> filled[] = {{0, 33}, {81, 83}, {101, 107}, {111, 113}, {121, 122}, {149, 149}, {151, 190}};
    for (const auto &range : filled)
        if (slot >= range.first && slot <= range.second) return true;
    return false;
}

std::string lower(const char *text) {
    std::string s(text);
    for (char &c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

TEST(ModelTable, HasTheManufacturerAndNinetyFilledSlotsOfWellFormedNames) {
    EXPECT_STREQ(VELDRIN_DEVICE[0], "VELDRIN");
    for (int slot = 0; slot < VDL_MODEL_SLOTS; ++slot) {
        const char *name = VELDRIN_DEVICE[slot];
        ASSERT_EQ(name != nullptr, filledSlot(slot)) << "slot " << slot;
        if (name == nullptr) continue;
        EXPECT_TRUE(std::strlen(name) >= 5 && std::strlen(name) <= 15) << name;
        EXPECT_EQ(std::strspn(name, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
                  std::strlen(name));
    }
}

// Which names contain which decides classification (the lower slot wins), so
// the table must hold exactly these containments and no others.
TEST(ModelTable, NamesContainEachOtherExactlyWhereFamiliesHaveVariants) {
    const std::set<std::pair<int, int>> expected = {{163, 164}, {167, 184}, {168, 185}, {169, 186}, {178, 190},
                                                    {179, 182}, {180, 183}, {2, 32},    {2, 187},   {13, 27},
                                                    {32, 187},  {14, 1},    {102, 101}};
    std::set<std::pair<int, int>> found;
    for (int inner = 1; inner < VDL_MODEL_SLOTS; ++inner)
        for (int outer = 1; outer < VDL_MODEL_SLOTS; ++outer)
            if (inner != outer && VELDRIN_DEVICE[inner] && VELDRIN_DEVICE[outer] &&
                lower(VELDRIN_DEVICE[outer]).find(lower(VELDRIN_DEVICE[inner])) != std::string::npos)
                found.insert({inner, outer});
    EXPECT_EQ(found, expected);
}

TEST(GetModel, FindsTheLowestLabelPrinterSlotNamedAnywhereInTheReply) {
    const auto name = [](int slot) { return std::string(VELDRIN_DEVICE[slot]); };
    const struct {
        std::string reply;
        int model;
    } cases[] = {{"model: " + name(151) + "\r\n", 151}, {lower(VELDRIN_DEVICE[190]), 178}, {name(182), 179},
                 {name(187), 187}, {name(170) + " " + name(160), 160}, {name(3), 0}, {"", 0}};
    for (const auto &c : cases) EXPECT_EQ(getModel(c.reply.c_str()), c.model) << c.reply;
    EXPECT_EQ(getModel(nullptr), 0);
}

// Every label printer has one of the three resolutions, and nothing else has
// one; a family's variants print as their plain model does.
TEST(ModelDotsPerInch, EveryLabelPrinterHasItsResolutionAndNothingElseHasOne) {
    std::map<int, int> count;
    for (int slot = -1; slot <= VDL_MODEL_SLOTS; ++slot) {
        const int dpi = VdlModelDotsPerInch(slot);
        const bool labelPrinter = slot >= 151 && slot <= 190;
        EXPECT_EQ(dpi != 0, labelPrinter) << slot;
        if (labelPrinter) ++count[dpi];
    }
    EXPECT_EQ(count, (std::map<int, int>{{203, 25}, {300, 12}, {600, 3}}));
    const std::pair<const char *, int> named[] = {{"VRL-408", 203}, {"VRL-406", 300}, {"VRX-430", 600},
                                                  {"VRX-630-HC", 600}, {"VRT-414", 300}, {"VRM-320-BT", 203}};
    for (const auto &[name, dpi] : named) EXPECT_EQ(VdlModelDotsPerInch(getModel(name)), dpi) << name;
    for (const auto &[plain, variant] : {std::pair{163, 164}, {167, 184}, {168, 185}, {169, 186}, {178, 190}})
        EXPECT_EQ(VdlModelDotsPerInch(plain), VdlModelDotsPerInch(variant)) << VELDRIN_DEVICE[variant];
}

}  // namespace

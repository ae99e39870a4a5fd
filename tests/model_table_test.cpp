#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "VdlLabelAPI.h"

namespace {

bool filledSlot(int slot) {
    if (slot == 0 || (slot >= 1 && slot <= 33) || (slot >= 81 && slot <= 83) || (slot >= 101 && slot <= 107))
        return true;
    if ((slot >= 111 && slot <= 113) || slot == 121 || slot == 122 || slot == 149) return true;
    return slot >= 151 && slot <= 190;
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
        const std::size_t length = std::strlen(name);
        EXPECT_TRUE(length >= 5 && length <= 15) << name;
        for (const char *c = name; *c; ++c)
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(*c)) || *c == '-' || *c == '_') << name;
    }
}

// Which names contain which is what decides classification (the lower slot
// wins), so the table must hold exactly these containments and no others.
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
    auto replyNaming = [](int slot, const char *around) { return std::string(around) + VELDRIN_DEVICE[slot] + "\r\n"; };
    const struct {
        std::string reply;
        int model;
    } cases[] = {
        {replyNaming(159, ""), 159},
        {replyNaming(151, "model: "), 151},
        {lower(VELDRIN_DEVICE[159]), 159},   // letter case is ignored
        {replyNaming(164, ""), 163},         // a suffixed variant names its plain slot too
        {replyNaming(184, ""), 167},
        {replyNaming(182, ""), 179},
        {replyNaming(187, ""), 187},         // its contained names sit below 151
        {std::string(VELDRIN_DEVICE[170]) + " " + VELDRIN_DEVICE[160], 160},
        {replyNaming(3, ""), 0},             // another printer of the maker
        {"", 0},
        {"no printer here\r\n", 0},
    };
    for (const auto &c : cases) EXPECT_EQ(getModel(c.reply.c_str()), c.model) << c.reply;
    EXPECT_EQ(getModel(nullptr), 0);
}

}  // namespace

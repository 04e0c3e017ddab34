// The case-insensitive comparison and the stable sort that replaces the neighbour-swap sort.
#include "BubbleSort.h"
#include "Catalogue.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace velk {
namespace {

int Sign(int value) { return (value > 0) - (value < 0); }

TEST(CatalogueOrder, ComparisonFoldsCaseCodePointByCodePoint) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    } const cases[] = {
        {"A_N.mp4/512", "a_n.MP4/512", 0},
        {"\xc3\x89t\xc3\xa9_N.mp4", "\xc3\xa9T\xc3\x89_n.mp4", 0}, // ÉtÉ / éTÉ
        {"\xe1\xba\x9e", "\xc3\x9f", 0},                           // ẞ folds to ß
        {"\xe2\x84\xaa", "k", 0},                                  // Kelvin sign folds to k
        {"\xcf\x82", "\xcf\x83", 0},                               // final sigma folds to σ
        {"\xd0\x96", "\xd0\xb6", 0},                               // Ж / ж
        {"\xf0\x90\x90\x80", "\xf0\x90\x90\xa8", 0},               // U+10400 / U+10428
        // Simple folding maps one code point to one: no "ss", no dotted capital I to "i".
        {"\xc3\x9f", "ss", 1},
        {"\xc4\xb0", "i", 1},
        // The whole entry is the key: sizes compare as text, "/" below letters and digits.
        {"x_N.mp4/1000", "x_N.mp4/900", -1},
        {"a_N.mp4/5", "a_N.mp4x/5", -1},
        {"a_N.mp4/5", "a_N.mp4_/5", -1},
        {"_a", "a", -1}, // "_" (0x5F) folds nowhere and sorts below the folded letters
        {"ab", "abc", -1},
        {"", "a", -1},
        // Code point order, not UTF-16 order: U+FF5A is below U+10428.
        {"\xef\xbd\x9a", "\xf0\x90\x90\xa8", -1},
        // Stray bytes compare as U+DC80..U+DCFF: above U+D7FF, below U+E000, by byte value.
        {"\xfe", "\xff", -1},
        {"\xed\x9f\xbf", "\xff", -1},
        {"\xff", "\xee\x80\x80", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Sign(CompareEntries(c.a, c.b)), c.sign) << c.a << " vs " << c.b;
        EXPECT_EQ(Sign(CompareEntries(c.b, c.a)), -c.sign) << c.b << " vs " << c.a;
        EXPECT_EQ(Sign(CaseFoldKey(c.a).compare(CaseFoldKey(c.b))), c.sign) << c.a << " vs " << c.b;
    }
}

// A name built from pieces that fold onto each other, so that equal entries, entries equal but
// for case, and prefixes of each other are common.
std::string RandomEntry(std::mt19937& random) {
    static const char* const pieces[] = {
        "a",
        "A",
        "b",
        "B",
        "z",
        "Z",
        "0",
        "1",
        "9",
        "_",
        ".",
        "-",
        " ",
        "N.mp4",
        "n.MP4",
        "E.avi",
        "U.mp4",
        "\xc3\xa9",     // é
        "\xc3\x89",     // É
        "\xc3\x9f",     // ß
        "\xe1\xba\x9e", // ẞ
        "ss",
        "\xcf\x83",     // σ
        "\xcf\x82",     // ς
        "\xce\xa3",     // Σ
        "\xe2\x84\xaa", // Kelvin sign
        "k",
        "\xc4\xb0",         // İ
        "\xea\xb5\xb4",     // 굴
        "\xef\xbd\x9a",     // ｚ
        "\xf0\x90\x90\x80", // 𐐀
        "\xf0\x90\x90\xa8", // 𐐨
    };
    constexpr int pieceCount = sizeof(pieces) / sizeof(pieces[0]);
    std::uniform_int_distribution<int> length(0, 6), piece(0, pieceCount - 1), size(0, 3);
    std::string name;
    for (int n = length(random); n > 0; --n)
        name += pieces[piece(random)];
    static const char* const sizes[] = {"512", "1000", "900", "3145728"};
    return name + "/" + sizes[size(random)];
}

TEST(CatalogueOrder, StableSortGivesTheNeighbourSwapOrder) {
    std::mt19937 random(20200101);
    std::uniform_int_distribution<int> count(0, 60);
    for (int set = 0; set < 2000; ++set) {
        std::vector<std::string> entries(count(random));
        for (auto& entry : entries)
            entry = RandomEntry(random);
        // Comparing permutations, not texts: equal entries must keep their collection order.
        ASSERT_EQ(StableOrder(entries), reference::BubbleOrder(entries)) << "set " << set;
    }
}

TEST(CatalogueOrder, EqualEntriesKeepCollectionOrder) {
    // Three folders' worth of names as collected: equal but for case, across folders.
    const std::vector<std::string> entries = {"b_N.mp4/1", "A_N.mp4/1", "a_n.mp4/1", "B_N.mp4/1",
                                              "a_N.mp4/1"};
    const std::vector<std::size_t> expected = {1, 2, 4, 0, 3};
    EXPECT_EQ(StableOrder(entries), expected);
}

} // namespace
} // namespace velk

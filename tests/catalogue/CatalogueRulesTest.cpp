// The naming rules, path forms and texts of the catalogue, as tables of cases.
#include "Catalogue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace velk {
namespace {

using C = RecordingCategory;

struct KeyCase {
    const char* name;
    std::optional<C> card;   // the card catalogue (".mp4" only)
    std::optional<C> opened; // a name classified again (".avi" too)
};

TEST(CatalogueRules, KeyDecidesTheCategory) {
    const KeyCase cases[] = {
        {"20200101_120000_N.mp4", C::Normal, C::Normal},
        {"20200101_120500_E.mp4", C::Event, C::Event},
        {"20200101_121000_U.mp4", C::Manual, C::Manual},
        {"20200101_120000_N.avi", std::nullopt, C::Normal},
        {"b_E.avi", std::nullopt, C::Event},
        {"x_U.avi", std::nullopt, C::Manual},
        {"20200101_120000_N.MP4", std::nullopt, std::nullopt},
        {"20200101_120000_n.mp4", std::nullopt, std::nullopt},
        {"20200101_120000_N.Avi", std::nullopt, std::nullopt},
        {"E.mp4", C::Event, C::Event}, // no underscore: the whole name is the key
        {"recE.mp4", std::nullopt, std::nullopt},
        {"x_NE.mp4", std::nullopt, std::nullopt},
        {"x_N.mp4_", std::nullopt, std::nullopt}, // the key is the empty text after the last "_"
        {"x_N_E.mp4", C::Event, C::Event},        // only the last "_" counts
        {"x_N.mp4.part", std::nullopt, std::nullopt},
        {"x_N-mp4", std::nullopt, std::nullopt},
        {"notes.txt", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CategoryOfName(c.name, false), c.card) << c.name;
        EXPECT_EQ(CategoryOfName(c.name, true), c.opened) << c.name;
    }
    EXPECT_EQ(FileNameKey("a_b_N.mp4"), "N.mp4");
    EXPECT_EQ(FileNameKey("E.mp4"), "E.mp4");
}

TEST(CatalogueRules, PathForms) {
    struct Case {
        const char* base;
        C folder;
        bool catalogueMode;
        const char* expected;
    } const cases[] = {
        {"/media/u/VELK-T/", C::Normal, true, "/media/u/VELK-T/ory_rec/a_N.mp4"},
        {"/media/u/VELK-T/", C::Event, true, "/media/u/VELK-T/evt_rec/a_N.mp4"},
        {"/media/u/VELK-T", C::Manual, true, "/media/u/VELK-T/usr_rec/a_N.mp4"},
        {"/", C::Normal, true, "/ory_rec/a_N.mp4"},
        {"/home/u/clips", C::Event, false, "/home/u/clips/a_N.mp4"},
        {"", C::Normal, false, "/a_N.mp4"}, // a file opened in the root folder
    };
    for (const auto& c : cases)
        EXPECT_EQ(RecordingPath(c.base, c.folder, "a_N.mp4", c.catalogueMode), c.expected)
            << c.base;

    EXPECT_EQ(FolderOfFile("/home/u/clips/a_N.mp4"), "/home/u/clips");
    EXPECT_EQ(FolderOfFile("/a_N.mp4"), "");
    // The folder and the path rule give the opened file's path back.
    EXPECT_EQ(RecordingPath(FolderOfFile("/a_N.mp4"), C::Normal, "a_N.mp4", false), "/a_N.mp4");
}

TEST(CatalogueRules, SizeTexts) {
    constexpr std::int64_t KiB = 1024, MiB = 1024 * KiB, GiB = 1024 * MiB;
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0.00 KB"},       {512, "0.50 KB"},
        {MiB, "1024.00 KB"},  {MiB + 6 * KiB, "1.01 MB"},
        {3 * MiB, "3.00 MB"}, {GiB, "1024.00 MB"},
        {2 * GiB, "2.00 GB"}, // the first size whose low 32 bits are negative
        {3 * GiB, "3.00 GB"}, {4 * GiB + 512, "4.00 GB"}, // low 32 bits: 512
        {5 * GiB, "5.00 GB"}, {2048 * GiB, "2048.00 GB"},
    };
    for (const auto& [size, text] : cases)
        EXPECT_EQ(SizeText(size), QString::fromLatin1(text)) << size;
}

TEST(CatalogueRules, RowTextsGiveTheirNamesBack) {
    const std::pair<int, std::string> cases[] = {
        {0, "a_N.mp4"},
        {7, "my trip_N.mp4"},             // only the first space ends the number
        {12345, "20200101_120000_E.mp4"}, // five digits still end in ". "
        {3, "주행 기록_U.mp4"},
    };
    EXPECT_EQ(RowText(0, "a_N.mp4"), QStringLiteral("0000. a_N.mp4"));
    EXPECT_EQ(RowText(12345, "x"), QStringLiteral("12345. x"));
    for (const auto& [index, name] : cases)
        EXPECT_EQ(NameOfRowText(RowText(index, name)), name) << name;
    EXPECT_EQ(NameOfRowText(QString()), "");
}

TEST(CatalogueRules, Utf8Validity) {
    const std::pair<const char*, bool> cases[] = {
        {"a_N.mp4", true},
        {"\xea\xb5\xb4\xeb\xa6\xbc_N.mp4", true}, // 굴림
        {"\xf0\x90\x90\x80_N.mp4", true},         // U+10400
        {"\xff_N.mp4", false},
        {"\xc3_N.mp4", false},             // truncated sequence
        {"\xc0\xaf_N.mp4", false},         // overlong "/"
        {"\xed\xa0\x80_N.mp4", false},     // surrogate
        {"\xf4\x90\x80\x80_N.mp4", false}, // above U+10FFFF
        {"\xe4\xbd", false},               // ends inside a sequence
    };
    for (const auto& [text, valid] : cases)
        EXPECT_EQ(IsValidUtf8(text), valid) << text;
}

} // namespace
} // namespace velk

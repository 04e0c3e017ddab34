#include "TelemetryRecord.h"
#include "GlibcReference.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace velk {
namespace {

using test::describe;
using test::glibcScan;

const std::string kExample =
    "88,2150,1,0,0/0,3,0,37.5665,126.9780,0/0.12,-0.05,0.98,0,5,0,0,0,0/1.2.3,144,0";

// kExample as fields, for building variants; the separators before each field follow the pattern.
std::vector<std::string> exampleFields() {
    return {"88",       "2150", "1",    "0",     "0",    "0",   "3", "0", "37.5665",
            "126.9780", "0",    "0.12", "-0.05", "0.98", "0",   "5", "0", "0",
            "0",        "0",    "1",    "2",     "3",    "144", "0"};
}
std::string joinFields(const std::vector<std::string>& fields) {
    static const char kSeparators[] = ",,,,/,,,,,/,,,,,,,,/..,,";
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += kSeparators[i - 1];
        line += fields[i];
    }
    return line;
}
// kExample with some fields replaced by other text.
std::string exampleWith(std::initializer_list<std::pair<std::size_t, std::string>> changes) {
    auto fields = exampleFields();
    for (const auto& [field, text] : changes)
        fields[field] = text;
    return joinFields(fields);
}

TelemetryRecord exampleGroups1To3() {
    TelemetryRecord r;
    r.speed = 88;
    r.engineRpm = 2150;
    r.leftTurnSignal = 1;
    r.gpsState = 3;
    r.latitude = 37.5665;
    r.longitude = 126.978;
    r.gSensorX = 0.12f;
    r.gSensorY = -0.05f;
    r.gSensorZ = 0.98f;
    r.forwardCollisionState = 5;
    return r;
}
TelemetryRecord exampleRecord() {
    TelemetryRecord r = exampleGroups1To3();
    r.firmwareMajor = 1;
    r.firmwareMinor = 2;
    r.firmwarePatch = 3;
    r.deviceCode = 144;
    return r;
}

template <typename Edit> TelemetryRecord edited(TelemetryRecord record, Edit edit) {
    edit(record);
    return record;
}

enum class Scan { VehicleInfo, Map };

// Each scan's record: every field compared, the version text rebuilt from the expected fields.
TEST(TelemetryParse, ScannedFields) {
    using R = TelemetryRecord;
    const std::string noGroup4 = kExample.substr(0, kExample.find("/1.2.3"));
    const struct {
        const char* name;
        std::string line;
        Scan scan;
        int matched;
        TelemetryRecord expected;
    } cases[] = {
        // clang-format off
        {"example line", kExample, Scan::VehicleInfo, 25, exampleRecord()},
        {"VELK-RS in mph", exampleWith({{23, "85"}, {24, "1"}}), Scan::VehicleInfo, 25,
         edited(exampleRecord(), [](R& r) { r.deviceCode = 85; r.speedUnit = 1; })},
        {"speed -1", exampleWith({{0, "-1"}}), Scan::VehicleInfo, 25,
         edited(exampleRecord(), [](R& r) { r.speed = -1; })},
        {"gpsState 1, map scan", exampleWith({{6, "1"}}), Scan::Map, 20,
         edited(exampleGroups1To3(), [](R& r) { r.gpsState = 1; })},
        {"firmwareMajor -1", exampleWith({{20, "-1"}}), Scan::VehicleInfo, 25,
         edited(exampleRecord(), [](R& r) { r.firmwareMajor = -1; })},
        {"space after a comma is skipped", exampleWith({{1, " 2150"}}), Scan::VehicleInfo, 25,
         exampleRecord()},
        {"white space of every kind before a number", exampleWith({{8, " \t\n\v\f\r37.5665"}}),
         Scan::VehicleInfo, 25, exampleRecord()},
        {"space before a comma stops after the first field", exampleWith({{0, "88 "}}),
         Scan::VehicleInfo, 1, edited(R{}, [](R& r) { r.speed = 88; })},
        {"G value 1.5", exampleWith({{11, "1.5"}}), Scan::VehicleInfo, 25,
         edited(exampleRecord(), [](R& r) { r.gSensorX = 1.5f; })},
        {"no group 4, vehicle scan", noGroup4, Scan::VehicleInfo, 20, exampleGroups1To3()},
        {"no group 4, map scan", noGroup4, Scan::Map, 20, exampleGroups1To3()},
        {"group 4 is not read by the map scan", kExample, Scan::Map, 20, exampleGroups1To3()},
        {"group 4 cut short", kExample.substr(0, kExample.find(".3,")), Scan::VehicleInfo, 22,
         edited(exampleGroups1To3(), [](R& r) { r.firmwareMajor = 1; r.firmwareMinor = 2; })},
        {"empty line", "", Scan::VehicleInfo, 0, R{}},
        {"garbage", "GPS lost", Scan::VehicleInfo, 0, R{}},
        {"a zero byte ends the scan", std::string("88\0,2150", 8), Scan::VehicleInfo, 1,
         edited(R{}, [](R& r) { r.speed = 88; })},
        {"10,000 characters of trailing text are ignored",
         kExample + "/" + std::string(10000 - kExample.size() - 1, 'x'), Scan::VehicleInfo, 25,
         exampleRecord()},
        {"10,000-digit speed overflows as in glibc", exampleWith({{0, std::string(10000, '9')}}),
         Scan::VehicleInfo, 25, edited(exampleRecord(), [](R& r) { r.speed = -1; })},
        {"10,000-digit latitude", exampleWith({{8, "37.5665" + std::string(9993, '0')}}),
         Scan::VehicleInfo, 25, exampleRecord()},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TelemetryScan scan =
            c.scan == Scan::VehicleInfo ? scanVehicleInfoLine(c.line) : scanMapLine(c.line);
        TelemetryScan expected{c.expected, c.matched};
        const TelemetryRecord& e = c.expected;
        expected.record.firmwareVersionText =
            formatFirmwareVersion(e.firmwareMajor, e.firmwareMinor, e.firmwarePatch);
        EXPECT_EQ(describe(scan), describe(expected));
    }
}

// What each panel makes of a line, each with its own scan: the vehicle information panel
// whether it draws the line and what version it reports, the map panel whether it moves the map.
TEST(TelemetryParse, PanelDecisions) {
    const struct {
        const char* name;
        std::string line;
        bool vehicleDraws;
        bool mapMoves;
        VersionReport report;
        std::string_view model; // deviceModelName of the reported code
    } cases[] = {
        // clang-format off
        {"example line", kExample, true, true, {"1.2.03", 144}, "VELK-T"},
        {"VELK-RS", exampleWith({{23, "85"}, {24, "1"}}), true, true, {"1.2.03", 85}, "VELK-RS"},
        {"speed -1: position still used", exampleWith({{0, "-1"}}), false, true,
         {"1.2.03", 144}, "VELK-T"},
        {"engineRpm -1", exampleWith({{1, "-1"}}), false, true, {"1.2.03", 144}, "VELK-T"},
        {"speed 0 and engineRpm 0", exampleWith({{0, "0"}, {1, "0"}}), true, true,
         {"1.2.03", 144}, "VELK-T"},
        {"gpsState 0", exampleWith({{6, "0"}}), true, false, {"1.2.03", 144}, "VELK-T"},
        {"gpsState 1", exampleWith({{6, "1"}}), true, false, {"1.2.03", 144}, "VELK-T"},
        {"gpsState 2", exampleWith({{6, "2"}}), true, true, {"1.2.03", 144}, "VELK-T"},
        {"firmwareMajor -1", exampleWith({{20, "-1"}}), true, true, {"", 0}, ""},
        {"unknown device code", exampleWith({{23, "7"}}), true, true, {"1.2.03", 7}, ""},
        {"no group 4", kExample.substr(0, kExample.find("/1.2.3")), true, true, {"", 0}, ""},
        {"space before a comma", exampleWith({{0, "88 "}}), false, false, {"", 0}, ""},
        {"empty line", "", false, false, {"", 0}, ""},
        {"garbage", "GPS lost", false, false, {"", 0}, ""},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TelemetryRecord vehicle = scanVehicleInfoLine(c.line).record;
        EXPECT_EQ(vehicleInfoAcceptsLine(c.line, vehicle), c.vehicleDraws);
        EXPECT_EQ(mapUsesPosition(scanMapLine(c.line).record), c.mapMoves);
        const VersionReport report = versionReport(vehicle);
        EXPECT_EQ(report.versionText, c.report.versionText);
        EXPECT_EQ(report.deviceCode, c.report.deviceCode);
        EXPECT_EQ(deviceModelName(report.deviceCode), c.model);
    }
}

// Overflowing integers are well defined: glibc's 64-bit result truncated to 32 bits. The scan
// goes on after them.
TEST(TelemetryParse, IntegerOverflow) {
    const struct {
        std::string text;
        std::int32_t value;
    } cases[] = {
        {"2147483647", std::numeric_limits<std::int32_t>::max()},
        {"2147483648", std::numeric_limits<std::int32_t>::min()},
        {"-2147483649", std::numeric_limits<std::int32_t>::max()},
        {"4294967385", 89},
        {"9223372036854775807", -1},
        {"-9223372036854775808", 0},
        {"18446744073709551705", -1},
        {std::string(10000, '9'), -1},
        {"-" + std::string(10000, '9'), 0},
        {std::string(10000, '0') + "7", 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 30));
        const TelemetryScan scan = scanVehicleInfoLine(c.text + ",2150");
        EXPECT_EQ(scan.record.speed, c.value);
        EXPECT_EQ(scan.record.engineRpm, 2150);
        EXPECT_EQ(scan.matchedFields, 2);
    }
}

TEST(TelemetryParse, FirmwareVersionText) {
    const struct {
        std::int32_t major, minor, patch;
        const char* text;
    } cases[] = {
        {1, 2, 3, "1.2.03"},
        {1, 2, 12, "1.2.12"},
        {10, 0, 0, "10.0.00"},
        {1, 2, 123, "1.2.123"},
        {1, 2, -3, "1.2.-3"},
        {INT32_MIN, INT32_MIN, INT32_MIN, "-2147483648.-2147483648.-2147483648"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatFirmwareVersion(c.major, c.minor, c.patch), c.text);
}

TEST(TelemetryParse, DeviceModelName) {
    const struct {
        std::int32_t code;
        std::string_view model;
    } cases[] = {
        {0x4F, ""}, {0x50, "VELK-RS"}, {85, "VELK-RS"}, {0x5F, "VELK-RS"}, {0x60, ""},
        {0x8F, ""}, {0x90, "VELK-T"},  {144, "VELK-T"}, {0x9F, "VELK-T"},  {0xA0, ""},
        {0, ""},    {-1, ""},          {0x150, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(deviceModelName(c.code), c.model) << c.code;
}

// The scanner against glibc's sscanf on inputs where the two are easiest to tell apart: each
// fragment stands in for an integer, a 64-bit real, a 32-bit real, the first field of group 4 and
// the last field of kExample.
TEST(TelemetryParse, AgreesWithGlibcScanf) {
    const std::vector<std::string> fragments = {
        // clang-format off
        // signs, zeros, white space and what is not white space in the "C" locale
        "", " ", "+", "-", "-0", "+12", "007", "0x1A", " \t\n\v\f\r5", "5 ", "\xa0" "5",
        "\xd9\xa3", std::string("5\0", 2) + "1", std::string("\0", 1),
        // points and exponents, complete and cut short
        "1e", "1e+", "1E5", "1e-5", "1e5.5", "0e", "0.e5", "e5", ".5", ".", "+.", "-.5e-3", "1.",
        "1.2.3", "1,5",
        // hexadecimal
        "0x", "0X", "-0x", "0x,", "0x1.8p1", "0X1P-2", "0x.p1", "0xp1", "0x1p", "0x1e", "0xg",
        // words
        "inf", "-INF", "+Infinity", "infin", "infix", "inf.5", "nan", "NaN(1)", "-nan", "na", "n",
        // range and rounding
        "1e400", "-1e400", "1e-400", "1e-45", "3.4028236e38",
        "0.1000000000000000055511151231257827", "0.12345678901234567890123456789",
        // Just above the midpoint of two floats: rounding through double would land on the
        // midpoint and then round down.
        "1.0000000596046447753906251",
        // clang-format on
    };
    std::vector<std::string> lines = {
        "",
        "   ",
        "/",
        ",,,,",
        "88",
        kExample + "\r\n",
        kExample + ",7/extra",
        kExample.substr(0, kExample.find(".3,")),
        "88,2150,1,0,0/0,3,0,37.5665 ,126.9780",
    };
    for (const std::string& fragment : fragments)
        for (std::size_t field : {0u, 8u, 11u, 20u, 24u})
            lines.push_back(exampleWith({{field, fragment}}));

    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        EXPECT_EQ(describe(scanVehicleInfoLine(line)),
                  describe(glibcScan(line.c_str(), kVehicleInfoFieldCount)));
        EXPECT_EQ(describe(scanMapLine(line)), describe(glibcScan(line.c_str(), kMapFieldCount)));
    }
}

// The user interface sets the process locale from the environment; a decimal comma there must
// not change how a line scans. Needs a locale with a decimal comma on the machine.
TEST(TelemetryParse, ProcessLocaleDoesNotMatter) {
    const TelemetryScan inC = scanVehicleInfoLine(kExample);
    std::string previous = std::setlocale(LC_ALL, nullptr);
    const char* found = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8",
                             "ko_KR.UTF-8", "de_DE", "fr_FR"}) {
        if (std::setlocale(LC_ALL, name) && std::strcmp(localeconv()->decimal_point, ".") != 0) {
            found = name;
            break;
        }
    }
    if (!found) {
        std::setlocale(LC_ALL, previous.c_str());
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    const TelemetryScan inLocale = scanVehicleInfoLine(kExample);
    const TelemetryScan mapInLocale = scanMapLine(kExample);
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(describe(inLocale), describe(inC)) << found;
    EXPECT_EQ(mapInLocale.record.latitude, 37.5665) << found;
}

} // namespace
} // namespace velk

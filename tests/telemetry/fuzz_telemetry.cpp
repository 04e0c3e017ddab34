// libFuzzer target for the telemetry scans. Built with clang's address and undefined-behaviour
// sanitizers, over exactly the fuzzer's bytes (no terminating zero), so any read past the line
// or undefined arithmetic stops the run. Each input is also checked against glibc's sscanf in
// the "C" locale, and the map scan against the vehicle information scan it is a prefix of.

#include "GlibcReference.h"
#include "TelemetryRecord.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace velk;

namespace {

[[noreturn]] void fail(const char* what, const std::string& mine, const std::string& other) {
    std::fprintf(stderr, "%s\n  scanner: %s\n  other:   %s\n", what, mine.c_str(), other.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const TelemetryScan vehicle = scanVehicleInfoLine(line);
    const TelemetryScan map = scanMapLine(line);

    // sscanf sees the line up to its first zero byte; the scanner treats a zero byte as a
    // character that fits no field, which must come to the same thing.
    const std::string terminated(line);
    const std::string mineVehicle = test::describe(vehicle);
    const std::string glibcVehicle =
        test::describe(test::glibcScan(terminated.c_str(), kVehicleInfoFieldCount));
    if (mineVehicle != glibcVehicle)
        fail("vehicle information scan differs from sscanf", mineVehicle, glibcVehicle);
    const std::string mineMap = test::describe(map);
    const std::string glibcMap =
        test::describe(test::glibcScan(terminated.c_str(), kMapFieldCount));
    if (mineMap != glibcMap) fail("map scan differs from sscanf", mineMap, glibcMap);

    // The map pattern is the first 20 fields of the vehicle pattern.
    TelemetryScan prefix = vehicle;
    const TelemetryRecord initial;
    prefix.matchedFields =
        vehicle.matchedFields < kMapFieldCount ? vehicle.matchedFields : kMapFieldCount;
    prefix.record.firmwareMajor = initial.firmwareMajor;
    prefix.record.firmwareMinor = initial.firmwareMinor;
    prefix.record.firmwarePatch = initial.firmwarePatch;
    prefix.record.deviceCode = initial.deviceCode;
    prefix.record.speedUnit = initial.speedUnit;
    prefix.record.firmwareVersionText = map.record.firmwareVersionText;
    if (test::describe(prefix) != mineMap)
        fail("map scan is not the prefix of the vehicle scan", mineMap, test::describe(prefix));

    const VersionReport report = versionReport(vehicle.record);
    if (!report.versionText.empty() && vehicle.record.firmwareMajor < 0)
        fail("version reported without a version", report.versionText, "");
    (void)deviceModelName(report.deviceCode);
    (void)vehicleInfoAcceptsLine(line, vehicle.record);
    (void)mapUsesPosition(map.record);
    return 0;
}

#pragma once
// The reference the scanner is held to: glibc's sscanf with the same patterns, run in the "C"
// locale of the calling thread only. Shared by telemetry_tests and the fuzzer.

#include "TelemetryRecord.h"

#include <bit>
#include <clocale>
#include <cstdio>
#include <locale.h>
#include <sstream>
#include <string>
#include <type_traits>

namespace velk::test {

// sscanf over a zero-terminated line (so it sees the line up to its first zero byte), with EOF
// reported as 0 matched fields like TelemetryScan does. Integer overflow is undefined for sscanf
// in ISO C; glibc's result on a 64-bit system is what the scanner reproduces.
inline TelemetryScan glibcScan(const char* line, int fieldCount) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    const locale_t previous = uselocale(cLocale);
    TelemetryScan scan;
    TelemetryRecord& r = scan.record;
    int n;
    if (fieldCount == kVehicleInfoFieldCount)
        n = std::sscanf(line, kVehicleInfoPattern, &r.speed, &r.engineRpm, &r.leftTurnSignal,
                        &r.rightTurnSignal, &r.brake, &r.aux6, &r.gpsState, &r.aux8, &r.latitude,
                        &r.longitude, &r.aux11, &r.gSensorX, &r.gSensorY, &r.gSensorZ,
                        &r.laneDepartureState, &r.forwardCollisionState, &r.pedestrianState,
                        &r.aux18, &r.aux19, &r.aux20, &r.firmwareMajor, &r.firmwareMinor,
                        &r.firmwarePatch, &r.deviceCode, &r.speedUnit);
    else
        n = std::sscanf(line, kMapPattern, &r.speed, &r.engineRpm, &r.leftTurnSignal,
                        &r.rightTurnSignal, &r.brake, &r.aux6, &r.gpsState, &r.aux8, &r.latitude,
                        &r.longitude, &r.aux11, &r.gSensorX, &r.gSensorY, &r.gSensorZ,
                        &r.laneDepartureState, &r.forwardCollisionState, &r.pedestrianState,
                        &r.aux18, &r.aux19, &r.aux20);
    uselocale(previous);
    scan.matchedFields = n < 0 ? 0 : n;
    r.firmwareVersionText =
        formatFirmwareVersion(r.firmwareMajor, r.firmwareMinor, r.firmwarePatch);
    return scan;
}

// Every field of a scan as text, each real followed by its bit pattern so that two descriptions
// are equal only when the values are bit for bit (NaN payloads and signed zeros included).
inline std::string describe(const TelemetryScan& scan) {
    const TelemetryRecord& r = scan.record;
    std::ostringstream out;
    auto bits = [&](auto value) {
        using Bits = std::conditional_t<sizeof(value) == 8, std::uint64_t, std::uint32_t>;
        out << std::hex << std::bit_cast<Bits>(value) << std::dec;
    };
    out << "matched " << scan.matchedFields << ": " << r.speed << ',' << r.engineRpm << ','
        << r.leftTurnSignal << ',' << r.rightTurnSignal << ',' << r.brake << '/' << r.aux6 << ','
        << r.gpsState << ',' << r.aux8 << ',' << r.latitude << '[';
    bits(r.latitude);
    out << "]," << r.longitude << '[';
    bits(r.longitude);
    out << "]," << r.aux11 << '/' << r.gSensorX << '[';
    bits(r.gSensorX);
    out << "]," << r.gSensorY << '[';
    bits(r.gSensorY);
    out << "]," << r.gSensorZ << '[';
    bits(r.gSensorZ);
    out << "]," << r.laneDepartureState << ',' << r.forwardCollisionState << ','
        << r.pedestrianState << ',' << r.aux18 << ',' << r.aux19 << ',' << r.aux20 << '/'
        << r.firmwareMajor << '.' << r.firmwareMinor << '.' << r.firmwarePatch << ','
        << r.deviceCode << ',' << r.speedUnit << " \"" << r.firmwareVersionText << '"';
    return out.str();
}

} // namespace velk::test

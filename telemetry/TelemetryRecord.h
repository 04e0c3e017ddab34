#pragma once
// The parsed telemetry line and the two scans the panels run over it. Qt-free: the engine's tests
// and the Qt panels share it. Everything here is a pure function of its arguments, callable from
// any thread; the panels call it on the user-interface thread.
//
// A line is four groups separated by "/", fields inside a group by ",", the first three numbers
// of group 4 by ".". It is scanned by the formatted-input rules of the C library (glibc's
// observable behaviour, in the "C" locale whatever the process locale is):
//   - white space (space, \t, \n, \v, \f, \r) before a number is skipped, none before a
//     separator; a separator must equal the next character;
//   - an integer is an optional sign and decimal digits; a real number is what glibc's scanf
//     accepts for %f: sign, digits, point, exponent, "inf"/"infinity"/"nan" in any case, and hex
//     floats ("0x1.8p3");
//   - the scan stops at the first misfit; later fields keep their initial values; text after the
//     last field is ignored.
// The scanner reads exactly the bytes of the given view and no further: a zero byte is just a
// character that fits no field.

#include <cstdint>
#include <string>
#include <string_view>

namespace velk {

// The 25-field line of the vehicle information panel and the 20-field one of the map panel (the
// same without group 4). The scanner follows a table of these fields; the strings are the
// reference the tests compare it with.
inline constexpr const char* kVehicleInfoPattern =
    "%d,%d,%d,%d,%d/%d,%d,%d,%lf,%lf,%d/%f,%f,%f,%d,%d,%d,%d,%d,%d/%d.%d.%d,%d,%d";
inline constexpr const char* kMapPattern =
    "%d,%d,%d,%d,%d/%d,%d,%d,%lf,%lf,%d/%f,%f,%f,%d,%d,%d,%d,%d,%d";
inline constexpr int kVehicleInfoFieldCount = 25;
inline constexpr int kMapFieldCount = 20;

// A plain value: built on the stack of the handler, copied into the drawing step, owning nothing
// but its version text.
//
// Initial values are those of a field the line does not reach. They are chosen so that a short
// or malformed line fails the panels' validity tests instead of showing made-up data: speed and
// engineRpm -1 (the vehicle panel ignores the line), gpsState 0 (the map stays where it was),
// firmwareMajor -1 (no version is reported). Every other field starts at 0.
//
// Integer fields that overflow take the value glibc's scanf gives on a 64-bit system: the digits
// saturate at the 64-bit range and the result is then truncated to 32 bits, so a huge positive
// number reads as -1 and a huge negative one as 0; 4294967297 reads as 1.
struct TelemetryRecord {
    // Group 1.
    std::int32_t speed = -1;          // in speedUnit; negative: the vehicle panel ignores the line
    std::int32_t engineRpm = -1;      // negative: the vehicle panel ignores the line
    std::int32_t leftTurnSignal = 0;  // 1 = on
    std::int32_t rightTurnSignal = 0; // 1 = on
    std::int32_t brake = 0;           // 1 = on
    // Group 2.
    std::int32_t aux6 = 0;
    std::int32_t gpsState = 0; // the position is usable only when > 1
    std::int32_t aux8 = 0;
    double latitude = 0.0;
    double longitude = 0.0;
    std::int32_t aux11 = 0;
    // Group 3.
    float gSensorX = 0.0f;
    float gSensorY = 0.0f;
    float gSensorZ = 0.0f;
    std::int32_t laneDepartureState = 0;    // 1 = left, 2 = right
    std::int32_t forwardCollisionState = 0; // 1..3 red, 4 orange, 5 green
    std::int32_t pedestrianState = 0;       // 1 green, 3 red
    std::int32_t aux18 = 0;
    std::int32_t aux19 = 0;
    std::int32_t aux20 = 0;
    // Group 4 (vehicle information scan only).
    std::int32_t firmwareMajor = -1; // negative: no version known
    std::int32_t firmwareMinor = 0;
    std::int32_t firmwarePatch = 0;
    std::int32_t deviceCode = 0; // see deviceModelName
    std::int32_t speedUnit = 0;  // 1 = mph, otherwise km/h; never converted

    // "%d.%d.%02d" of the three firmware fields, rebuilt by every scan (so "-1.0.00" when group 4
    // was not read; versionReport turns that into an empty text).
    std::string firmwareVersionText;
};

struct TelemetryScan {
    TelemetryRecord record;
    // Fields assigned, 0 to 25 (0 also where sscanf would return EOF). The panels do not use it.
    int matchedFields = 0;
};

// The vehicle information panel's scan (25 fields) and the map panel's (20 fields; group 4, if
// present, is not read).
TelemetryScan scanVehicleInfoLine(std::string_view line);
TelemetryScan scanMapLine(std::string_view line);

// "%d.%d.%02d": 1, 2, 3 gives "1.2.03".
std::string formatFirmwareVersion(std::int32_t major, std::int32_t minor, std::int32_t patch);

// The vehicle information panel draws a line only when it is not empty and both speed and
// engine revolutions are not negative. The empty test comes first: an empty line is not scanned.
bool vehicleInfoAcceptsLine(std::string_view line, const TelemetryRecord& record);
// The map panel moves the map only when the GPS state is above 1.
bool mapUsesPosition(const TelemetryRecord& record);

// What the vehicle information panel reports to the main window after a reset.
struct VersionReport {
    std::string versionText; // empty when no version is known
    std::int32_t deviceCode = 0;
    bool operator==(const VersionReport&) const = default;
};
VersionReport versionReport(const TelemetryRecord& record);

// "VELK-T" for 0x90..0x9F, "VELK-RS" for 0x50..0x5F, an empty view for any other code.
std::string_view deviceModelName(std::int32_t deviceCode);

} // namespace velk

#include "TelemetryRecord.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <variant>

namespace velk {
namespace {

using IntField = std::int32_t TelemetryRecord::*;
using DoubleField = double TelemetryRecord::*;
using FloatField = float TelemetryRecord::*;

struct PatternField {
    char separator; // the pattern character before the field; 0 for the first field
    std::variant<IntField, DoubleField, FloatField> target;
};

using R = TelemetryRecord;
// kVehicleInfoPattern as a table; the map pattern is its first kMapFieldCount entries.
constexpr std::array<PatternField, kVehicleInfoFieldCount> kFields{{
    {0, &R::speed},
    {',', &R::engineRpm},
    {',', &R::leftTurnSignal},
    {',', &R::rightTurnSignal},
    {',', &R::brake},
    {'/', &R::aux6},
    {',', &R::gpsState},
    {',', &R::aux8},
    {',', &R::latitude},
    {',', &R::longitude},
    {',', &R::aux11},
    {'/', &R::gSensorX},
    {',', &R::gSensorY},
    {',', &R::gSensorZ},
    {',', &R::laneDepartureState},
    {',', &R::forwardCollisionState},
    {',', &R::pedestrianState},
    {',', &R::aux18},
    {',', &R::aux19},
    {',', &R::aux20},
    {'/', &R::firmwareMajor},
    {'.', &R::firmwareMinor},
    {'.', &R::firmwarePatch},
    {',', &R::deviceCode},
    {',', &R::speedUnit},
}};

// The "C" locale for the real-number conversion, created once and never freed. glibc hands out a
// static object for "C", so this does not fail in practice; if it did, real fields would not
// match (the scan stops there) rather than follow the process locale.
locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return locale;
}

constexpr bool isCSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
constexpr bool isDigit(int c) {
    return c >= '0' && c <= '9';
}
constexpr bool isHexDigit(int c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
constexpr int toLower(int c) {
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

// One pass over a line, mirroring glibc's scanf character by character: get() reads the next
// byte (-1 at the end, without moving), unget() gives back the one byte scanf may push back.
class LineScanner {
public:
    explicit LineScanner(std::string_view text) : m_text(text) {}

    bool separator(char expected) {
        const int c = get();
        if (c != static_cast<unsigned char>(expected)) {
            unget(c);
            return false;
        }
        return true;
    }

    bool field(std::int32_t& out) {
        skipSpace();
        int c = get();
        bool negative = false;
        if (c == '-' || c == '+') {
            negative = c == '-';
            c = get();
        }
        // Saturates like strtol's 64-bit accumulator; once saturated it stays there.
        constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
        std::uint64_t magnitude = 0;
        bool anyDigit = false;
        while (isDigit(c)) {
            const unsigned digit = static_cast<unsigned>(c - '0');
            magnitude = magnitude > (kMax - digit) / 10 ? kMax : magnitude * 10 + digit;
            anyDigit = true;
            c = get();
        }
        unget(c);
        if (!anyDigit) return false;

        constexpr std::uint64_t kLongMax = std::numeric_limits<std::int64_t>::max();
        std::int64_t value;
        if (negative)
            value = magnitude > kLongMax + 1 ? std::numeric_limits<std::int64_t>::min()
                                             : static_cast<std::int64_t>(0 - magnitude);
        else
            value = magnitude > kLongMax ? std::numeric_limits<std::int64_t>::max()
                                         : static_cast<std::int64_t>(magnitude);
        // Modular since C++20: what glibc's (int) cast of strtol's result gives.
        out = static_cast<std::int32_t>(value);
        return true;
    }

    bool field(double& out) {
        std::string text;
        if (!collectReal(text)) return false;
        const locale_t locale = cLocale();
        if (locale == locale_t{}) return false;
        char* end = nullptr;
        const double value = strtod_l(text.c_str(), &end, locale);
        if (end == text.c_str()) return false;
        out = value;
        return true;
    }

    bool field(float& out) {
        std::string text;
        if (!collectReal(text)) return false;
        const locale_t locale = cLocale();
        if (locale == locale_t{}) return false;
        char* end = nullptr;
        // Straight to float, as scanf does: rounding through double could round twice.
        const float value = strtof_l(text.c_str(), &end, locale);
        if (end == text.c_str()) return false;
        out = value;
        return true;
    }

private:
    int get() {
        if (m_pos >= m_text.size()) return -1;
        return static_cast<unsigned char>(m_text[m_pos++]);
    }
    void unget(int c) {
        if (c >= 0) --m_pos;
    }
    void skipSpace() {
        while (m_pos < m_text.size() && isCSpace(static_cast<unsigned char>(m_text[m_pos])))
            ++m_pos;
    }

    // Takes the characters glibc's scanf takes for a real number and leaves them in `text` for
    // the conversion. Characters taken are consumed even when the conversion then uses only a
    // prefix of them ("1e+" converts as 1 and the scan goes on after the "+"), exactly as scanf
    // loses them. False when scanf reports a matching failure.
    bool collectReal(std::string& text) {
        skipSpace();
        int c = get();
        if (c < 0) return false;
        std::size_t signLength = 0;
        if (c == '-' || c == '+') {
            text += static_cast<char>(c);
            signLength = 1;
            c = get();
            if (c < 0) return false;
        }

        if (toLower(c) == 'n') return takeWord(text, c, "nan");
        if (toLower(c) == 'i') {
            if (!takeWord(text, c, "inf")) return false;
            c = get();
            if (toLower(c) != 'i') {
                unget(c);
                return true;
            }
            // Past "infi" the whole word must follow, or the field does not match at all.
            return takeWord(text, c, "inity");
        }

        char exponentChar = 'e';
        bool hex = false;
        bool gotDigit = false;
        bool gotDot = false;
        bool gotExponent = false;
        if (c == '0') {
            text += '0';
            c = get();
            if (toLower(c) == 'x') {
                text += static_cast<char>(c);
                hex = true;
                exponentChar = 'p';
                c = get();
            } else {
                gotDigit = true;
            }
        }
        for (;;) {
            if (isDigit(c) || (hex && !gotExponent && isHexDigit(c))) {
                text += static_cast<char>(c);
                gotDigit = true;
            } else if (gotExponent && text.back() == exponentChar && (c == '-' || c == '+')) {
                text += static_cast<char>(c);
            } else if (gotDigit && !gotExponent && toLower(c) == exponentChar) {
                text += exponentChar;
                gotExponent = gotDot = true;
            } else if (!gotDot && c == '.') {
                text += '.';
                gotDot = true;
            } else {
                unget(c);
                break;
            }
            c = get();
            if (c < 0) break;
        }
        // Nothing but a sign, or a bare "0x", is a matching failure.
        return text.size() != signLength && !(hex && text.size() == 2 + signLength);
    }

    // `first` (already read) and the following characters must spell `word`, in any case.
    bool takeWord(std::string& text, int first, std::string_view word) {
        int c = first;
        for (std::size_t i = 0;; ++i) {
            if (toLower(c) != word[i]) return false;
            text += static_cast<char>(c);
            if (i + 1 == word.size()) return true;
            c = get();
        }
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

TelemetryScan scanFields(std::string_view line, int fieldCount) {
    TelemetryScan scan;
    LineScanner scanner(line);
    for (int i = 0; i < fieldCount; ++i) {
        const PatternField& field = kFields[static_cast<std::size_t>(i)];
        if (field.separator != 0 && !scanner.separator(field.separator)) break;
        const bool matched = std::visit(
            [&](auto member) { return scanner.field(scan.record.*member); }, field.target);
        if (!matched) break;
        ++scan.matchedFields;
    }
    TelemetryRecord& r = scan.record;
    r.firmwareVersionText =
        formatFirmwareVersion(r.firmwareMajor, r.firmwareMinor, r.firmwarePatch);
    return scan;
}

} // namespace

TelemetryScan scanVehicleInfoLine(std::string_view line) {
    return scanFields(line, kVehicleInfoFieldCount);
}

TelemetryScan scanMapLine(std::string_view line) {
    return scanFields(line, kMapFieldCount);
}

std::string formatFirmwareVersion(std::int32_t major, std::int32_t minor, std::int32_t patch) {
    char text[48]; // three ints of at most 11 characters each, two points and the zero
    std::snprintf(text, sizeof text, "%d.%d.%02d", major, minor, patch);
    return text;
}

bool vehicleInfoAcceptsLine(std::string_view line, const TelemetryRecord& record) {
    return !line.empty() && record.speed >= 0 && record.engineRpm >= 0;
}

bool mapUsesPosition(const TelemetryRecord& record) {
    return record.gpsState > 1;
}

VersionReport versionReport(const TelemetryRecord& record) {
    if (record.firmwareMajor < 0) return {};
    return {record.firmwareVersionText, record.deviceCode};
}

std::string_view deviceModelName(std::int32_t deviceCode) {
    if (deviceCode >= 0x90 && deviceCode <= 0x9F) return "VELK-T";
    if (deviceCode >= 0x50 && deviceCode <= 0x5F) return "VELK-RS";
    return {};
}

} // namespace velk

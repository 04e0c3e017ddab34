#include "DriveSimulator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velk {
namespace {
constexpr double kDt = 0.1;
constexpr double kG = 9.81;
constexpr double kPi = 3.14159265358979323846;
constexpr double kMetresPerDegree = 111320.0;
} // namespace

DriveSimulator::DriveSimulator(uint32_t seed, int deviceCode, bool mph)
    : m_rng(0x9E3779B97F4A7C15ull ^ (static_cast<uint64_t>(seed) * 0xBF58476D1CE4E5B9ull)),
      m_deviceCode(deviceCode), m_mph(mph) {
    for (int i = 0; i < 4; ++i)
        random();
    m_speed = random(3, 12);
    m_heading = random(0, 2 * kPi);
    enter(Phase::Accelerate);
}

// splitmix64: same sequence on every platform and library.
double DriveSimulator::random() {
    uint64_t z = (m_rng += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / 9007199254740992.0;
}

double DriveSimulator::random(double a, double b) {
    return a + (b - a) * random();
}

void DriveSimulator::enter(Phase phase) {
    m_phase = phase;
    switch (phase) {
    case Phase::Stop:
        m_phaseLeft = random(2, 5);
        m_pedestrian = random() < 0.4 ? 1 : random() < 0.5 ? 3 : 0;
        m_following = false;
        break;
    case Phase::Accelerate:
        m_target = std::max(m_speed + 4, random(40, 110) / 3.6);
        m_rate = random(1.2, 3.0);
        m_following = random() < 0.4;
        m_pedestrian = 0;
        break;
    case Phase::Cruise:
        m_phaseLeft = random(3, 9);
        m_following = random() < 0.6;
        break;
    case Phase::Brake:
        m_target = random() < 0.5 ? 0 : m_speed * random(0.3, 0.7);
        m_rate = random(1.5, 5.0);
        m_following = m_rate > 3.0 || random() < 0.5;
        break;
    }
}

std::string DriveSimulator::nextLine() {
    // --- Longitudinal motion.
    double accel = 0;
    switch (m_phase) {
    case Phase::Stop:
        m_speed = 0;
        if ((m_phaseLeft -= kDt) <= 0) enter(Phase::Accelerate);
        break;
    case Phase::Accelerate:
        accel = m_rate * (1 - 0.5 * m_speed / 40) + random(-0.15, 0.15);
        m_speed += accel * kDt;
        if (m_speed >= m_target) enter(Phase::Cruise);
        break;
    case Phase::Cruise:
        accel = random(-0.25, 0.25);
        m_speed = std::max(1.0, m_speed + accel * kDt);
        if ((m_phaseLeft -= kDt) <= 0) enter(random() < 0.7 ? Phase::Brake : Phase::Accelerate);
        break;
    case Phase::Brake:
        accel = -m_rate + random(-0.15, 0.15);
        m_speed += accel * kDt;
        if (m_speed <= m_target) {
            m_speed = std::max(0.0, m_target);
            enter(m_speed < 0.5 ? Phase::Stop : Phase::Cruise);
        }
        break;
    }
    const bool braking = m_phase == Phase::Brake || m_phase == Phase::Stop;

    // --- Turns: the indicator comes on two seconds before the car turns and stays on through it.
    if (m_signal == 0 && m_speed > 5 && random() < 0.006) {
        m_signal = random() < 0.5 ? 1 : 2;
        m_signalLeft = random(3.5, 5.5);
        m_turnLeft = m_signalLeft - 2;
    }
    m_turnRate = 0;
    if (m_signal != 0) {
        if (m_signalLeft <= m_turnLeft)
            m_turnRate = (m_signal == 1 ? -1 : 1) * std::min(0.35, 4.0 / std::max(m_speed, 1.0));
        if ((m_signalLeft -= kDt) <= 0) m_signal = 0;
    }
    m_heading += m_turnRate * kDt;

    // --- Lane departures at speed, without the indicator.
    if (m_lane != 0) {
        if ((m_laneLeft -= kDt) <= 0) m_lane = 0;
    } else if (m_signal == 0 && m_speed > 15 && random() < 0.004) {
        m_lane = random() < 0.5 ? 1 : 2;
        m_laneLeft = random(1, 2.5);
    }

    // --- Position and fix: acquiring for the first 0.3 s, then outages now and then.
    const double step = m_speed * kDt;
    m_lat += step * std::cos(m_heading) / kMetresPerDegree;
    m_lon += step * std::sin(m_heading) / (kMetresPerDegree * std::cos(m_lat * kPi / 180));
    int gpsState = 3;
    if (m_tenth < 3) {
        gpsState = 1;
    } else if (m_outageLeft > 0) {
        m_outageLeft -= kDt;
        gpsState = m_outageLeft > 1.0 ? 0 : 1;
    } else if (random() < 0.003) {
        m_outageLeft = random(2, 6);
        gpsState = 0;
    }
    const int satellites = gpsState == 3 ? 7 + static_cast<int>(random() * 5) : gpsState;

    // --- Warnings.
    int vehicleAhead = 0;
    if (m_following) {
        if (m_phase == Phase::Brake)
            vehicleAhead = m_rate > 4.0 ? 1 : m_rate > 3.3 ? 2 : m_rate > 2.6 ? 3 : 4;
        else
            vehicleAhead = 5;
    }
    const int pedestrian = m_phase == Phase::Stop || m_speed < 3 ? m_pedestrian : 0;

    const double kmh = m_speed * 3.6;
    const int speed = static_cast<int>(std::lround(m_mph ? kmh * 0.621371 : kmh));
    int rpm;
    if (m_speed < 0.5) {
        rpm = 780 + static_cast<int>(random(-20, 20));
    } else {
        static constexpr double kGearTop[] = {20, 40, 65, 90, 400};
        double low = 0;
        int gear = 0;
        while (kmh > kGearTop[gear])
            low = kGearTop[gear++];
        const double span = (gear == 4 ? 80 : kGearTop[gear] - low);
        rpm = static_cast<int>(1100 + 2000 * (kmh - low) / span + 250 * std::max(0.0, accel));
        rpm = std::clamp(rpm, 800, 6500);
    }

    const double gx = accel / kG + random(-0.02, 0.02);
    const double gy = m_speed * m_turnRate / kG + random(-0.02, 0.02);
    const double gz = 0.98 + random(-0.03, 0.02);
    const double lat = gpsState == 0 ? 0.0 : m_lat, lon = gpsState == 0 ? 0.0 : m_lon;
    int headingDeg = static_cast<int>(std::fmod(m_heading * 180 / kPi, 360.0));
    if (headingDeg < 0) headingDeg += 360;

    char line[256];
    int n = std::snprintf(line, sizeof line,
                          "%d,%d,%d,%d,%d/%d,%d,%d,%.6f,%.6f,%d/%.2f,%.2f,%.2f,%d,%d,%d,%d,%d,%d/"
                          "%d.%d.%d,%d,%d",
                          speed, rpm, m_signal == 1, m_signal == 2, braking, 0, gpsState,
                          satellites, lat, lon, headingDeg, gx, gy, gz, m_lane, vehicleAhead,
                          pedestrian, 0, 0, 0, 1, 2, 3, m_deviceCode, m_mph ? 1 : 0);
    std::string text(line, std::min<size_t>(n, sizeof line - 1));
    if (text.size() < kMinLineLength) text.append(kMinLineLength - text.size(), ' ');
    ++m_tenth;
    return text;
}

} // namespace velk

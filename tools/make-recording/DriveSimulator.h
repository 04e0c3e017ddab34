#pragma once
// A simulated drive that produces one telemetry line (the 25-field format) per tenth of a
// second: the car accelerates, cruises, brakes and stops, turns with its indicators on, drifts
// out of its lane now and then, and loses the GPS fix for stretches. Deterministic for a seed.

#include <cstdint>
#include <string>

namespace velk {

class DriveSimulator {
public:
    DriveSimulator(uint32_t seed, int deviceCode, bool mph);

    // The line of the next tenth (the first call gives tenth 0), at least kMinLineLength bytes:
    // shorter lines are padded with trailing spaces, which readers ignore.
    std::string nextLine();

    static constexpr size_t kMinLineLength = 80;

private:
    enum class Phase { Stop, Accelerate, Cruise, Brake };

    double random();                   // uniform in [0, 1)
    double random(double a, double b); // uniform in [a, b)
    void enter(Phase phase);

    uint64_t m_rng;
    int m_deviceCode;
    bool m_mph;
    int m_tenth = 0;

    Phase m_phase = Phase::Accelerate;
    double m_phaseLeft = 0;   // seconds left in a timed phase (Cruise, Stop)
    double m_speed = 0;       // m/s
    double m_target = 0;      // m/s, end speed of Accelerate and Brake
    double m_rate = 0;        // m/s^2, magnitude of the acceleration of Accelerate and Brake
    bool m_following = false; // a vehicle is ahead in this phase

    double m_heading = 0.6; // radians from north
    double m_turnRate = 0;  // rad/s
    double m_signalLeft = 0, m_turnLeft = 0;
    int m_signal = 0; // 0 none, 1 left, 2 right

    double m_laneLeft = 0;
    int m_lane = 0;
    int m_pedestrian = 0;

    double m_lat = 37.5665, m_lon = 126.9780;
    double m_outageLeft = 0;
};

} // namespace velk

#pragma once
// The frame of every test that plays recordings through the engine in this process: the engine's
// environment once per process, no playback left over from the case before, and after each case
// the playback stopped, the shared flags back as the case found them and its commands dropped.

#include "EngineTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace velk::test {

class EngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Starts a playback of path (the log cleared) and waits for its first message with this
    // id; false when none came within the guard (a hang guard, not a timing expectation).
    static bool PlayUntil(const std::string& path, std::uint32_t id,
                          std::chrono::milliseconds guard = std::chrono::seconds(20));

private:
    // The flags the control panel writes, as the case found them.
    struct Flags {
        int speed, volume, zoom, mirror, fullScreen;
    };
    Flags m_flags{};
};

} // namespace velk::test

#include "EngineFixture.h"

#include <SDL.h>

namespace velk::test {

void EngineTest::SetUpTestSuite() { SetUpEngineEnvironment(); }

void EngineTest::SetUp() {
    ASSERT_TRUE(WaitEngineIdle()) << "a playback of an earlier case still runs";
    m_flags = {speedFactor, startVolume, zoomView, mirrorView, fullScreenLayout};
}

void EngineTest::TearDown() {
    // A case that failed early may leave its playback running; the next case (when several run
    // in one process) must not start beside it.
    if (engineRunning) {
        EXPECT_TRUE(StopPlayback()) << "the engine did not stop";
    }
    speedFactor = m_flags.speed;
    startVolume = m_flags.volume;
    zoomView = m_flags.zoom;
    mirrorView = m_flags.mirror;
    fullScreenLayout = m_flags.fullScreen;
    // A playback stopped while paused hands its space key on; commands nobody took are dropped.
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
}

bool EngineTest::PlayUntil(const std::string& path, std::uint32_t id,
                           std::chrono::milliseconds guard) {
    StartPlayback(path);
    return Poster().waitForMessage(id, guard);
}

} // namespace velk::test

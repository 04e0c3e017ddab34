#pragma once
// A poster and panel-call sink that records everything, with the time it arrived, for tests
// and for hosts that print what the engine says. Thread-safe; waiting is done by the reader.

#include "PanelCalls.h"
#include "WindowMessages.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velk {

struct RecordedMessage {
    WindowHandle target = 0;
    std::uint32_t id = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::optional<std::string> text;
    std::chrono::steady_clock::time_point when;
};

// Direct calls are recorded as messages with these ids so that one ordered log holds both.
inline constexpr std::uint32_t kRecordedShowTotalTime = 0x10000;    // wParam unused, lParam = us
inline constexpr std::uint32_t kRecordedSelectViewerMode = 0x10001; // wParam = 1 with rear

class RecordingPoster : public MessagePoster, public PanelCalls {
public:
    void post(WindowHandle target, WindowMessage message) override;
    void ShowTotalTime(std::int64_t durationMicroseconds) override;
    void SelectViewerMode(bool hasRearPicture) override;

    std::vector<RecordedMessage> snapshot() const;
    void clear();
    // Waits until pred holds for the log, or the timeout passes; returns whether it held.
    bool waitFor(const std::function<bool(const std::vector<RecordedMessage>&)>& pred,
                 std::chrono::milliseconds timeout) const;
    // Waits for a message with this id (optionally to this target) arriving at index >= from.
    bool waitForMessage(std::uint32_t id, std::chrono::milliseconds timeout,
                        std::size_t from = 0) const;

private:
    void append(RecordedMessage m);
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<RecordedMessage> m_log;
};

} // namespace velk

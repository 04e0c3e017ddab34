#include "RecordingPoster.h"

namespace velk {

void RecordingPoster::append(RecordedMessage m) {
    m.when = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(m_mutex);
        m_log.push_back(std::move(m));
    }
    m_changed.notify_all();
}

void RecordingPoster::post(WindowHandle target, WindowMessage message) {
    RecordedMessage m;
    m.target = target;
    m.id = message.id;
    m.wParam = message.wParam;
    m.lParam = message.lParam;
    if (message.text) m.text = *message.text;
    append(std::move(m));
}

void RecordingPoster::ShowTotalTime(std::int64_t durationMicroseconds) {
    RecordedMessage m;
    m.id = kRecordedShowTotalTime;
    m.lParam = static_cast<std::intptr_t>(durationMicroseconds);
    append(std::move(m));
}

void RecordingPoster::SelectViewerMode(bool hasRearPicture) {
    RecordedMessage m;
    m.id = kRecordedSelectViewerMode;
    m.wParam = hasRearPicture ? 1 : 0;
    append(std::move(m));
}

std::vector<RecordedMessage> RecordingPoster::snapshot() const {
    std::lock_guard lock(m_mutex);
    return m_log;
}

void RecordingPoster::clear() {
    std::lock_guard lock(m_mutex);
    m_log.clear();
}

bool RecordingPoster::waitFor(const std::function<bool(const std::vector<RecordedMessage>&)>& pred,
                              std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return pred(m_log); });
}

bool RecordingPoster::waitForMessage(std::uint32_t id, std::chrono::milliseconds timeout,
                                     std::size_t from) const {
    return waitFor(
        [&](const std::vector<RecordedMessage>& log) {
            for (std::size_t i = from; i < log.size(); ++i)
                if (log[i].id == id) return true;
            return false;
        },
        timeout);
}

} // namespace velk

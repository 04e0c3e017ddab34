#pragma once
// The two operations the read_thread calls directly once a recording is open. They run on the
// read_thread: an implementation that touches widgets must hand the call to its own thread.

#include <cstdint>

namespace velk {

class PanelCalls {
public:
    virtual ~PanelCalls() = default;
    // Control panel: the recording's duration in microseconds, as the container gives it.
    virtual void ShowTotalTime(std::int64_t durationMicroseconds) = 0;
    // Map panel: true when the recording has a rear picture.
    virtual void SelectViewerMode(bool hasRearPicture) = 0;
};

} // namespace velk

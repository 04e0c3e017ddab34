// The telemetry lines of one playback by tenth of a second, and their delivery to the vehicle
// information panel and the map panel as the pictures play.

#include "VideoState.h"

#include "AppGlobals.h"

#include <climits>
#include <cstring>
#include <unordered_map>

namespace velk {

namespace {
// Written by the text decoder thread, read by the player thread: every access takes the lock.
std::mutex timelineLock;
std::unordered_map<int, std::string> timeline;

constexpr int kMaxWalkTenths = 40;

bool HasTenth(int key) {
    std::lock_guard guard(timelineLock);
    return timeline.count(key) != 0;
}

bool LookUp(int key, std::string* out) {
    std::lock_guard guard(timelineLock);
    auto it = timeline.find(key);
    if (it == timeline.end()) return false;
    *out = it->second;
    return true;
}

void DeliverTenth(VideoState* state, int key) {
    if (!LookUp(key, &state->currentTelemetryText)) return;
    if (fullScreenLayout || state->currentTelemetryText.empty()) return;
    const AppGlobals& globals = Globals();
    for (std::uint32_t id : {MsgVehicleTelemetry, MsgMapTelemetry}) {
        WindowMessage message;
        message.id = id;
        message.text = std::make_unique<std::string>(state->currentTelemetryText);
        message.lParam = reinterpret_cast<std::intptr_t>(message.text.get());
        PostWindowMessage(id == MsgVehicleTelemetry ? globals.vehicleInfoPanel : globals.mapPanel,
                          std::move(message));
    }
    CountTelemetryDelivered();
}
} // namespace

void AddTelemetryLine(VideoState* state, int key, const std::uint8_t* payload, int size) {
    // A re-written text track (3GPP timed text) puts the text's length in two bytes before it.
    // Only a prefix that gives exactly the rest of the sample is one: a device line begins with
    // digits, which read as a length far above any line's.
    if (size >= 2 && ((payload[0] << 8) | payload[1]) == size - 2) {
        payload += 2;
        size -= 2;
    }
    // The payload is read as a zero-terminated string that ends at the packet's end at most.
    const void* zero = size > 0 ? std::memchr(payload, 0, static_cast<std::size_t>(size)) : nullptr;
    const std::size_t length = zero ? static_cast<const std::uint8_t*>(zero) - payload
                                    : static_cast<std::size_t>(FFMAX(size, 0));
    std::string text(reinterpret_cast<const char*>(payload), length);
    std::lock_guard guard(timelineLock);
    timeline[key] = std::move(text);
    if (key > state->highestCollectedKey) state->highestCollectedKey = key;
}

void DeliverTelemetry(VideoState* state) {
    if (state->textStreamIndex < 0) return;
    const double master = ReadMasterClock(state);
    if (std::isnan(master) || master * 10 < 0 || master * 10 >= INT_MAX) return;
    const int t = static_cast<int>(master * 10);
    // The walk starts before tenth 0 and restarts at t itself after a seek and after a jump of
    // more than the walk ahead. Otherwise it only goes forward: a clock that steps back without a
    // seek (the sound clock corrected by a late audio callback) would deliver lines a second time.
    const int seeks = state->seeksDone;
    int& cursor = state->telemetryCursor;
    const bool seeked = state->walkSeeks >= 0 && seeks != state->walkSeeks;
    if (seeked || t > cursor + kMaxWalkTenths) cursor = t - 1;
    state->walkSeeks = seeks;
    // Every tenth passed since the last call is visited in order, so no line is lost after a
    // stall, at a higher speed, or while the text decoder is still catching up.
    while (cursor < t) {
        const int next = cursor + 1;
        if (next > state->highestCollectedKey && !HasTenth(next)) break; // not decoded yet
        cursor = next;
        DeliverTenth(state, next);
    }
}

void ClearTelemetryTimeline() {
    std::lock_guard guard(timelineLock);
    if (!timeline.empty()) timeline.clear();
}

bool TelemetryTimelineEmpty() {
    std::lock_guard guard(timelineLock);
    return timeline.empty();
}

} // namespace velk

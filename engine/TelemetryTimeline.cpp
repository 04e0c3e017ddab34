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

// The last tenth handled by the delivery, player thread only. Each playback starts before
// tenth 0, so every playback delivers its first line.
int telemetryCursor = -1;
// The highest key the text decoder has collected in this playback: a tenth above it may still
// be on its way, so the walk waits for it instead of passing it by.
std::atomic<int> highestCollectedKey{-1};
// The text of the moment last found (player thread only); each delivery posts its own copy.
std::string currentTelemetryText;

constexpr int kMaxWalkTenths = 40;
// The seeks of the playback the walk last started or restarted at; -1 before the first call.
int walkSeeks = -1;

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

void DeliverTenth(int key) {
    if (!LookUp(key, &currentTelemetryText)) return;
    if (fullScreenLayout || currentTelemetryText.empty()) return;
    const AppGlobals& globals = Globals();
    for (std::uint32_t id : {MsgVehicleTelemetry, MsgMapTelemetry}) {
        WindowMessage message;
        message.id = id;
        message.text = std::make_unique<std::string>(currentTelemetryText);
        message.lParam = reinterpret_cast<std::intptr_t>(message.text.get());
        PostWindowMessage(id == MsgVehicleTelemetry ? globals.vehicleInfoPanel : globals.mapPanel,
                          std::move(message));
    }
    CountTelemetryDelivered();
}
} // namespace

void AddTelemetryLine(int key, const std::uint8_t* payload, int size) {
    // The payload is read as a zero-terminated string that ends at the packet's end at most.
    const void* zero = size > 0 ? std::memchr(payload, 0, static_cast<std::size_t>(size)) : nullptr;
    const std::size_t length = zero ? static_cast<const std::uint8_t*>(zero) - payload
                                    : static_cast<std::size_t>(FFMAX(size, 0));
    std::string text(reinterpret_cast<const char*>(payload), length);
    std::lock_guard guard(timelineLock);
    timeline[key] = std::move(text);
    if (key > highestCollectedKey) highestCollectedKey = key;
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
    const bool seeked = walkSeeks >= 0 && seeks != walkSeeks;
    if (seeked || t > telemetryCursor + kMaxWalkTenths) telemetryCursor = t - 1;
    walkSeeks = seeks;
    // Every tenth passed since the last call is visited in order, so no line is lost after a
    // stall, at a higher speed, or while the text decoder is still catching up.
    while (telemetryCursor < t) {
        const int next = telemetryCursor + 1;
        if (next > highestCollectedKey && !HasTenth(next)) break; // not decoded yet: next time
        telemetryCursor = next;
        DeliverTenth(next);
    }
}

void ClearTelemetryTimeline() {
    std::lock_guard guard(timelineLock);
    if (!timeline.empty()) timeline.clear();
    highestCollectedKey = -1;
    telemetryCursor = -1; // the next playback begins a walk of its own
    walkSeeks = -1;
    currentTelemetryText.clear();
}

bool TelemetryTimelineEmpty() {
    std::lock_guard guard(timelineLock);
    return timeline.empty();
}

} // namespace velk

// Clocks, the choice of the master, the picture delay rule, audio drift correction and the
// integer playback speed.

#include "VideoState.h"

extern "C" {
#include <libavutil/time.h>
}

namespace velk {

double NowSeconds() { return av_gettime_relative() / 1000000.0; }

void StampClockAt(PlaybackClock* clock, double t, int serial, double now) {
    std::lock_guard guard(clock->lock);
    clock->clockTime = t;
    clock->lastStamped = now;
    clock->clockDrift = t - now;
    clock->clockSerial = serial;
}

void StampClock(PlaybackClock* clock, double t, int serial) {
    StampClockAt(clock, t, serial, NowSeconds());
}

void ResetClock(PlaybackClock* clock, const std::atomic<int>* queueSerial) {
    {
        std::lock_guard guard(clock->lock);
        clock->clockSpeed = 1.0;
        clock->clockPaused = 0;
        clock->queueSerial = queueSerial;
    }
    StampClock(clock, NAN, -1);
}

double ReadClock(const PlaybackClock* clock) {
    std::lock_guard guard(clock->lock);
    int wanted = clock->queueSerial ? clock->queueSerial->load() : clock->clockSerial;
    if (wanted != clock->clockSerial) return NAN;
    if (clock->clockPaused) return clock->clockTime;
    double now = NowSeconds();
    return clock->clockDrift + now - (now - clock->lastStamped) * (1.0 - clock->clockSpeed);
}

int ClockSerial(const PlaybackClock* clock) {
    std::lock_guard guard(clock->lock);
    return clock->clockSerial;
}

double ClockTime(const PlaybackClock* clock) {
    std::lock_guard guard(clock->lock);
    return clock->clockTime;
}

double ClockSpeed(const PlaybackClock* clock) {
    std::lock_guard guard(clock->lock);
    return clock->clockSpeed;
}

void SetClockPaused(PlaybackClock* clock, int paused) {
    std::lock_guard guard(clock->lock);
    clock->clockPaused = paused;
}

void ChangeClockSpeed(PlaybackClock* clock, double speed) {
    StampClock(clock, ReadClock(clock), ClockSerial(clock));
    std::lock_guard guard(clock->lock);
    clock->clockSpeed = speed;
}

void AlignClockWith(PlaybackClock* clock, const PlaybackClock* slave) {
    double c = ReadClock(clock);
    double s = ReadClock(slave);
    if (!std::isnan(s) && (std::isnan(c) || std::fabs(c - s) > kNoSyncThreshold))
        StampClock(clock, s, ClockSerial(slave));
}

MasterClock MasterKind(const VideoState* state) {
    switch (state->syncMode) {
    case MasterClock::Video:
        return state->frontStreamIndex >= 0 ? MasterClock::Video : MasterClock::Audio;
    case MasterClock::Audio:
        return state->audioStreamIndex >= 0 ? MasterClock::Audio : MasterClock::External;
    default:
        return MasterClock::External;
    }
}

double ReadMasterClock(const VideoState* state) {
    switch (MasterKind(state)) {
    case MasterClock::Video:
        return ReadClock(&state->videoClock);
    case MasterClock::Audio:
        return ReadClock(&state->audioClock);
    default:
        return ReadClock(&state->externalClock);
    }
}

double PictureDelay(double delay, const VideoState* state) {
    double diff = 0;
    if (MasterKind(state) != MasterClock::Video) {
        diff = ReadClock(&state->videoClock) - ReadMasterClock(state);
        // A third of a picture: the picture stays within about 10 ms of the sound at 30 a
        // second (a whole picture let it sit 33 ms ahead uncorrected).
        double threshold = FFMAX(kSyncThresholdMin, FFMIN(kSyncThresholdMax, delay / 3));
        if (!std::isnan(diff) && std::fabs(diff) < state->pictureGapLimit) {
            // Ahead, the picture waits exactly as long as it is ahead. Doubling the delay of a
            // short picture instead would overshoot by most of a picture and swing the picture
            // from ahead of the sound to behind it.
            if (diff <= -threshold)
                delay = FFMAX(0, delay + diff);
            else if (diff >= threshold)
                delay = delay + diff;
        }
    }
    av_log(nullptr, AV_LOG_TRACE, "video: delay=%0.3f A-V=%f\n", delay, -diff);
    return delay;
}

double PictureDuration(const VideoState* state, const QueuedFrame* picture,
                       const QueuedFrame* next) {
    if (picture->serial != next->serial) return 0.0;
    double d = next->pts - picture->pts;
    if (std::isnan(d) || d <= 0 || d > state->pictureGapLimit) return picture->duration;
    return d;
}

double LatenessBehindMaster(double pictureTime, double masterTime, int packetSerial,
                            int videoClockSerial) {
    const double lateness = masterTime - pictureTime;
    if (std::isnan(lateness) || std::fabs(lateness) >= kNoSyncThreshold) return NAN;
    // Both cameras compare with the video clock's serial: their queues are flushed together.
    return packetSerial == videoClockSerial ? lateness : NAN;
}

bool IsLateEnoughToDrop(double lateness, double slack, MasterClock master, LateDropMode mode) {
    const bool allowed = mode == LateDropMode::Always ||
                         (mode == LateDropMode::UnlessVideoMaster && master != MasterClock::Video);
    return allowed && lateness > slack; // false for a NaN lateness
}

double LateSlack(double pictureDuration) { return speedFactor == 1 ? pictureDuration : 0; }

void AdjustExternalClockSpeed(VideoState* state) {
    const bool hasFront = state->frontStreamIndex >= 0;
    const bool hasAudio = state->audioStreamIndex >= 0;
    const int frontCount = state->frontPackets.packetCount;
    const int audioCount = state->audioPackets.packetCount;
    const double speed = ClockSpeed(&state->externalClock);
    if ((hasFront && frontCount <= kExternalLowPackets) ||
        (hasAudio && audioCount <= kExternalLowPackets)) {
        ChangeClockSpeed(&state->externalClock,
                         FFMAX(kExternalSpeedMin, speed - kExternalSpeedStep));
    } else if ((!hasFront || frontCount > kExternalHighPackets) &&
               (!hasAudio || audioCount > kExternalHighPackets)) {
        ChangeClockSpeed(&state->externalClock,
                         speedFactor * FFMIN(kExternalSpeedMax, speed + kExternalSpeedStep));
    } else if (speed != 1.0) {
        ChangeClockSpeed(&state->externalClock,
                         speed + kExternalSpeedStep * (1.0 - speed) / std::fabs(1.0 - speed));
    }
}

int WantedSampleCount(VideoState* state, int sampleCount) {
    int wanted = sampleCount;
    if (MasterKind(state) != MasterClock::Audio) {
        double diff = ReadClock(&state->audioClock) - ReadMasterClock(state);
        if (!std::isnan(diff) && std::fabs(diff) < kNoSyncThreshold) {
            state->driftSum = diff + state->driftWeight * state->driftSum;
            if (state->driftSamples < kAudioDiffAverageCount) {
                state->driftSamples++;
            } else {
                double average = state->driftSum * (1.0 - state->driftWeight);
                if (std::fabs(average) >= state->driftThreshold) {
                    wanted = sampleCount + static_cast<int>(diff * state->audioSource.sampleRate);
                    int minimum = sampleCount * (100 - kSampleCorrectionPercent) / 100;
                    int maximum = sampleCount * (100 + kSampleCorrectionPercent) / 100;
                    wanted = av_clip(wanted, minimum, maximum);
                    av_log(nullptr, AV_LOG_TRACE, "diff=%f adiff=%f sample_diff=%d apts=%0.3f %f\n",
                           diff, average, wanted - sampleCount, state->audioEndTime,
                           state->driftThreshold);
                }
            }
        } else {
            state->driftSamples = 0;
            state->driftSum = 0;
        }
    }
    // A factor below 1 would divide by zero or reverse the sound; the panels never set one.
    int factor = FFMAX(1, speedFactor.load());
    return wanted / factor;
}

} // namespace velk

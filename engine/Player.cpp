// The player thread: start and teardown of a playback, the event loop that answers the command
// channel, the command functions the panels call, and the figures the engine keeps.

#include "VideoState.h"

#include "AppGlobals.h"

extern "C" {
#include <libavutil/time.h>
}

#include <climits>
#include <ctime>
#include <vector>

namespace velk {

// --- Shared flags (Engine.h).
std::atomic<int> engineRunning{1};
std::atomic<int> speedFactor{1};
std::atomic<int> startVolume{63};
std::atomic<int> seekPerMille{0};
std::atomic<int> zoomView{0};
std::atomic<int> mirrorView{0};
std::atomic<int> fullScreenLayout{0};
std::atomic<int> swapViews{0};

std::atomic<int> quitRequested{0};
std::atomic<int> endPosted{0};
std::atomic<int> pausedMarker{0};
std::atomic<WindowHandle> progressWindow{0};
std::atomic<int> byteSeekMode{-1};

namespace {

// --- Figures of the current or the last playback: reset when a playback starts and kept after
// it ends, for the hosts that read them then. Counters come from several threads, series from
// the player thread; the lock lets another thread take a consistent snapshot.
std::mutex figuresLock;
PlaybackFigures figures;
std::int64_t playbackStartedAt = 0;
int seekSerialBefore = -1; // front serial when the last seek was asked, until its first picture
std::int64_t firstPictureAt = -1; // the first picture of the playback
std::int64_t seekPictureAt = -1;  // the first picture of the last seek

constexpr std::int64_t kCursorHideDelayUs = 1000000;
constexpr std::int64_t kPointerWatchPeriodUs = 50000;

void PointerMoved(VideoState* state) {
    if (state->cursorHidden) {
        SDL_ShowCursor(1);
        state->cursorHidden = false;
    }
    state->cursorShownAt = av_gettime_relative();
}

// SDL sees no motion over host windows that the panels' toolkit owns (PointerPosition): the
// pointer's position is looked at a few times a second instead, and any change counts as motion.
void WatchPointer(VideoState* state) {
    const std::int64_t now = av_gettime_relative();
    if (now - state->pointerWatchedAt < kPointerWatchPeriodUs) return;
    state->pointerWatchedAt = now;
    int x = 0, y = 0;
    if (!PointerPosition(PresentationWindow(), &x, &y)) return;
    const bool moved = state->pointerX != INT_MIN && (x != state->pointerX || y != state->pointerY);
    state->pointerX = x;
    state->pointerY = y;
    if (moved) PointerMoved(state);
}

void PushCommand(Uint32 type) {
    SDL_Event event{};
    event.type = type;
    SDL_PushEvent(&event);
}

void PushKey(SDL_Keycode key) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = key;
    SDL_PushEvent(&event);
}

int PlayerThreadEntry(void* owner) { return RunPlayback(reinterpret_cast<WindowHandle>(owner)); }

// A host that did not start the media layer (or shut part of it down) gets it back before the
// playback needs windows, sound or events.
void EnsureMediaLayer() {
    const Uint32 wanted = SDL_INIT_TIMER | SDL_INIT_AUDIO | SDL_INIT_VIDEO;
    if (SDL_WasInit(wanted) != wanted) {
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        SDL_SetHint(SDL_HINT_VIDEO_FOREIGN_WINDOW_OPENGL, "1");
        if (SDL_InitSubSystem(wanted & ~SDL_WasInit(wanted)) < 0)
            av_log(nullptr, AV_LOG_ERROR, "SDL_Init: %s\n", SDL_GetError());
    }
}

} // namespace

int StartMediaLayer() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_VIDEO_FOREIGN_WINDOW_OPENGL, "1");
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_AUDIO | SDL_INIT_VIDEO) < 0 ||
        // A reference of the event queue's own: video holds one too, and a quit that shuts video
        // down must leave the queue up for the panels' commands.
        SDL_InitSubSystem(SDL_INIT_EVENTS) < 0) {
        av_log(nullptr, AV_LOG_FATAL, "Could not initialize SDL - %s\n", SDL_GetError());
        return -1;
    }
    StartLoadingPresentationLibrary();
    return 0;
}

void AwaitMediaLayer() { AwaitPresentationLibrary(); }

void StopMediaLayer() {
    ReleasePresentationLibrary();
    SDL_Quit();
}

int FindRenderDriver(const char* name) {
    for (int i = 0; i < SDL_GetNumRenderDrivers(); ++i) {
        SDL_RendererInfo info;
        if (SDL_GetRenderDriverInfo(i, &info) == 0 && SDL_strcmp(info.name, name) == 0) return i;
    }
    return -1;
}

bool StartPlayerThread(WindowHandle owner) {
    engineRunning = 1;
    SDL_Thread* thread =
        SDL_CreateThread(PlayerThreadEntry, "player", reinterpret_cast<void*>(owner));
    if (!thread) {
        av_log(nullptr, AV_LOG_ERROR, "SDL_CreateThread(): %s\n", SDL_GetError());
        engineRunning = 0;
        return false;
    }
    SDL_DetachThread(thread);
    return true;
}

// --- Command functions: any thread.

void RequestStop() { PushCommand(CmdStop); }
void RequestQuit() { PushCommand(CmdQuit); }
void RequestTogglePause() { PushKey(SDLK_SPACE); }

void RequestSeekBy(int seconds) {
    switch (seconds) {
    case 10:
        PushKey(SDLK_UP);
        break;
    case -10:
        PushKey(SDLK_DOWN);
        break;
    case -5:
        PushKey(SDLK_LEFT);
        break;
    default:
        PushKey(SDLK_RIGHT);
        break;
    }
}

void RequestSeekToFraction(int perMille) {
    seekPerMille = perMille;
    PushCommand(CmdSeekToFraction);
}

void RequestVolume(int level) {
    startVolume = level;
    PushCommand(CmdSetVolume);
}

void RequestSwapViews() { PushCommand(CmdSwapViews); }
void SetSpeedFactor(int factor) { speedFactor = factor; }
int GetSpeedFactor() { return speedFactor; }
void ToggleZoom() { zoomView = !zoomView; }
void ToggleMirror() { mirrorView = !mirrorView; }
void ToggleFullScreenLayout() { fullScreenLayout = !fullScreenLayout; }

// --- Figures.

void ResetPlaybackFigures() {
    std::lock_guard guard(figuresLock);
    figures = PlaybackFigures{};
    playbackStartedAt = av_gettime_relative();
    seekSerialBefore = -1;
    firstPictureAt = seekPictureAt = -1;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void CountDrawingCpu(double scaleSeconds, double uploadSeconds, double presentSeconds) {
    std::lock_guard guard(figuresLock);
    figures.scaleCpuSeconds += scaleSeconds;
    figures.uploadCpuSeconds += uploadSeconds;
    figures.presentCpuSeconds += presentSeconds;
    figures.drawings++;
}

void CountDroppedBeforeQueue() {
    std::lock_guard guard(figuresLock);
    figures.droppedBeforeQueue++;
}

void CountDroppedAtDisplay() {
    std::lock_guard guard(figuresLock);
    figures.droppedAtDisplay++;
}

void CountTelemetryDelivered() {
    std::lock_guard guard(figuresLock);
    figures.telemetryDelivered++;
}

void CountShownPicture(VideoState* state, double frontPts, double rearPts, bool hasRear) {
    const double audio = state->audioStreamIndex >= 0 ? ReadClock(&state->audioClock) : NAN;
    const std::int64_t now = av_gettime_relative();
    std::lock_guard guard(figuresLock);
    if (figures.picturesShown == 0) {
        figures.firstPictureSeconds = (now - playbackStartedAt) / 1e6;
        firstPictureAt = now;
    }
    figures.picturesShown++;
    figures.shownAtSeconds.push_back((now - playbackStartedAt) / 1e6);
    if (hasRear) {
        figures.rearPicturesShown++;
        if (!std::isnan(rearPts) && !std::isnan(frontPts))
            figures.frontMinusRear.push_back(frontPts - rearPts);
    }
    if (seekSerialBefore >= 0 && state->frontPackets.serial > seekSerialBefore) {
        figures.seekToPictureSeconds.push_back((now - state->seekRequestedAt) / 1e6);
        seekSerialBefore = -1;
        seekPictureAt = now;
    }
    if (!std::isnan(audio) && !std::isnan(frontPts)) {
        const double d = frontPts - audio;
        figures.videoMinusAudio.push_back(d);
        if (now - firstPictureAt < 1000000) figures.videoMinusAudioFirstSecond.push_back(d);
        if (seekPictureAt >= 0 && now - seekPictureAt < 1000000)
            figures.videoMinusAudioAfterSeek.push_back(d);
    }
}

PlaybackFigures CurrentPlaybackFigures() {
    std::lock_guard guard(figuresLock);
    return figures;
}

// --- Playback.

int RunPlayback(WindowHandle owner) {
    AppGlobals& globals = Globals();
    progressWindow = owner;
    PostWindowMessage(globals.vehicleInfoPanel, MsgVehicleTelemetry, 0, 0);
    endPosted = 0;
    quitRequested = 0;
    engineRunning = 1;
    const std::string fileName = globals.currentFilePath;
    PrepareFlushMarker();
    EnsureMediaLayer();
    ResetPlaybackFigures();

    VideoState* state = OpenPlayback(fileName, nullptr);
    if (!state) {
        av_log(nullptr, AV_LOG_FATAL, "Failed to initialize VideoState!\n");
        QuitEngine(nullptr);
    } else {
        RunEventLoop(state);
    }

    if (pausedMarker) {
        // The next playback takes this space key first and so starts paused.
        pausedMarker = 0;
        RequestTogglePause();
    }
    ClearTelemetryTimeline();
    progressWindow = 0;
    // Last act: a panel waiting for this may start the next playback at once, so nothing of
    // this playback may be touched after it.
    engineRunning = 0;
    return 0;
}

namespace {

// How many decoded frames each role's queue holds, and whether it keeps the one last shown.
struct FrameQueueSize {
    int capacity;
    int keepLast;
};

FrameQueueSize FrameQueueSizeOf(StreamRole role) {
    switch (role) {
    case StreamRole::Audio:
        return {9, 1};
    case StreamRole::Front:
    case StreamRole::Rear:
        return {3, 1};
    case StreamRole::Text:
        break;
    }
    return {16, 0};
}

// Everything a playback needs before its read_thread runs, and then the read_thread; false when
// any of it could not be made (ClosePlayback frees what was).
bool StartReading(VideoState* state) {
    for (StreamRole role : kStreamRoles) {
        PlaybackStream s = state->Stream(role);
        const FrameQueueSize size = FrameQueueSizeOf(role);
        if (s.frames.Init(&s.packets, size.capacity, size.keepLast) < 0 || s.packets.Init() < 0)
            return false;
    }
    state->readerWakeup = SDL_CreateCond();
    if (!state->readerWakeup) {
        av_log(nullptr, AV_LOG_FATAL, "SDL_CreateCond(): %s\n", SDL_GetError());
        return false;
    }
    ResetClock(&state->videoClock, &state->frontPackets.serial);
    ResetClock(&state->audioClock, &state->audioPackets.serial);
    ResetClock(&state->externalClock, nullptr);
    state->audioEndSerial = -1;
    {
        const int volume = startVolume;
        if (volume < 0) av_log(nullptr, AV_LOG_WARNING, "-volume=%d < 0, setting to 0\n", volume);
        if (volume > 100)
            av_log(nullptr, AV_LOG_WARNING, "-volume=%d > 100, setting to 100\n", volume);
        state->volume = volume;
    }
    state->muted = 0;
    state->readThread = SDL_CreateThread(ReadThread, "read_thread", state);
    if (!state->readThread) {
        av_log(nullptr, AV_LOG_FATAL, "SDL_CreateThread(): %s\n", SDL_GetError());
        return false;
    }
    return true;
}

} // namespace

VideoState* OpenPlayback(const std::string& fileName, const AVInputFormat* inputFormat) {
    auto* state = new (std::nothrow) VideoState();
    if (!state) return nullptr;
    state->fileName = fileName;
    state->inputFormat = inputFormat;
    if (!StartReading(state)) {
        ClosePlayback(state);
        return nullptr;
    }
    return state;
}

void ClosePlayback(VideoState* state) {
    state->abortRequested = 1;
    if (state->readThread) SDL_WaitThread(state->readThread, nullptr);
    state->readThread = nullptr;

    for (StreamRole role : kStreamRoles)
        if (PlaybackStream s = state->Stream(role); s.IsOpen()) CloseStreamDecoding(state, s.index);
    avformat_close_input(&state->container);

    for (StreamRole role : kStreamRoles)
        state->Stream(role).packets.Destroy();
    // Textures belong to their renderer: they go first, while the renderer still exists.
    if (state->frontTexture) SDL_DestroyTexture(state->frontTexture);
    if (state->rearTexture) SDL_DestroyTexture(state->rearTexture);
    state->frontTexture = state->rearTexture = nullptr;
    DestroyRenderers();
    for (StreamRole role : kStreamRoles)
        state->Stream(role).frames.Destroy();
    if (state->readerWakeup) SDL_DestroyCond(state->readerWakeup);
    sws_freeContext(state->frontScaler);
    sws_freeContext(state->rearScaler);
    av_channel_layout_uninit(&state->audioSource.channelLayout);
    av_channel_layout_uninit(&state->audioTarget.channelLayout);
    delete state;
}

void QuitEngine(VideoState* state) {
    quitRequested = 1;
    if (state) ClosePlayback(state);
    DestroyPresentationWindows();
    // The media layer itself stays up: shutting SDL down here, on the player thread, would race
    // with the user-interface thread's commands, and the next playback needs it again. The
    // program shuts it down once at exit (StopMediaLayer, on the user-interface thread).
}

void WaitForEvent(VideoState* state, SDL_Event* event) {
    double remaining = 0.0;
    SDL_PumpEvents();
    while (!SDL_PeepEvents(event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT)) {
        WatchPointer(state);
        if (!state->cursorHidden &&
            av_gettime_relative() - state->cursorShownAt > kCursorHideDelayUs) {
            SDL_ShowCursor(0);
            state->cursorHidden = true;
        }
        if (remaining > 0.0) av_usleep(static_cast<int64_t>(remaining * 1000000.0));
        remaining = 0.01;
        if (state->stepRequested.exchange(0)) StepOneFrame(state);
        // A playback that starts paused still shows its first picture.
        if (state->paused && !state->stepping && !state->frontPictures.shownHeld &&
            state->frontStreamIndex >= 0 && state->frontPictures.Remaining() > 0)
            StepOneFrame(state);
        if (state->paused) CatchUpRearPicture(state);
        // A view flag changed while paused is shown at once, not with the next picture.
        if (state->paused && state->frontPictures.shownHeld && state->drawnViewFlags >= 0 &&
            ViewFlags() != state->drawnViewFlags)
            state->forceRedraw = 1;
        if (state->pictureMode != PictureMode::Undecided && (!state->paused || state->forceRedraw))
            RefreshVideo(state, &remaining);
        SDL_PumpEvents();
    }
}

void RunEventLoop(VideoState* state) {
    SDL_Event event;
    CreatePresentation(state);
    // A pointer the last playback hid comes back with this one; it hides again when idle.
    SDL_ShowCursor(1);
    state->cursorShownAt = av_gettime_relative();
    while (quitRequested != 1 && !state->abortRequested) {
        WaitForEvent(state, &event);
        switch (event.type) {
        case SDL_QUIT:
            QuitEngine(state);
            return;
        case SDL_MOUSEMOTION:
            PointerMoved(state);
            break;
        case SDL_KEYDOWN:
            switch (event.key.keysym.sym) {
            case SDLK_ESCAPE:
            case SDLK_q:
                QuitEngine(state);
                return;
            case SDLK_SPACE:
            case SDLK_p:
                SwitchPauseState(state);
                state->stepping = 0;
                break;
            case SDLK_f:
                ToggleWindowFullScreen();
                state->forceRedraw = 1;
                break;
            case SDLK_m:
                SwitchMute(state);
                break;
            case SDLK_z:
                ToggleZoom();
                break;
            case SDLK_0:
            case SDLK_KP_MULTIPLY:
                StepVolume(state, 1);
                break;
            case SDLK_9:
            case SDLK_KP_DIVIDE:
                StepVolume(state, -1);
                break;
            case SDLK_RIGHT:
                SeekRelative(state, 5.0);
                break;
            case SDLK_LEFT:
                SeekRelative(state, -5.0);
                break;
            case SDLK_UP:
                SeekRelative(state, 10.0);
                break;
            case SDLK_DOWN:
                SeekRelative(state, -10.0);
                break;
            default:
                break;
            }
            break;
        case CmdStop:
            quitRequested = 1;
            ClosePlayback(state);
            return;
        case CmdQuit:
            // A quit that names another playback's state is left over from that playback.
            if (event.user.data1 && event.user.data1 != state) break;
            QuitEngine(state);
            return;
        case CmdSeekToFraction:
            SeekToFraction(state, seekPerMille);
            break;
        case CmdSetVolume:
            state->volume = startVolume.load();
            break;
        case CmdSwapViews:
            if (state->rearStreamIndex >= 0) {
                swapViews = !swapViews;
                state->forceRedraw = 1;
            }
            break;
        default:
            break;
        }
    }
}

void SwitchPauseState(VideoState* state) {
    if (state->paused) {
        double lastStamped;
        {
            std::lock_guard guard(state->videoClock.lock);
            lastStamped = state->videoClock.lastStamped;
        }
        state->pictureTimer += NowSeconds() - lastStamped;
        if (state->containerPauseResult != AVERROR(ENOSYS)) SetClockPaused(&state->videoClock, 0);
        StampClock(&state->videoClock, ReadClock(&state->videoClock),
                   ClockSerial(&state->videoClock));
    }
    StampClock(&state->externalClock, ReadClock(&state->externalClock),
               ClockSerial(&state->externalClock));
    const int paused = !state->paused;
    state->paused = paused;
    SetClockPaused(&state->audioClock, paused);
    SetClockPaused(&state->videoClock, paused);
    SetClockPaused(&state->externalClock, paused);
    pausedMarker = paused;
}

void StepOneFrame(VideoState* state) {
    if (state->paused) SwitchPauseState(state);
    state->stepping = 1;
}

int SteppedVolume(int volume, int sign) {
    const double level = volume ? 20 * std::log(volume / 128.0) / std::log(10) : -1000.0;
    int stepped = static_cast<int>(
        std::lrint(SDL_MIX_MAXVOLUME * std::pow(10.0, (level + sign * 0.75) / 20)));
    if (stepped == volume) stepped = volume + sign;
    return av_clip(stepped, 0, SDL_MIX_MAXVOLUME);
}

void StepVolume(VideoState* state, int sign) { state->volume = SteppedVolume(state->volume, sign); }

void SwitchMute(VideoState* state) { state->muted = !state->muted; }

void RequestSeek(VideoState* state, std::int64_t target, std::int64_t relative, bool byBytes) {
    if (state->seekRequested.load(std::memory_order_acquire)) return;
    state->seekTarget = target;
    state->seekRelative = relative;
    if (byBytes)
        state->seekFlags |= AVSEEK_FLAG_BYTE;
    else
        state->seekFlags &= ~AVSEEK_FLAG_BYTE;
    state->seekRequestedAt = av_gettime_relative();
    {
        std::lock_guard guard(figuresLock);
        seekSerialBefore = state->frontPackets.serial;
    }
    state->seekRequested.store(1, std::memory_order_release);
    SDL_CondSignal(state->readerWakeup);
}

void SeekRelative(VideoState* state, double seconds) {
    const bool ready = state->containerReady.load(std::memory_order_acquire);
    if (byteSeekMode != 0) {
        std::int64_t pos = -1;
        if (state->frontStreamIndex >= 0) pos = state->frontPictures.LastShownPosition();
        if (pos < 0 && state->rearStreamIndex >= 0) pos = state->rearPictures.LastShownPosition();
        if (pos < 0) pos = state->audioFrames.LastShownPosition();
        // The reader's own position belongs to the read_thread; start from the top instead.
        if (pos < 0) pos = 0;
        const double bytesPerSecond = ready && state->bitRate ? state->bitRate / 8.0 : 180000.0;
        const auto distance = static_cast<std::int64_t>(seconds * bytesPerSecond);
        RequestSeek(state, pos + distance, distance, true);
        return;
    }
    double pos = ReadMasterClock(state);
    if (std::isnan(pos)) pos = state->seekTarget / 1000000.0;
    pos += seconds;
    if (ready && state->startTimeUs != AV_NOPTS_VALUE && pos < state->startTimeUs / 1000000.0)
        pos = state->startTimeUs / 1000000.0;
    RequestSeek(state, static_cast<std::int64_t>(pos * 1000000.0),
                static_cast<std::int64_t>(seconds * 1000000.0), false);
}

void SeekToFraction(VideoState* state, int perMille) {
    if (!state->containerReady.load(std::memory_order_acquire)) return; // nothing to seek in yet
    if (byteSeekMode == 0 && state->durationUs != AV_NOPTS_VALUE && state->durationUs > 0) {
        auto target = static_cast<std::int64_t>(state->durationUs * (perMille / 1000.0));
        if (state->startTimeUs != AV_NOPTS_VALUE) target += state->startTimeUs;
        RequestSeek(state, target, 0, false);
    } else if (state->fileSize > 0) {
        RequestSeek(state, state->fileSize * perMille / 1000, 0, true);
    }
}

} // namespace velk

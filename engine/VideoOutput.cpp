// Video refresh and presentation, all on the player thread: decides when the next front picture
// is due, drops late ones, keeps the rear picture in step, draws both windows, detects the end
// and posts the progress messages.

#include "VideoState.h"

#include "AppGlobals.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/time.h>
}

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace velk {

namespace {
// Program-lifetime presentation state, player thread only: the windows wrap the panels' host
// windows for the program run (QuitEngine forgets them) and the "f" toggle lasts as long. The
// renderers belong to one playback: created at its start, destroyed by ClosePlayback.
// Everything else the refresh keeps between calls is the playback's own, in its VideoState.
SDL_Window* frontWindow = nullptr;
SDL_Window* rearWindow = nullptr;
int windowFullScreen = 0;
SDL_Renderer* frontRenderer = nullptr;
SDL_Renderer* rearRenderer = nullptr;

// The GL library and its driver. Loading them (and the driver's first context, which the load
// makes to learn the extensions) takes a tenth of a second or more with a software driver; done
// on the playback's own thread it came on top of the first picture, so it is done once, on a
// thread of its own, while the host starts up. The reference taken then keeps the library
// loaded between playbacks as well, when no window holds one. The loading thread is detached
// and waited for through libraryLoaded, so that a host that ends without stopping the media
// layer leaves no thread to be joined.
std::mutex libraryLock;
std::condition_variable libraryLoaded;
bool libraryLoading = false;
bool libraryHeld = false; // the load succeeded: StopMediaLayer gives the reference back

constexpr double kAudioOnlyRedrawPeriod = 0.02;
constexpr std::int64_t kProgressPeriodUs = 200000;
constexpr double kEndTolerance = 0.1;

// A scaled picture waiting for upload, reused between uploads of the same size.
struct ScaledPicture {
    std::uint8_t* data[4] = {};
    int lineSize[4] = {};
    int width = 0;
    int height = 0;
    ~ScaledPicture() { av_freep(&data[0]); }
    bool ensure(int w, int h) {
        if (data[0] && width == w && height == h) return true;
        av_freep(&data[0]);
        width = height = 0;
        if (av_image_alloc(data, lineSize, w, h, AV_PIX_FMT_YUV420P, 16) < 0) return false;
        width = w;
        height = h;
        return true;
    }
};
thread_local ScaledPicture scaledFront;
thread_local ScaledPicture scaledRear;
// CPU of the drawing under way, split for the figures (player thread).
double drawingScaleCpu = 0;
double drawingUploadCpu = 0;

bool IsPlanar420(int format) {
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

// The rear picture has no clock of its own: it moves only when the front picture does, to the
// latest rear picture that is not ahead of the front one. Taking one rear picture per front
// picture would keep any offset between the two queues for the rest of the playback (a rear
// picture dropped late, a decoder that started late).
constexpr double kRearTolerance = 0.5 / 60;

void AdvanceRear(VideoState* state, double frontPts) {
    if (state->rearStreamIndex < 0) return;
    DecodedFrameQueue& rear = state->rearPictures;
    while (rear.Remaining() > 0) {
        const double pts = rear.CurrentSlot()->pts;
        if (!std::isnan(pts) && !std::isnan(frontPts) && pts > frontPts + kRearTolerance) break;
        rear.Next();
        if (std::isnan(pts) || std::isnan(frontPts)) break; // no times: one for one
    }
}

// Drops the rear pictures left from before a seek, so the rear never shows an old position
// next to a new front picture.
void SkipStaleRear(VideoState* state) {
    if (state->rearStreamIndex < 0) return;
    while (state->rearPictures.Remaining() > 0 &&
           state->rearPictures.CurrentSlot()->serial != state->rearPackets.serial)
        state->rearPictures.Next();
}

} // namespace

// A paused seek shows the front picture of the new position as soon as it is decoded; the rear
// decoder may deliver its own a moment later, and while paused no further front picture moves the
// rear on. Called from the event loop while paused: brings the rear to the front's position and
// asks for a redraw when it moved.
void CatchUpRearPicture(VideoState* state) {
    DecodedFrameQueue& front = state->frontPictures;
    DecodedFrameQueue& rear = state->rearPictures;
    if (state->rearStreamIndex < 0 || state->frontStreamIndex < 0 || !front.shownHeld) return;
    if (front.LastShownSlot()->serial != state->frontPackets.serial) return;
    if (rear.shownHeld && rear.LastShownSlot()->serial == state->rearPackets.serial) return;
    SkipStaleRear(state);
    if (rear.Remaining() == 0) return;
    AdvanceRear(state, front.LastShownSlot()->pts);
    // A rear picture a little ahead of the front one still beats an old position.
    if (!rear.shownHeld || rear.LastShownSlot()->serial != state->rearPackets.serial) rear.Next();
    state->forceRedraw = 1;
}

namespace {

void EndCheck(VideoState* state) {
    const double master = ReadMasterClock(state);
    const std::int64_t wholeSeconds = state->durationUs / 1000000;
    // Waiting for the master clock to reach the end only makes sense while it can still get
    // there: sound that ends early (a cut file, a short track) leaves it standing short of it.
    const bool masterRuns = MasterKind(state) != MasterClock::Audio ||
                            state->audioPackets.packetCount > 0 ||
                            state->audioFrames.Remaining() > 0;
    bool ended;
    if (!std::isnan(master) && std::trunc(master) >= static_cast<double>(wholeSeconds))
        ended = true;
    else
        ended = !(masterRuns && ClockTime(&state->videoClock) >= wholeSeconds - kEndTolerance);
    if (ended && !endPosted) {
        PostWindowMessage(progressWindow.load(), MsgEndOfPlayback, 0, 0);
        endPosted = 1;
    }
}

void PostProgress(VideoState* state) {
    const std::int64_t now = av_gettime_relative();
    if (state->lastStatusTime != 0 && now - state->lastStatusTime < kProgressPeriodUs) return;
    if (state->containerReady.load(std::memory_order_acquire)) {
        const double t = ReadMasterClock(state);
        const int position = PositionPerMille(t, state->durationUs);
        if (position >= 0) PostWindowMessage(progressWindow.load(), MsgPosition, position, 0);
        if (!std::isnan(t)) {
            const std::int64_t seconds = static_cast<std::int64_t>(FFMAX(FFMIN(t, 1e15), -1e15));
            if (seconds != state->lastPostedSeconds) {
                PostWindowMessage(progressWindow.load(), MsgElapsedSeconds, 0,
                                  static_cast<std::intptr_t>(seconds));
                state->lastPostedSeconds = seconds;
            }
        }
    }
    state->lastStatusTime = now;
}

SDL_Renderer* CreateRendererFor(SDL_Window* window) {
    SDL_Renderer* renderer = SDL_CreateRenderer(
        window, Globals().renderDriverIndex,
        SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC | SDL_RENDERER_TARGETTEXTURE);
    if (!renderer) {
        av_log(nullptr, AV_LOG_WARNING,
               "Failed to initialize a hardware accelerated renderer: %s\n", SDL_GetError());
        renderer = SDL_CreateRenderer(window, -1, 0);
    }
    SDL_RendererInfo info;
    if (renderer && !SDL_GetRendererInfo(renderer, &info))
        av_log(nullptr, AV_LOG_VERBOSE, "Initialized %s renderer.\n", info.name);
    return renderer;
}

SDL_Window* WrapHost(WindowHandle host) {
    if (!host) return nullptr; // no host window: that picture is simply not drawn
    SDL_SetHint(SDL_HINT_VIDEO_FOREIGN_WINDOW_OPENGL, "1");
    SDL_Window* window = SDL_CreateWindowFrom(reinterpret_cast<const void*>(host));
    if (!window)
        av_log(nullptr, AV_LOG_WARNING, "Cannot draw into host window 0x%lx: %s\n",
               static_cast<unsigned long>(host), SDL_GetError());
    return window;
}

} // namespace

int PositionPerMille(double masterClock, std::int64_t durationUs) {
    const std::int64_t wholeSeconds = durationUs / 1000000;
    if (std::isnan(masterClock) || wholeSeconds <= 0) return -1;
    // Truncated to a 32-bit integer of milliseconds; a clock beyond that range gives none.
    const double ms = masterClock * 1000;
    if (ms >= static_cast<double>(INT_MAX) || ms <= static_cast<double>(INT_MIN)) return -1;
    const std::int64_t position = static_cast<int>(ms) / wholeSeconds;
    // The whole-second divisor runs past the end of a recording whose length has a fraction
    // (59.5 s of 59.9 s gives 1008); the slider's range ends at 1000.
    return position >= 0 ? static_cast<int>(FFMIN(position, 1000)) : -1;
}

namespace {

// What the refresh did with the front picture due next.
enum class FrontStep {
    RecordingEnded, // no picture left and none to come: the end check follows
    Kept,           // the picture on the screen stays (paused, not due yet, sound held, none)
    Passed,         // the picture due was stepped over (from before a seek, or dropped late)
    Shown,          // the picture due was taken for showing
};

// Without pictures nothing else releases the text items; this keeps the timeline filling.
void ReleaseTextItems(VideoState* state) {
    while (state->textItems.Remaining() > 0)
        state->textItems.Next();
}

// The drop at display: whether the picture due, with another behind it, is already so late
// against the moment the following one falls due that it is better left out.
bool IsLateAtDisplay(VideoState* state, QueuedFrame* current, double now) {
    DecodedFrameQueue& front = state->frontPictures;
    if (state->stepping || front.Remaining() <= 1) return false;
    const double duration = PictureDuration(state, current, front.FollowingSlot());
    const double lateness = now - (state->pictureTimer + duration);
    return IsLateEnoughToDrop(lateness, LateSlack(duration), MasterKind(state));
}

// Takes the front picture due for showing, with the rear picture that goes with it.
void TakeFrontPicture(VideoState* state, QueuedFrame* current) {
    ReleaseTextItems(state);
    state->frontPictures.Next();
    state->frontTakenSerial = current->serial;
    AdvanceRear(state, current->pts);
    state->forceRedraw = 1;
    const bool hasRear = state->rearStreamIndex >= 0 && state->rearPictures.shownHeld;
    CountShownPicture(state, current->pts,
                      hasRear ? state->rearPictures.LastShownSlot()->pts : NAN, hasRear);
    if (state->stepping && !state->paused) SwitchPauseState(state);
}

// One look at the front picture due next: whether it is due, and what becomes of it.
FrontStep StepFrontPicture(VideoState* state, double* remaining) {
    DecodedFrameQueue& front = state->frontPictures;
    if (front.Remaining() == 0) {
        const bool ended = state->frontPackets.packetCount == 0 && state->endOfFile == 1;
        return ended ? FrontStep::RecordingEnded : FrontStep::Kept;
    }
    QueuedFrame* last = front.LastShownSlot();
    QueuedFrame* current = front.CurrentSlot();
    if (current->serial != state->frontPackets.serial) {
        front.Next();
        SkipStaleRear(state);
        return FrontStep::Passed;
    }
    SkipStaleRear(state);
    if (last->serial != current->serial) state->pictureTimer = NowSeconds();
    if (state->paused) return FrontStep::Kept;
    // While the sound waits for the pictures, the first one stays on the screen: moving on
    // without the sound would put the pictures ahead of it when it starts. The picture clock
    // stays on it too: left running from the moment the picture was shown, it would read the
    // wait as the pictures being ahead, and the next picture would wait as long again.
    if (state->soundHeld && front.shownHeld && last->serial == current->serial) {
        state->pictureTimer = NowSeconds();
        if (!std::isnan(last->pts)) {
            SDL_LockMutex(front.mutex);
            StampClock(&state->videoClock, last->pts, last->serial);
            SDL_UnlockMutex(front.mutex);
        }
        return FrontStep::Kept;
    }

    const double delay = PictureDelay(PictureDuration(state, last, current), state);
    const double now = NowSeconds();
    if (now < state->pictureTimer + delay) {
        *remaining = FFMIN(state->pictureTimer + delay - now, *remaining);
        return FrontStep::Kept;
    }
    state->pictureTimer += delay;
    if (delay > 0 && now - state->pictureTimer > kSyncThresholdMax) state->pictureTimer = now;

    SDL_LockMutex(front.mutex);
    if (!std::isnan(current->pts)) {
        StampClock(&state->videoClock, current->pts, current->serial);
        AlignClockWith(&state->externalClock, &state->videoClock);
    }
    SDL_UnlockMutex(front.mutex);

    if (IsLateAtDisplay(state, current, now)) {
        CountDroppedAtDisplay();
        front.Next();
        AdvanceRear(state, current->pts);
        return FrontStep::Passed;
    }
    TakeFrontPicture(state, current);
    return FrontStep::Shown;
}

// A recording without pictures ends when its sound has played out; otherwise a list would
// never move on and the drained audio clock would keep re-posting its last second.
bool SoundPlayedOut(VideoState* state) {
    return state->audioStreamIndex >= 0 && state->endOfFile == 1 &&
           state->audioPackets.packetCount == 0 && state->audioFrames.Remaining() == 0;
}

// Without a front camera the windows are redrawn at a steady pace while the sound plays.
void RedrawWithoutPictures(VideoState* state, double* remaining) {
    const double now = NowSeconds();
    if (state->forceRedraw || state->lastVisualRefresh + kAudioOnlyRedrawPeriod < now) {
        DisplayPictures(state);
        state->lastVisualRefresh = now;
    }
    *remaining = FFMIN(*remaining, state->lastVisualRefresh + kAudioOnlyRedrawPeriod - now);
}

} // namespace

void RefreshVideo(VideoState* state, double* remaining) {
    if (!state->paused && MasterKind(state) == MasterClock::External)
        AdjustExternalClockSpeed(state);
    if (state->pictureMode != PictureMode::Pictures && state->audioStreamIndex >= 0)
        RedrawWithoutPictures(state, remaining);

    // Once the recording has ended, the end check is all a refresh does: no drawing, progress
    // or telemetry follow it.
    if (state->frontStreamIndex >= 0) {
        FrontStep step;
        do
            step = StepFrontPicture(state, remaining);
        while (step == FrontStep::Passed);
        if (step == FrontStep::RecordingEnded) {
            EndCheck(state);
            return;
        }
    } else {
        ReleaseTextItems(state);
        if (SoundPlayedOut(state)) {
            EndCheck(state);
            return;
        }
    }

    if (state->forceRedraw && state->pictureMode == PictureMode::Pictures &&
        state->frontPictures.shownHeld)
        DisplayPictures(state);
    state->forceRedraw = 0;
    if (EngineSettings::reportProgress) PostProgress(state);
    DeliverTelemetry(state);
}

void DisplayPictures(VideoState* state) {
    state->drawnViewFlags = ViewFlags();
    if (!frontRenderer) CreatePresentation(state);
    if (!frontRenderer) return;
    const double cpuBefore = ThreadCpuSeconds();
    drawingScaleCpu = drawingUploadCpu = 0;
    const bool hasRear = state->rearStreamIndex >= 0 && rearRenderer;
    SDL_SetRenderDrawColor(frontRenderer, 0, 0, 0, 255);
    SDL_RenderClear(frontRenderer);
    if (hasRear) {
        SDL_SetRenderDrawColor(rearRenderer, 0, 0, 0, 255);
        SDL_RenderClear(rearRenderer);
    }
    DrawPictures(state);
    SDL_RenderPresent(frontRenderer);
    if (hasRear) SDL_RenderPresent(rearRenderer);
    const double spent = ThreadCpuSeconds() - cpuBefore;
    CountDrawingCpu(drawingScaleCpu, drawingUploadCpu, spent - drawingScaleCpu - drawingUploadCpu);
}

namespace {
int LoadPresentationLibrary(void*) {
    const bool loaded = SDL_GL_LoadLibrary(nullptr) == 0;
    if (!loaded)
        av_log(nullptr, AV_LOG_VERBOSE, "GL library not loaded ahead: %s\n", SDL_GetError());
    std::lock_guard done(libraryLock);
    libraryHeld = loaded;
    libraryLoading = false;
    libraryLoaded.notify_all();
    return 0;
}
} // namespace

void StartLoadingPresentationLibrary() {
    std::lock_guard lock(libraryLock);
    if (libraryLoading || libraryHeld) return;
    libraryLoading = true;
    SDL_Thread* loader = SDL_CreateThread(LoadPresentationLibrary, "gl_loader", nullptr);
    if (!loader) {
        libraryLoading = false; // the first window loads the library itself, as without this
        return;
    }
    SDL_DetachThread(loader);
}

void AwaitPresentationLibrary() {
    std::unique_lock lock(libraryLock);
    libraryLoaded.wait(lock, [] { return !libraryLoading; });
}

void ReleasePresentationLibrary() {
    std::unique_lock lock(libraryLock);
    libraryLoaded.wait(lock, [] { return !libraryLoading; });
    if (libraryHeld) SDL_GL_UnloadLibrary();
    libraryHeld = false;
}

void CreatePresentation(VideoState* state) {
    // Both windows and renderers are made once per playback, at its start, while the
    // read_thread opens the file, so that their cost does not delay the first picture; the
    // small picture's is made even before it is known whether there is a rear stream, and is
    // simply not drawn without one.
    if (state->presentationCreated) return;
    state->presentationCreated = true;
    AwaitPresentationLibrary();
    AppGlobals& globals = Globals();
    if (!frontWindow) frontWindow = WrapHost(globals.frontVideoHost);
    if (!frontWindow) return;
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    frontRenderer = CreateRendererFor(frontWindow);
    state->rearWidth = EngineSettings::rearWidth;
    state->rearHeight = EngineSettings::rearHeight;
    if (!rearWindow) rearWindow = WrapHost(globals.rearVideoHost);
    if (rearWindow) rearRenderer = CreateRendererFor(rearWindow);
}

int EnsureTexture(SDL_Renderer* renderer, SDL_Texture** texture, Uint32 format, int width,
                  int height) {
    Uint32 currentFormat;
    int access, w, h;
    if (!*texture || SDL_QueryTexture(*texture, &currentFormat, &access, &w, &h) < 0 ||
        currentFormat != format || w != width || h != height) {
        if (*texture) SDL_DestroyTexture(*texture);
        *texture = SDL_CreateTexture(renderer, format, SDL_TEXTUREACCESS_STREAMING, width, height);
        if (!*texture) return -1;
        SDL_SetTextureBlendMode(*texture, SDL_BLENDMODE_NONE);
    }
    return 0;
}

int UploadPicture(SDL_Texture** texture, AVFrame* frame, SwsContext** scaler, bool isSmall) {
    const AppGlobals& globals = Globals();
    int width, height;
    // Zoomed, the main picture shows the middle two fifths of a screen-sized picture. Only that
    // part is scaled, straight to the size it is shown at: scaling the whole picture to the
    // screen and cutting it afterwards cost a 1080p scaling per picture, more than a loaded
    // machine keeps up with, and the playback fell behind its sound.
    const bool zoomedMain = zoomView && !isSmall;
    if (zoomedMain) {
        width = 4 * (globals.screenWidth / 10);
        height = 4 * (globals.screenHeight / 10);
    } else if (zoomView) {
        width = EngineSettings::rearWidth;
        height = EngineSettings::rearHeight;
    } else if (fullScreenLayout) {
        if (isSmall) return 0;
        width = globals.screenWidth;
        height = globals.screenHeight;
    } else {
        width = isSmall ? EngineSettings::rearWidth : EngineSettings::frontWidth;
        height = isSmall ? EngineSettings::rearHeight : EngineSettings::frontHeight;
    }
    if (!IsPlanar420(frame->format)) return 0; // the window keeps what it showed before
    if (frame->linesize[0] < 0 || frame->linesize[1] < 0 || frame->linesize[2] < 0) {
        av_log(nullptr, AV_LOG_ERROR, "Negative linesize is not supported for YUV.\n");
        return -1;
    }

    // The part of the decoded picture to scale: all of it, or zoomed its middle two fifths,
    // on even coordinates so the half-size colour planes start at a whole sample.
    const std::uint8_t* source[4] = {frame->data[0], frame->data[1], frame->data[2], nullptr};
    int sourceWidth = frame->width, sourceHeight = frame->height;
    if (zoomedMain) {
        const int x = (frame->width * 3 / 10) & ~1, y = (frame->height * 3 / 10) & ~1;
        sourceWidth = std::max(2, (frame->width * 4 / 10) & ~1);
        sourceHeight = std::max(2, (frame->height * 4 / 10) & ~1);
        source[0] += std::ptrdiff_t(y) * frame->linesize[0] + x;
        source[1] += std::ptrdiff_t(y / 2) * frame->linesize[1] + x / 2;
        source[2] += std::ptrdiff_t(y / 2) * frame->linesize[2] + x / 2;
    }
    *scaler = sws_getCachedContext(
        *scaler, sourceWidth, sourceHeight, static_cast<AVPixelFormat>(frame->format), width,
        height, AV_PIX_FMT_YUV420P, EngineSettings::scalerFlags, nullptr, nullptr, nullptr);
    if (!*scaler) {
        av_log(nullptr, AV_LOG_FATAL, "Cannot initialize the conversion context\n");
        return -1;
    }
    ScaledPicture& picture = isSmall ? scaledRear : scaledFront;
    if (!picture.ensure(width, height)) return AVERROR(ENOMEM);
    const double started = ThreadCpuSeconds();
    sws_scale(*scaler, source, frame->linesize, 0, sourceHeight, picture.data, picture.lineSize);
    const double scaled = ThreadCpuSeconds();
    const int ret = SDL_UpdateYUVTexture(*texture, nullptr, picture.data[0], picture.lineSize[0],
                                         picture.data[1], picture.lineSize[1], picture.data[2],
                                         picture.lineSize[2]);
    drawingScaleCpu += scaled - started;
    drawingUploadCpu += ThreadCpuSeconds() - scaled;
    return ret;
}

int ViewFlags() {
    return (zoomView ? 1 : 0) | (mirrorView ? 2 : 0) | (fullScreenLayout ? 4 : 0) |
           (swapViews ? 8 : 0);
}

void DrawPictures(VideoState* state) {
    const AppGlobals& globals = Globals();
    const bool hasRear = state->rearStreamIndex >= 0 && rearRenderer;
    QueuedFrame* main = state->frontPictures.LastShownSlot();
    QueuedFrame* small = nullptr;
    Camera mainCamera = Camera::Front;
    if (state->rearStreamIndex >= 0) {
        small = state->rearPictures.shownHeld ? state->rearPictures.LastShownSlot() : nullptr;
        if (swapViews && small) {
            std::swap(main, small);
            mainCamera = Camera::Rear;
        }
    }
    const Camera smallCamera = mainCamera == Camera::Front ? Camera::Rear : Camera::Front;

    // Each texture is uploaded only when what it holds is not what it must show; a failure
    // leaves its record as it was, so the next drawing tries again.
    // Zoomed, the texture holds only the middle part that is shown (UploadPicture).
    const int mainWidth = zoomView           ? 4 * (globals.screenWidth / 10)
                          : fullScreenLayout ? globals.screenWidth
                                             : EngineSettings::frontWidth;
    const int mainHeight = zoomView           ? 4 * (globals.screenHeight / 10)
                           : fullScreenLayout ? globals.screenHeight
                                              : EngineSettings::frontHeight;
    const TextureContent mainWanted{mainCamera, main->sequence, mainWidth, mainHeight};
    if (state->frontTextureHolds != mainWanted) {
        if (EnsureTexture(frontRenderer, &state->frontTexture, SDL_PIXELFORMAT_YV12,
                          mainWanted.width, mainWanted.height) < 0 ||
            UploadPicture(&state->frontTexture, main->frame, &state->frontScaler, false) < 0)
            return;
        state->frontTextureHolds = mainWanted;
    }
    // In the full-screen layout the small picture is neither scaled nor uploaded.
    if (hasRear && small && !fullScreenLayout) {
        const TextureContent smallWanted{smallCamera, small->sequence, state->rearWidth,
                                         state->rearHeight};
        if (state->rearTextureHolds != smallWanted) {
            if (EnsureTexture(rearRenderer, &state->rearTexture, SDL_PIXELFORMAT_YV12,
                              state->rearWidth, state->rearHeight) < 0 ||
                UploadPicture(&state->rearTexture, small->frame, &state->rearScaler, true) < 0)
                return;
            state->rearTextureHolds = smallWanted;
        }
    }

    const SDL_RendererFlip flip = mirrorView ? SDL_FLIP_HORIZONTAL : SDL_FLIP_NONE;
    if (fullScreenLayout)
        SDL_SetWindowSize(frontWindow, globals.screenWidth, globals.screenHeight);
    else
        SDL_SetWindowSize(frontWindow, EngineSettings::frontWidth, EngineSettings::frontHeight);
    SDL_RenderSetLogicalSize(frontRenderer, main->width, main->height);
    SDL_RenderClear(frontRenderer);
    SDL_RenderCopyEx(frontRenderer, state->frontTexture, nullptr, nullptr, 0, nullptr, flip);
    if (fullScreenLayout || !hasRear || !small || !state->rearTexture) return;

    SDL_SetWindowSize(rearWindow, state->rearWidth, state->rearHeight);
    SDL_RenderSetLogicalSize(rearRenderer, small->width, small->height);
    SDL_RenderClear(rearRenderer);
    SDL_RenderCopy(rearRenderer, state->rearTexture, nullptr, nullptr);
}

SDL_Window* PresentationWindow() { return frontWindow; }

void ToggleWindowFullScreen() {
    windowFullScreen = !windowFullScreen;
    if (frontWindow)
        SDL_SetWindowFullscreen(frontWindow, windowFullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
}

void DestroyRenderers() {
    if (frontRenderer) SDL_DestroyRenderer(frontRenderer);
    if (rearRenderer) SDL_DestroyRenderer(rearRenderer);
    frontRenderer = rearRenderer = nullptr;
}

void DestroyPresentationWindows() {
    DestroyRenderers();
    if (frontWindow) SDL_DestroyWindow(frontWindow);
    if (rearWindow) SDL_DestroyWindow(rearWindow);
    frontWindow = rearWindow = nullptr;
}

} // namespace velk

// Audio output: the SDL device, its callback (SDL's audio thread) and the conversion of decoded
// frames to the device format and to the playback speed. The callback drives the audio clock.

#include "VideoState.h"

extern "C" {
#include <libavutil/time.h>
}

#include <cstdlib>
#include <cstring>

namespace velk {

namespace {
constexpr int kMinAudioBufferSamples = 512;
constexpr int kMaxCallbacksPerSecond = 30;
constexpr int kNextChannelCount[] = {0, 0, 1, 6, 2, 6, 4, 6};
constexpr int kFallbackRates[] = {0, 22050, 44100, 48000, 96000, 192000};
// Longest the sound waits for the first pictures of a position: a video stream that yields no
// picture must not keep the recording silent.
constexpr std::int64_t kMaxSoundHoldUs = 3000000;

// At the start and after a seek the sound waits (silence, nothing taken, the clock not moving
// on) until both cameras have filled their queues with pictures of the new position. Started at
// once, it runs ahead while the video decoders fill their pipelines, and their first pictures are
// late: dropped, or shown behind the sound. The first picture must also have been taken for
// showing, so the clock does not run while the player thread is still setting up its renderers.
bool HoldSoundForPictures(VideoState* state) {
    const int frontSerial = state->frontPackets.serial;
    const bool frontWaits =
        state->frontStreamIndex >= 0 && (state->frontQueuedSerial.load() != frontSerial ||
                                         state->frontTakenSerial.load() != frontSerial);
    const bool rearWaits = state->rearStreamIndex >= 0 &&
                           state->rearQueuedSerial.load() != state->rearPackets.serial.load();
    bool hold = false;
    if (frontWaits || rearWaits) {
        const int serial = state->audioPackets.serial;
        const std::int64_t now = av_gettime_relative();
        if (serial != state->soundHeldSerial) {
            state->soundHeldSerial = serial;
            state->soundHeldSince = now;
        }
        hold = now - state->soundHeldSince < kMaxSoundHoldUs;
    }
    state->soundHeld = hold ? 1 : 0;
    return hold;
}

// The default layout for a channel count without the stereo downmix channels.
void DefaultLayout(AVChannelLayout* layout, int channels) {
    av_channel_layout_uninit(layout);
    av_channel_layout_default(layout, channels);
}
} // namespace

int DesiredAudioBufferSamples(int sampleRate) {
    return FFMAX(kMinAudioBufferSamples, 2 << av_log2(sampleRate / kMaxCallbacksPerSecond));
}

int OpenAudioOutput(VideoState* state, const AVChannelLayout* requestedLayout, int sampleRate,
                    AudioFormatSpec* target) {
    AVChannelLayout layout{};
    av_channel_layout_copy(&layout, requestedLayout);
    int channels = layout.nb_channels;

    if (const char* env = SDL_getenv("SDL_AUDIO_CHANNELS")) {
        channels = std::atoi(env);
        DefaultLayout(&layout, channels);
    }
    if (layout.order != AV_CHANNEL_ORDER_NATIVE || layout.nb_channels != channels) {
        DefaultLayout(&layout, channels);
        if (layout.order == AV_CHANNEL_ORDER_NATIVE) {
            const uint64_t mask = layout.u.mask & ~(AV_CH_STEREO_LEFT | AV_CH_STEREO_RIGHT);
            av_channel_layout_uninit(&layout);
            av_channel_layout_from_mask(&layout, mask);
        }
    }
    channels = layout.nb_channels;
    if (sampleRate <= 0 || static_cast<Uint8>(channels) == 0) {
        av_log(nullptr, AV_LOG_ERROR, "Invalid sample rate or channel count!\n");
        av_channel_layout_uninit(&layout);
        return -1;
    }

    int rateIndex = FF_ARRAY_ELEMS(kFallbackRates) - 1;
    while (rateIndex > 0 && kFallbackRates[rateIndex] >= sampleRate)
        rateIndex--;

    SDL_AudioSpec wanted{};
    SDL_AudioSpec obtained{};
    wanted.channels = static_cast<Uint8>(channels);
    wanted.freq = sampleRate;
    wanted.format = AUDIO_S16SYS;
    wanted.silence = 0;
    wanted.samples = static_cast<Uint16>(DesiredAudioBufferSamples(sampleRate));
    wanted.callback = AudioCallback;
    wanted.userdata = state;
    while (SDL_OpenAudio(&wanted, &obtained) < 0) {
        av_log(nullptr, AV_LOG_WARNING, "SDL_OpenAudio (%d channels, %d Hz): %s\n", wanted.channels,
               wanted.freq, SDL_GetError());
        wanted.channels = static_cast<Uint8>(kNextChannelCount[FFMIN(7, wanted.channels)]);
        if (!wanted.channels) {
            wanted.freq = kFallbackRates[rateIndex--];
            wanted.channels = static_cast<Uint8>(channels);
            if (!wanted.freq) {
                av_log(nullptr, AV_LOG_ERROR, "No more combinations to try, audio open failed\n");
                av_channel_layout_uninit(&layout);
                return -1;
            }
        }
        DefaultLayout(&layout, wanted.channels);
    }
    if (obtained.format != AUDIO_S16SYS) {
        av_log(nullptr, AV_LOG_ERROR, "SDL advised audio format %d is not supported!\n",
               obtained.format);
        SDL_CloseAudio();
        av_channel_layout_uninit(&layout);
        return -1;
    }
    if (obtained.channels != wanted.channels) {
        DefaultLayout(&layout, obtained.channels);
        if (layout.order != AV_CHANNEL_ORDER_NATIVE) {
            av_log(nullptr, AV_LOG_ERROR, "SDL advised channel count %d is not supported!\n",
                   obtained.channels);
            SDL_CloseAudio();
            av_channel_layout_uninit(&layout);
            return -1;
        }
    }

    target->sampleFormat = AV_SAMPLE_FMT_S16;
    target->sampleRate = obtained.freq;
    av_channel_layout_uninit(&target->channelLayout);
    av_channel_layout_copy(&target->channelLayout, &layout);
    target->channels = obtained.channels;
    target->frameSize =
        av_samples_get_buffer_size(nullptr, target->channels, 1, target->sampleFormat, 1);
    target->bytesPerSecond = av_samples_get_buffer_size(
        nullptr, target->channels, target->sampleRate, target->sampleFormat, 1);
    av_channel_layout_uninit(&layout);
    if (target->bytesPerSecond <= 0 || target->frameSize <= 0) {
        av_log(nullptr, AV_LOG_ERROR, "av_samples_get_buffer_size failed\n");
        SDL_CloseAudio();
        return -1;
    }
    return static_cast<int>(obtained.size);
}

void CloseAudioOutput(VideoState* state) {
    SDL_CloseAudio();
    swr_free(&state->resampler);
    av_freep(&state->resampleBuffer);
    state->resampleBufferCapacity = 0;
    state->audioBufferSize = 0;
    state->audioBuffer = nullptr;
    av_channel_layout_uninit(&state->audioSource.channelLayout);
    av_channel_layout_uninit(&state->audioTarget.channelLayout);
}

int FetchAudio(VideoState* state) {
    if (state->paused || HoldSoundForPictures(state)) return -1;

    QueuedFrame* frame = nullptr;
    do {
        while (state->audioFrames.Remaining() == 0) {
            const std::int64_t halfBuffer =
                1000000LL * state->deviceBufferBytes / state->audioTarget.bytesPerSecond / 2;
            if (av_gettime_relative() - state->callbackTime > halfBuffer) return -1;
            av_usleep(1000);
        }
        frame = state->audioFrames.AwaitFilledSlot();
        if (!frame) return -1;
        state->audioFrames.Next();
    } while (frame->serial != state->audioPackets.serial);

    AVFrame* f = frame->frame;
    const int dataSize =
        av_samples_get_buffer_size(nullptr, f->ch_layout.nb_channels, f->nb_samples,
                                   static_cast<AVSampleFormat>(f->format), 1);
    AVChannelLayout layout{};
    if (f->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC && f->ch_layout.nb_channels > 0)
        av_channel_layout_copy(&layout, &f->ch_layout);
    else
        av_channel_layout_default(&layout, f->ch_layout.nb_channels);

    const int wanted = WantedSampleCount(state, f->nb_samples);
    AudioFormatSpec& source = state->audioSource;

    if (f->format != source.sampleFormat ||
        av_channel_layout_compare(&layout, &source.channelLayout) ||
        f->sample_rate != source.sampleRate || (wanted != f->nb_samples && !state->resampler)) {
        swr_free(&state->resampler);
        state->resamplerCompensating = false;
        int ret = swr_alloc_set_opts2(
            &state->resampler, &state->audioTarget.channelLayout, state->audioTarget.sampleFormat,
            state->audioTarget.sampleRate, &layout, static_cast<AVSampleFormat>(f->format),
            f->sample_rate, 0, nullptr);
        if (ret < 0 || swr_init(state->resampler) < 0) {
            av_log(nullptr, AV_LOG_ERROR,
                   "Cannot create sample rate converter for conversion of %d Hz %s %d channels "
                   "to %d Hz %s %d channels!\n",
                   f->sample_rate, av_get_sample_fmt_name(static_cast<AVSampleFormat>(f->format)),
                   f->ch_layout.nb_channels, state->audioTarget.sampleRate,
                   av_get_sample_fmt_name(state->audioTarget.sampleFormat),
                   state->audioTarget.channels);
            swr_free(&state->resampler);
            av_channel_layout_uninit(&layout);
            return -1;
        }
        av_channel_layout_uninit(&source.channelLayout);
        av_channel_layout_copy(&source.channelLayout, &layout);
        source.channels = layout.nb_channels;
        source.sampleRate = f->sample_rate;
        source.sampleFormat = static_cast<AVSampleFormat>(f->format);
    }
    av_channel_layout_uninit(&layout);

    int size;
    if (state->resampler) {
        const std::uint8_t** in = const_cast<const std::uint8_t**>(f->extended_data);
        const int targetRate = state->audioTarget.sampleRate;
        const int outCount =
            static_cast<int>(static_cast<std::int64_t>(wanted) * targetRate / f->sample_rate + 256);
        const int outSize = av_samples_get_buffer_size(
            nullptr, state->audioTarget.channels, outCount, state->audioTarget.sampleFormat, 0);
        if (outSize < 0) {
            av_log(nullptr, AV_LOG_ERROR, "av_samples_get_buffer_size() failed\n");
            return -1;
        }
        // Without this reset, a return from 4x to 1x kept squeezing every frame to a quarter:
        // the sound, and with it the master clock, ran on at four times the speed.
        if (wanted != f->nb_samples || state->resamplerCompensating) {
            const bool compensate = wanted != f->nb_samples;
            if (swr_set_compensation(
                    state->resampler,
                    compensate ? (wanted - f->nb_samples) * targetRate / f->sample_rate : 0,
                    compensate ? wanted * targetRate / f->sample_rate : 0) < 0) {
                av_log(nullptr, AV_LOG_ERROR, "swr_set_compensation() failed\n");
                return -1;
            }
            state->resamplerCompensating = compensate;
        }
        av_fast_malloc(&state->resampleBuffer, &state->resampleBufferCapacity, outSize);
        if (!state->resampleBuffer) return AVERROR(ENOMEM);
        std::uint8_t* out = state->resampleBuffer;
        const int converted = swr_convert(state->resampler, &out, outCount, in, f->nb_samples);
        if (converted < 0) {
            av_log(nullptr, AV_LOG_ERROR, "swr_convert() failed\n");
            return -1;
        }
        if (converted == outCount) {
            av_log(nullptr, AV_LOG_WARNING, "audio buffer is probably too small\n");
            if (swr_init(state->resampler) < 0) swr_free(&state->resampler);
        }
        state->audioBuffer = state->resampleBuffer;
        size = converted * state->audioTarget.channels *
               av_get_bytes_per_sample(state->audioTarget.sampleFormat);
    } else {
        state->audioBuffer = f->data[0];
        size = dataSize;
    }

    state->audioEndTime =
        std::isnan(frame->pts) ? NAN : frame->pts + double(f->nb_samples) / f->sample_rate;
    state->audioEndSerial = frame->serial;
    return size;
}

void AudioCallback(void* opaque, Uint8* stream, int length) {
    auto* state = static_cast<VideoState*>(opaque);
    state->callbackTime = av_gettime_relative();

    while (length > 0) {
        if (state->audioBufferIndex >= state->audioBufferSize) {
            int n = FetchAudio(state);
            if (n < 0) {
                state->audioBuffer = nullptr;
                state->audioBufferSize = kMinAudioBufferSamples / state->audioTarget.frameSize *
                                         state->audioTarget.frameSize;
            } else {
                state->audioBufferSize = n;
            }
            state->audioBufferIndex = 0;
        }
        int k = FFMIN(state->audioBufferSize - state->audioBufferIndex, length);
        const int volume = state->volume;
        if (!state->muted && state->audioBuffer && volume == SDL_MIX_MAXVOLUME) {
            std::memcpy(stream, state->audioBuffer + state->audioBufferIndex, k);
        } else {
            std::memset(stream, 0, k);
            if (!state->muted && state->audioBuffer)
                SDL_MixAudioFormat(stream, state->audioBuffer + state->audioBufferIndex,
                                   AUDIO_S16SYS, k, volume);
        }
        length -= k;
        stream += k;
        state->audioBufferIndex += k;
    }
    state->audioWriteRemainder = state->audioBufferSize - state->audioBufferIndex;

    if (!std::isnan(state->audioEndTime)) {
        StampClockAt(&state->audioClock,
                     state->audioEndTime -
                         double(2 * state->deviceBufferBytes + state->audioWriteRemainder) /
                             state->audioTarget.bytesPerSecond,
                     state->audioEndSerial, state->callbackTime / 1000000.0);
        AlignClockWith(&state->externalClock, &state->audioClock);
    }
}

} // namespace velk

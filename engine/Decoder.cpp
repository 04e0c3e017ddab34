// Decoder threads: one per open stream, each the only consumer of its packet queue and the only
// producer of its frame queue.

#include "VideoState.h"

namespace velk {

void InitDecoder(StreamDecoder* decoder, AVStream* stream, AVCodecContext* context,
                 EncodedPacketQueue* queue, SDL_cond* starvedSignal) {
    *decoder = StreamDecoder{};
    decoder->stream = stream;
    decoder->codecContext = context;
    decoder->packets = queue;
    decoder->starvedSignal = starvedSignal;
    decoder->startTime = AV_NOPTS_VALUE;
    decoder->packetSerial = -1;
}

int StartDecoder(StreamDecoder* decoder, int (*threadFunction)(void*), const char* name,
                 void* arg) {
    decoder->currentPacket = av_packet_alloc();
    decoder->pendingPacket = av_packet_alloc();
    if (!decoder->currentPacket || !decoder->pendingPacket) return AVERROR(ENOMEM);
    decoder->packets->Start();
    decoder->thread = SDL_CreateThread(threadFunction, name, arg);
    if (!decoder->thread) {
        av_log(nullptr, AV_LOG_ERROR, "SDL_CreateThread(): %s\n", SDL_GetError());
        return AVERROR(ENOMEM);
    }
    return 0;
}

void StopDecoder(StreamDecoder* decoder, DecodedFrameQueue* frameQueue) {
    decoder->packets->Abort();
    frameQueue->Signal();
    if (decoder->thread) SDL_WaitThread(decoder->thread, nullptr);
    decoder->thread = nullptr;
    decoder->packets->Flush();
}

void FreeDecoder(StreamDecoder* decoder) {
    av_packet_free(&decoder->currentPacket);
    av_packet_free(&decoder->pendingPacket);
    avcodec_free_context(&decoder->codecContext);
}

void StampAudioFrame(StreamDecoder* decoder, AVFrame* frame) {
    AVRational tb{1, frame->sample_rate};
    if (frame->pts != AV_NOPTS_VALUE)
        frame->pts = av_rescale_q(frame->pts, decoder->codecContext->pkt_timebase, tb);
    else if (decoder->nextTime != AV_NOPTS_VALUE)
        frame->pts = av_rescale_q(decoder->nextTime, decoder->nextTimeBase, tb);
    if (frame->pts != AV_NOPTS_VALUE) {
        decoder->nextTime = frame->pts + frame->nb_samples;
        decoder->nextTimeBase = tb;
    }
}

namespace {

// A picture's time: its best-effort timestamp, or its packet's decoding time.
void StampPicture(AVFrame* frame) {
    frame->pts = EngineSettings::timestampSource == PictureTimestamp::BestEffort
                     ? frame->best_effort_timestamp
                     : frame->pkt_dts;
}

// A decoder that reorders pictures, or decodes several at once on frame threads, gives the first
// picture of a position only once it has decoded the next two or three, and after a key picture
// those are the costly ones: the first picture waited a tenth of a second for them at the start
// and after every seek. So the first packet of a position, when it is a key picture, is also
// decoded on its own, by a decoder made for it and drained at once; that picture is given
// ahead, and its copy from the decoder itself is dropped (IsCopyOfLeadPicture). 1 a picture in
// frame, 0 none (the decoder itself gives the first picture as before).
int DecodeLeadPicture(StreamDecoder* decoder, const AVPacket* packet, AVFrame* frame) {
    const AVCodecContext* own = decoder->codecContext;
    if (!(packet->flags & AV_PKT_FLAG_KEY)) return 0;
    if (own->has_b_frames <= 0 && !(own->active_thread_type & FF_THREAD_FRAME)) return 0;
    AVCodecContext* lead = avcodec_alloc_context3(own->codec);
    if (!lead) return 0;
    int got = 0;
    if (avcodec_parameters_to_context(lead, decoder->stream->codecpar) >= 0) {
        lead->pkt_timebase = own->pkt_timebase;
        ApplyDecoderSettings(lead);
        lead->thread_count = 1;
        if (avcodec_open2(lead, own->codec, nullptr) >= 0 &&
            avcodec_send_packet(lead, packet) >= 0 && avcodec_send_packet(lead, nullptr) >= 0 &&
            avcodec_receive_frame(lead, frame) >= 0) {
            StampPicture(frame);
            // Without a time the copy could not be told apart: the decoder's own picture is used.
            if (frame->pts != AV_NOPTS_VALUE) {
                decoder->leadTime = frame->pts;
                got = 1;
            } else {
                av_frame_unref(frame);
            }
        }
    }
    avcodec_free_context(&lead);
    return got;
}

// Whether a picture the decoder gave is the lead picture again (or, after it, one that belongs
// before it); the first later picture ends the check.
bool IsCopyOfLeadPicture(StreamDecoder* decoder, const AVFrame* frame) {
    if (decoder->leadTime == AV_NOPTS_VALUE) return false;
    if (frame->pts != AV_NOPTS_VALUE && frame->pts <= decoder->leadTime) return true;
    decoder->leadTime = AV_NOPTS_VALUE;
    return false;
}

} // namespace

int DecodeFrame(StreamDecoder* decoder, AVFrame* frame, AVSubtitle* textItem) {
    AVCodecContext* context = decoder->codecContext;
    const AVMediaType type = context->codec_type;
    int ret = AVERROR(EAGAIN);

    for (;;) {
        // Take what the decoder has for the current serial before feeding it more.
        if (decoder->packets->serial == decoder->packetSerial) {
            do {
                if (decoder->packets->abortRequested) return -1;
                if (type == AVMEDIA_TYPE_VIDEO) {
                    ret = avcodec_receive_frame(context, frame);
                    if (ret >= 0) {
                        StampPicture(frame);
                        if (IsCopyOfLeadPicture(decoder, frame)) {
                            av_frame_unref(frame);
                            continue;
                        }
                    }
                } else if (type == AVMEDIA_TYPE_AUDIO) {
                    ret = avcodec_receive_frame(context, frame);
                    if (ret >= 0) StampAudioFrame(decoder, frame);
                }
                if (ret == AVERROR_EOF) {
                    decoder->finishedSerial = decoder->packetSerial;
                    avcodec_flush_buffers(context);
                    return 0;
                }
                if (ret >= 0) return 1;
            } while (ret != AVERROR(EAGAIN));
        }

        // Fetch the next packet of the current serial; stale ones are dropped undecoded.
        do {
            if (decoder->packets->packetCount == 0) SDL_CondSignal(decoder->starvedSignal);
            if (decoder->packetPending) {
                decoder->packetPending = 0;
            } else {
                av_packet_unref(decoder->pendingPacket);
                if (decoder->packets->Get(decoder->pendingPacket, true, &decoder->packetSerial) < 0)
                    return -1;
                if (IsFlushMarker(decoder->pendingPacket)) {
                    avcodec_flush_buffers(context);
                    decoder->leadWanted = true;
                    decoder->leadTime = AV_NOPTS_VALUE;
                    decoder->finishedSerial = 0;
                    decoder->nextTime = decoder->startTime;
                    decoder->nextTimeBase = decoder->startTimeBase;
                    *decoder->pendingPacket = AVPacket{};
                    continue;
                }
                av_packet_unref(decoder->currentPacket);
                av_packet_ref(decoder->currentPacket, decoder->pendingPacket);
            }
            if (decoder->packets->serial == decoder->packetSerial) break;
            av_packet_unref(decoder->pendingPacket);
        } while (true);

        if (type == AVMEDIA_TYPE_SUBTITLE) {
            int gotItem = 0;
            ret = avcodec_decode_subtitle2(context, textItem, &gotItem, decoder->pendingPacket);
            if (ret < 0) {
                ret = AVERROR(EAGAIN);
            } else {
                if (gotItem && !decoder->pendingPacket->data) decoder->packetPending = 1;
                // Every text packet counts, also one the text decoder finds empty (a re-written
                // sample starts with a zero length byte): the line is taken from the packet.
                const bool counts = gotItem || decoder->pendingPacket->data;
                ret = counts ? 0 : AVERROR_EOF;
            }
            if (!decoder->packetPending) av_packet_unref(decoder->pendingPacket);
            if (ret == 0) return 1;
            if (ret == AVERROR_EOF) {
                decoder->finishedSerial = decoder->packetSerial;
                return 0;
            }
        } else {
            if (type == AVMEDIA_TYPE_VIDEO && decoder->leadWanted) {
                decoder->leadWanted = false;
                if (DecodeLeadPicture(decoder, decoder->pendingPacket, frame) > 0) {
                    decoder->packetPending = 1; // the decoder itself takes the packet next call
                    return 1;
                }
            }
            if (avcodec_send_packet(context, decoder->pendingPacket) == AVERROR(EAGAIN)) {
                av_log(context, AV_LOG_ERROR,
                       "Receive_frame and send_packet both returned EAGAIN, which is an API "
                       "violation.\n");
                decoder->packetPending = 1;
            } else {
                // Sent, or refused as broken: either way this packet is done with.
                av_packet_unref(decoder->pendingPacket);
            }
        }
    }
}

namespace {

// Behind the master by more than kFarBehindSeconds, the decoder skips what it may skip at high
// speed; by more than kLostSeconds it decodes key pictures only, which catches up within a few of
// them where it would otherwise stay behind for good (its packets fill the read_thread's byte
// ceiling, the sound runs dry and waits). It keeps everything again once back within
// kCaughtUpSeconds.
constexpr double kFarBehindSeconds = 0.25;
constexpr double kLostSeconds = 1.0;
constexpr double kCaughtUpSeconds = 0.05;

// Pictures of a position each camera queues before the sound starts (FetchAudio): the capacity
// of a picture queue, so the decoders begin with a full queue instead of racing the clock.
constexpr int kPicturesBeforeSound = 3;

// A display shows at most this many pictures a second.
constexpr double kDisplayRate = 60;

// What the decoder may leave out, chosen on its own thread before it is fed more: nothing while
// it keeps up and a display could show every picture. When the speed offers more pictures than
// that, most cannot be shown anyway: the non-reference pictures (which no other picture needs)
// are not decoded and the loop filter is not run (at 4x on two cores that shows about a third
// more pictures, at a little blockiness until the next key picture). Far behind, at any speed,
// the same; lost, key pictures only. behind is the master clock minus the time of the picture
// just decoded (NaN when either is unknown); pictureRate is the stream's pictures per second.
void ChooseSkipping(StreamDecoder* decoder, double behind, double pictureRate) {
    AVCodecContext* context = decoder->codecContext;
    if (!std::isnan(behind) && behind > kFarBehindSeconds) decoder->farBehind = true;
    if (!std::isnan(behind) && behind > kLostSeconds) decoder->lost = true;
    if (std::isnan(behind) || behind < kCaughtUpSeconds) decoder->farBehind = decoder->lost = false;
    const bool skip = speedFactor * pictureRate > kDisplayRate || decoder->farBehind;
    context->skip_frame = decoder->lost ? AVDISCARD_NONKEY
                          : skip        ? AVDISCARD_NONREF
                                        : AVDISCARD_DEFAULT;
    context->skip_loop_filter = skip || decoder->lost ? AVDISCARD_ALL : AVDISCARD_DEFAULT;
}

// The stream of a camera.
PlaybackStream CameraStream(VideoState* state, Camera which) {
    return state->Stream(which == Camera::Front ? StreamRole::Front : StreamRole::Rear);
}

// 1 a picture to queue, 0 none (dropped early or drained), -1 aborted.
int TakeDecodedPicture(VideoState* state, Camera which, AVFrame* frame, double pictureRate) {
    StreamDecoder* decoder = &CameraStream(state, which).decoder;
    AVStream* stream = decoder->stream;
    int got = DecodeFrame(decoder, frame, nullptr);
    if (got <= 0) return got;

    double dpts = NAN;
    if (frame->pts != AV_NOPTS_VALUE) dpts = av_q2d(stream->time_base) * frame->pts;
    frame->sample_aspect_ratio = av_guess_sample_aspect_ratio(state->container, stream, frame);

    const double master = ReadMasterClock(state);
    const bool currentSerial = decoder->packetSerial == ClockSerial(&state->videoClock);
    ChooseSkipping(decoder, currentSerial ? master - dpts : NAN, pictureRate);
    // The early drop: a picture without a time (dpts NaN) is never late.
    const double lateness =
        LatenessBehindMaster(dpts, master, decoder->packetSerial, ClockSerial(&state->videoClock));
    if (IsLateEnoughToDrop(lateness, LateSlack(pictureRate > 0 ? 1 / pictureRate : 0),
                           MasterKind(state))) {
        if (which == Camera::Front) CountDroppedBeforeQueue();
        av_frame_unref(frame);
        return 0;
    }
    return 1;
}

int VideoDecodeThread(VideoState* state, Camera which) {
    AVFrame* frame = av_frame_alloc();
    if (!frame) return AVERROR(ENOMEM);
    const PlaybackStream camera = CameraStream(state, which);
    StreamDecoder* decoder = &camera.decoder;
    AVStream* stream = decoder->stream;
    DecodedFrameQueue* queue = &camera.frames;
    const AVRational tb = stream->time_base;
    const AVRational frameRate = av_guess_frame_rate(state->container, stream, nullptr);
    const double pictureRate = frameRate.num && frameRate.den ? av_q2d(frameRate) : 0;
    int countedSerial = -1; // serial of the pictures counted in queuedOfSerial
    int queuedOfSerial = 0;

    for (;;) {
        int ret = TakeDecodedPicture(state, which, frame, pictureRate);
        if (ret < 0) break;
        if (ret == 0) continue;
        double duration =
            (frameRate.num && frameRate.den) ? av_q2d(AVRational{frameRate.den, frameRate.num}) : 0;
        double pts = frame->pts == AV_NOPTS_VALUE ? NAN : frame->pts * av_q2d(tb);

        QueuedFrame* slot = queue->AwaitFreeSlot();
        if (!slot) break;
        slot->width = frame->width;
        slot->height = frame->height;
        slot->pts = pts;
        slot->duration = duration;
        slot->bytePosition = frame->pkt_pos;
        const int serial = decoder->packetSerial;
        slot->serial = serial;
        av_frame_move_ref(slot->frame, frame);
        queue->Push(); // the slot is the consumer's from here on
        if (serial != countedSerial) {
            countedSerial = serial;
            queuedOfSerial = 0;
        }
        // A full queue is the cushion the sound waits for: three pictures of the position, or
        // fewer beside a picture from before a seek that the queue still holds as shown.
        if (++queuedOfSerial == kPicturesBeforeSound || queue->count >= queue->capacity)
            (which == Camera::Front ? state->frontQueuedSerial : state->rearQueuedSerial) = serial;
        av_frame_unref(frame);
    }
    av_frame_free(&frame);
    return 0;
}

} // namespace

int FrontVideoDecodeThread(void* arg) {
    return VideoDecodeThread(static_cast<VideoState*>(arg), Camera::Front);
}

int RearVideoDecodeThread(void* arg) {
    return VideoDecodeThread(static_cast<VideoState*>(arg), Camera::Rear);
}

int AudioDecodeThread(void* arg) {
    auto* state = static_cast<VideoState*>(arg);
    AVFrame* frame = av_frame_alloc();
    if (!frame) return AVERROR(ENOMEM);
    int got;
    while ((got = DecodeFrame(&state->audioDecoder, frame, nullptr)) >= 0) {
        if (got == 0) continue;
        QueuedFrame* slot = state->audioFrames.AwaitFreeSlot();
        if (!slot) break;
        slot->pts = frame->pts == AV_NOPTS_VALUE ? NAN : frame->pts / double(frame->sample_rate);
        slot->bytePosition = frame->pkt_pos;
        slot->serial = state->audioDecoder.packetSerial;
        slot->duration = frame->nb_samples / double(frame->sample_rate);
        av_frame_move_ref(slot->frame, frame);
        state->audioFrames.Push();
    }
    av_frame_free(&frame);
    return 0;
}

int TextDecodeThread(void* arg) {
    auto* state = static_cast<VideoState*>(arg);
    while (!state->abortRequested) {
        // Lines are collected only once the playback has a defined time, and no further ahead
        // of the pictures than the text item queue allows.
        double master = ReadMasterClock(state);
        if (std::isnan(master) || static_cast<long long>(master * 10) < 0) {
            SDL_Delay(5);
            continue;
        }
        QueuedFrame* slot = state->textItems.AwaitFreeSlot();
        if (!slot) break;
        int got = DecodeFrame(&state->textDecoder, nullptr, &slot->textItem);
        if (got < 0) break;
        if (got > 0) {
            slot->hasTextItem = true;
            AVPacket* pkt = state->textDecoder.currentPacket;
            // A line without a time belongs to no moment; it is not collected. Lines are keyed
            // by their tenth of a second: the device writes a 1/10 time base, so its keys are
            // its timestamps; a file whose text track was re-written (1/1000) keys the same.
            if (pkt->pts != AV_NOPTS_VALUE) {
                const std::int64_t tenth =
                    av_rescale_q(pkt->pts, state->textDecoder.stream->time_base, {1, 10});
                AddTelemetryLine(state, static_cast<int>(tenth), pkt->data, pkt->size);
            }
            state->textItems.Push();
        } else {
            avsubtitle_free(&slot->textItem);
        }
    }
    return 0;
}

} // namespace velk

// The decoder loop on real H.264 packets: stale packets after a flush, draining at the end.

#include "EngineTestSupport.h"
#include "VideoState.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace velk {
namespace {

struct DecoderTest : ::testing::Test {
    AVFormatContext* container = nullptr;
    EncodedPacketQueue queue;
    StreamDecoder decoder;
    std::vector<AVPacket*> packets; // front stream, in file order
    AVRational timeBase{};

    void SetUp() override {
        PrepareFlushMarker();
        const auto path = test::Recording(
            // veryfast: B-pictures, which the decoder gives back in display order, late.
            {"--duration", "2", "--front", "320x180", "--no-rear", "--no-audio", "--no-telemetry",
             "--preset", "veryfast"});
        ASSERT_EQ(avformat_open_input(&container, path.c_str(), nullptr, nullptr), 0);
        ASSERT_GE(avformat_find_stream_info(container, nullptr), 0);
        AVStream* stream = container->streams[0];
        timeBase = stream->time_base;
        AVCodecContext* context = avcodec_alloc_context3(nullptr);
        avcodec_parameters_to_context(context, stream->codecpar);
        context->pkt_timebase = timeBase;
        ASSERT_EQ(avcodec_open2(context, avcodec_find_decoder(context->codec_id), nullptr), 0);
        ASSERT_EQ(queue.Init(), 0);
        SDL_cond* unused = nullptr;
        InitDecoder(&decoder, stream, context, &queue, unused);
        decoder.currentPacket = av_packet_alloc();
        decoder.pendingPacket = av_packet_alloc();
        queue.Start();
        AVPacket* pkt = av_packet_alloc();
        while (av_read_frame(container, pkt) >= 0) {
            if (pkt->stream_index == 0) packets.push_back(av_packet_clone(pkt));
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
        ASSERT_EQ(packets.size(), 60u);
    }
    void TearDown() override {
        for (AVPacket*& p : packets)
            av_packet_free(&p);
        FreeDecoder(&decoder);
        queue.Destroy();
        avformat_close_input(&container);
    }
    void Queue(int from, int to) {
        for (int i = from; i < to; ++i) {
            AVPacket* copy = av_packet_clone(packets[i]);
            queue.Put(copy);
            av_packet_free(&copy);
        }
    }
    int FrameNumber(std::int64_t pts) const {
        return static_cast<int>(std::lround(pts * av_q2d(timeBase) * 30));
    }
    int FrameNumber(const AVFrame* frame) const { return FrameNumber(frame->pts); }
    // The pictures of the packets [from, to) of the file, in display order.
    std::vector<int> PicturesOf(int from, int to) const {
        std::vector<int> numbers;
        for (int i = from; i < to; ++i)
            numbers.push_back(FrameNumber(packets[i]->pts));
        std::sort(numbers.begin(), numbers.end());
        return numbers;
    }
};

TEST_F(DecoderTest, StalePacketsAreDroppedAndTheEndDrainsTheDecoder) {
    Queue(0, 10);            // serial 1, never to be shown: a seek follows at once
    queue.Put(&FlushMarker); // serial 2
    Queue(30, 40);           // from the key frame at 1 s
    queue.PutEndMarker(0);

    AVFrame* frame = av_frame_alloc();
    std::vector<int> shown;
    int got;
    while ((got = DecodeFrame(&decoder, frame, nullptr)) == 1) {
        EXPECT_EQ(decoder.packetSerial, 2);
        shown.push_back(FrameNumber(frame));
        av_frame_unref(frame);
    }
    av_frame_free(&frame);
    EXPECT_EQ(got, 0) << "the end marker drains, then reports the end";
    EXPECT_EQ(decoder.finishedSerial, 2);
    EXPECT_EQ(shown, PicturesOf(30, 40))
        << "no picture from before the flush, every delayed one after";
}

// The decoder holds a reordering stream's pictures back until it has decoded the next ones. The
// first picture of a position is given from its key packet alone, and only once.
TEST_F(DecoderTest, TheFirstPictureOfAPositionComesFromItsKeyPacketAloneAndOnce) {
    ASSERT_GT(decoder.codecContext->has_b_frames, 0) << "the recording must reorder its pictures";
    AVFrame* frame = av_frame_alloc();
    std::vector<int> shown;
    const auto decodeAll = [&] {
        int got;
        while ((got = DecodeFrame(&decoder, frame, nullptr)) == 1) {
            shown.push_back(FrameNumber(frame));
            av_frame_unref(frame);
        }
        return got;
    };
    for (const int from : {0, 30}) {
        SCOPED_TRACE(from);
        if (from > 0) queue.Put(&FlushMarker);
        Queue(from, from + 10);
        queue.PutEndMarker(0);
        shown.clear();
        ASSERT_EQ(DecodeFrame(&decoder, frame, nullptr), 1);
        EXPECT_EQ(FrameNumber(frame), from);
        EXPECT_EQ(queue.packetCount, 10) << "only the key packet taken (the end marker counts)";
        av_frame_unref(frame);
        EXPECT_EQ(decodeAll(), 0);
        std::vector<int> later = PicturesOf(from, from + 10);
        later.erase(later.begin());
        EXPECT_EQ(shown, later) << "every later picture in order; the first not again";
    }
    av_frame_free(&frame);
}

} // namespace
} // namespace velk

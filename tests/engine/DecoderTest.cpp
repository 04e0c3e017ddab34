// The decoder loop on real H.264 packets: stale packets after a flush, draining at the end.

#include "EngineTestSupport.h"
#include "VideoState.h"

#include <gtest/gtest.h>

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
            {"--duration", "2", "--front", "320x180", "--no-rear", "--no-audio", "--no-telemetry"});
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
    int FrameNumber(const AVFrame* frame) const {
        return static_cast<int>(std::lround(frame->pts * av_q2d(timeBase) * 30));
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
    std::vector<int> expected;
    for (int i = 30; i < 40; ++i)
        expected.push_back(i);
    EXPECT_EQ(shown, expected) << "no picture from before the flush, every delayed one after";
}

} // namespace
} // namespace velk

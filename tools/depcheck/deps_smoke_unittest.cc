// Checks that FFmpeg, the Speex resampler and zlib, as this build links them,
// do what the recorder and the audio path rely on. On Windows these are our
// own minimal cross builds, so a missing encoder, muxer, protocol or thread
// implementation shows up here first rather than in the recorder.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}
#include <speex/speex_resampler.h>
#include <zlib.h>

namespace {

struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct OutputDeleter {
  void operator()(AVFormatContext* oc) const {
    if (oc->pb) avio_closep(&oc->pb);
    avformat_free_context(oc);
  }
};
struct SwsDeleter {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct ResamplerDeleter {
  void operator()(SpeexResamplerState* s) const { speex_resampler_destroy(s); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using ResamplerPtr = std::unique_ptr<SpeexResamplerState, ResamplerDeleter>;

// A file in the temporary folder that is removed when the test ends.
class TempFile {
 public:
  explicit TempFile(const std::string& suffix) {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("deps_smoke_" + std::to_string(rd()) + suffix);
  }
  ~TempFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  std::string name() const { return path_.u8string(); }
  std::string contents() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path path_;
};

// ---------------------------------------------------------------- FFmpeg

TEST(FfmpegTest, AviMuxerDefaultsAndEncodersArePresent) {
  const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
  ASSERT_NE(avi, nullptr);
  const char* video = avcodec_get_name(avi->video_codec);
  const char* audio = avcodec_get_name(avi->audio_codec);
  std::printf("avi muxer defaults: video %s, audio %s\n", video, audio);
  RecordProperty("avi_default_video", video);
  RecordProperty("avi_default_audio", audio);

  EXPECT_EQ(avi->video_codec, AV_CODEC_ID_MPEG4);
  // The muxer picks MP3 only when FFmpeg was built with libmp3lame (Debian's
  // build is); our minimal Windows build has no MP3 encoder and gets AC3.
  const bool has_lame = avcodec_find_encoder_by_name("libmp3lame") != nullptr;
  EXPECT_EQ(avi->audio_codec, has_lame ? AV_CODEC_ID_MP3 : AV_CODEC_ID_AC3);
  EXPECT_NE(avcodec_find_encoder(avi->video_codec), nullptr);
  EXPECT_NE(avcodec_find_encoder(avi->audio_codec), nullptr);

  for (AVCodecID id : {AV_CODEC_ID_MPEG4, AV_CODEC_ID_MP2, AV_CODEC_ID_AC3})
    EXPECT_NE(avcodec_find_encoder(id), nullptr) << avcodec_get_name(id);
  const char* protocol = avio_find_protocol_name("recording.avi");
  ASSERT_NE(protocol, nullptr);
  EXPECT_STREQ(protocol, "file");
}

// Camera pictures arrive as 24-bit BGR; the encoder wants limited-range
// BT.601 YUV 4:2:0. A swapped channel order would turn blue into red.
TEST(FfmpegTest, SwscaleConvertsBgrToYuv420) {
  constexpr int kW = 64, kH = 48;
  std::vector<uint8_t> bgr(kW * kH * 3);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      uint8_t* p = &bgr[(y * kW + x) * 3];
      if (x < kW / 2) {  // pure blue
        p[0] = 255, p[1] = 0, p[2] = 0;
      } else {  // mid grey
        p[0] = p[1] = p[2] = 128;
      }
    }
  }
  SwsPtr sws(sws_getContext(kW, kH, AV_PIX_FMT_BGR24, kW, kH, AV_PIX_FMT_YUV420P,
                            SWS_BILINEAR, nullptr, nullptr, nullptr));
  ASSERT_TRUE(sws);
  FramePtr yuv(av_frame_alloc());
  yuv->format = AV_PIX_FMT_YUV420P;
  yuv->width = kW;
  yuv->height = kH;
  ASSERT_EQ(av_frame_get_buffer(yuv.get(), 0), 0);
  const uint8_t* src[] = {bgr.data()};
  const int src_stride[] = {kW * 3};
  ASSERT_EQ(sws_scale(sws.get(), src, src_stride, 0, kH, yuv->data, yuv->linesize), kH);

  auto at = [&](int plane, int x, int y) { return int{yuv->data[plane][y * yuv->linesize[plane] + x]}; };
  // Away from the edge between the halves, where chroma is blended.
  EXPECT_NEAR(at(0, 8, 20), 41, 2);   // Y of blue
  EXPECT_NEAR(at(1, 4, 10), 240, 2);  // Cb of blue
  EXPECT_NEAR(at(2, 4, 10), 110, 2);  // Cr of blue
  EXPECT_NEAR(at(0, 56, 20), 126, 2);
  EXPECT_NEAR(at(1, 28, 10), 128, 2);
  EXPECT_NEAR(at(2, 28, 10), 128, 2);
}

// The recorder's path in small: MPEG-4 video on two slice threads, packets
// rescaled into the stream's time base, written through the file protocol.
TEST(FfmpegTest, EncodesMpeg4IntoAviFile) {
  constexpr int kW = 64, kH = 48, kFrames = 5;
  TempFile file(".avi");

  AVFormatContext* raw = nullptr;
  ASSERT_GE(avformat_alloc_output_context2(&raw, nullptr, "avi", file.name().c_str()), 0);
  OutputPtr oc(raw);
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  ASSERT_NE(codec, nullptr);
  AVStream* stream = avformat_new_stream(oc.get(), nullptr);
  ASSERT_NE(stream, nullptr);
  CodecContextPtr enc(avcodec_alloc_context3(codec));
  enc->width = kW;
  enc->height = kH;
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  enc->time_base = {1, 10};
  enc->bit_rate = 200000;
  enc->thread_count = 2;
  enc->thread_type = FF_THREAD_SLICE;
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  ASSERT_EQ(avcodec_open2(enc.get(), codec, nullptr), 0);
  // FFmpeg built without a thread implementation falls back to one thread
  // without a word, and its internal locks then do nothing.
  EXPECT_EQ(enc->active_thread_type, FF_THREAD_SLICE);
  ASSERT_GE(avcodec_parameters_from_context(stream->codecpar, enc.get()), 0);
  stream->time_base = enc->time_base;
  ASSERT_GE(avio_open(&oc->pb, file.name().c_str(), AVIO_FLAG_WRITE), 0);
  ASSERT_GE(avformat_write_header(oc.get(), nullptr), 0);

  FramePtr frame(av_frame_alloc());
  frame->format = enc->pix_fmt;
  frame->width = kW;
  frame->height = kH;
  ASSERT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
  PacketPtr pkt(av_packet_alloc());
  int packets = 0;
  auto drain = [&]() {
    while (avcodec_receive_packet(enc.get(), pkt.get()) == 0) {
      av_packet_rescale_ts(pkt.get(), enc->time_base, stream->time_base);
      pkt->stream_index = stream->index;
      if (av_interleaved_write_frame(oc.get(), pkt.get()) == 0) ++packets;
    }
  };
  for (int i = 0; i < kFrames; ++i) {
    ASSERT_EQ(av_frame_make_writable(frame.get()), 0);
    for (int p = 0; p < 3; ++p) {
      const int w = p ? kW / 2 : kW, h = p ? kH / 2 : kH;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          frame->data[p][y * frame->linesize[p] + x] = static_cast<uint8_t>(p ? 128 : x + y + 8 * i);
    }
    frame->pts = i;
    ASSERT_EQ(avcodec_send_frame(enc.get(), frame.get()), 0);
    drain();
  }
  ASSERT_EQ(avcodec_send_frame(enc.get(), nullptr), 0);
  drain();
  EXPECT_EQ(packets, kFrames);
  ASSERT_EQ(av_write_trailer(oc.get()), 0);
  oc.reset();  // closes the file

  const std::string avi = file.contents();
  ASSERT_GT(avi.size(), 512u);
  EXPECT_EQ(avi.substr(0, 4), "RIFF");
  EXPECT_EQ(avi.substr(8, 4), "AVI ");
  EXPECT_NE(avi.find("movi"), std::string::npos);
  EXPECT_NE(avi.find("idx1"), std::string::npos);
}

// Float samples from the sound devices become the codecs' 16-bit samples.
TEST(FfmpegTest, SwresampleConvertsFloatToS16) {
  AVChannelLayout mono;
  av_channel_layout_default(&mono, 1);
  SwrContext* swr = nullptr;
  ASSERT_EQ(swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_S16, 8000, &mono, AV_SAMPLE_FMT_FLT,
                                8000, 0, nullptr),
            0);
  ASSERT_EQ(swr_init(swr), 0);
  const float in[] = {0.25f, -0.5f, 1.0f, 2.0f};
  int16_t out[4] = {};
  const uint8_t* src[] = {reinterpret_cast<const uint8_t*>(in)};
  uint8_t* dst[] = {reinterpret_cast<uint8_t*>(out)};
  EXPECT_EQ(swr_convert(swr, dst, 4, src, 4), 4);
  EXPECT_EQ(out[0], 8192);
  EXPECT_EQ(out[1], -16384);
  EXPECT_EQ(out[2], 32767);
  EXPECT_EQ(out[3], 32767);  // clipped, not wrapped
  swr_free(&swr);
}

// ---------------------------------------------------------------- Speex

constexpr int kRateIn = 48000;
constexpr int kRateOut = 8000;
constexpr int kFrameIn = 960;   // 20 ms at 48 kHz
constexpr int kFrameOut = 160;  // 20 ms at 8 kHz
constexpr int kQuality = 10;
constexpr double kAmplitude = 10000.0;
const double kPi = std::acos(-1.0);

double Rms(const std::vector<int16_t>& v) {
  double sum = 0;
  for (int16_t s : v) sum += static_cast<double>(s) * s;
  return std::sqrt(sum / v.size());
}

// Feeds `frames` 20 ms frames of a continuous tone and returns the last
// output frame; every frame must go in whole and give exactly 160 samples.
std::vector<int16_t> ResampleTone(double hz, int frames) {
  int err = -1;
  ResamplerPtr st(speex_resampler_init(1, kRateIn, kRateOut, kQuality, &err));
  EXPECT_EQ(err, RESAMPLER_ERR_SUCCESS);
  if (!st) return {};
  std::vector<int16_t> in(kFrameIn), out(kFrameOut);
  for (int f = 0; f < frames; ++f) {
    for (int i = 0; i < kFrameIn; ++i) {
      const double t = double(f * kFrameIn + i) / kRateIn;
      in[i] = static_cast<int16_t>(std::lround(kAmplitude * std::sin(2 * kPi * hz * t)));
    }
    spx_uint32_t in_len = kFrameIn, out_len = kFrameOut;
    EXPECT_EQ(speex_resampler_process_int(st.get(), 0, in.data(), &in_len, out.data(), &out_len),
              RESAMPLER_ERR_SUCCESS);
    EXPECT_EQ(in_len, spx_uint32_t{kFrameIn}) << "frame " << f;
    EXPECT_EQ(out_len, spx_uint32_t{kFrameOut}) << "frame " << f;
  }
  return out;
}

TEST(SpeexResamplerTest, Downsamples20msFrames48kTo8kKeepingTone) {
  // The quality-10 filter delays by 128 output samples; by frame 4 the
  // output is the steady tone.
  const std::vector<int16_t> out = ResampleTone(1000, 4);
  ASSERT_EQ(out.size(), size_t{kFrameOut});
  EXPECT_NEAR(Rms(out), kAmplitude / std::sqrt(2.0), kAmplitude * 0.03);
  int crossings = 0;  // 1 kHz at 8 kHz: 8 samples a period, 2 crossings each
  for (size_t i = 1; i < out.size(); ++i) crossings += (out[i - 1] < 0) != (out[i] < 0);
  EXPECT_NEAR(crossings, 2 * kFrameOut / 8, 1);
}

TEST(SpeexResamplerTest, RemovesToneAboveNewNyquist) {
  // 6 kHz would fold back to 2 kHz if it were not filtered out.
  const std::vector<int16_t> out = ResampleTone(6000, 4);
  ASSERT_EQ(out.size(), size_t{kFrameOut});
  EXPECT_LT(Rms(out), kAmplitude * 0.01);
}

// ---------------------------------------------------------------- zlib

TEST(ZlibTest, HeaderMatchesLibraryAndRoundTrips) {
  EXPECT_STREQ(zlibVersion(), ZLIB_VERSION);
  std::string text;
  for (int i = 0; i < 400; ++i) text += "frame " + std::to_string(i % 7) + " ok\n";
  std::vector<Bytef> packed(compressBound(text.size()));
  uLongf packed_len = packed.size();
  ASSERT_EQ(compress2(packed.data(), &packed_len, reinterpret_cast<const Bytef*>(text.data()),
                      text.size(), Z_BEST_COMPRESSION),
            Z_OK);
  EXPECT_LT(packed_len, text.size() / 10);
  std::string back(text.size(), '\0');
  uLongf back_len = back.size();
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(&back[0]), &back_len, packed.data(), packed_len), Z_OK);
  back.resize(back_len);
  EXPECT_EQ(back, text);
}

}  // namespace

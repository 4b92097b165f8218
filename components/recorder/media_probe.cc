#include "components/recorder/media_probe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>

namespace component {
namespace {

void appendAudio(const AVFrame* frame, std::vector<int16_t>* out) {
  const uint8_t* data = frame->data[0];
  const int channels = frame->ch_layout.nb_channels;
  const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame->format));
  const int step = planar ? 1 : channels;
  for (int i = 0; i < frame->nb_samples; ++i) {
    const int at = i * step;
    int32_t v = 0;
    switch (frame->format) {
      case AV_SAMPLE_FMT_FLT:
      case AV_SAMPLE_FMT_FLTP: {
        const float f = reinterpret_cast<const float*>(data)[at];
        v = static_cast<int32_t>(std::lrint(f * 32767.0f));
        break;
      }
      case AV_SAMPLE_FMT_S32:
      case AV_SAMPLE_FMT_S32P:
        v = reinterpret_cast<const int32_t*>(data)[at] >> 16;
        break;
      default:
        v = reinterpret_cast<const int16_t*>(data)[at];
        break;
    }
    if (v > 32767) v = 32767;
    if (v < -32768) v = -32768;
    out->push_back(static_cast<int16_t>(v));
  }
}

}  // namespace

MediaProbe probeMedia(const base::string16& path) {
  MediaProbe probe;
  const std::string utf8 = base::wideToUtf8(path);
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, utf8.c_str(), nullptr, nullptr) < 0) {
    probe.error = "cannot open " + utf8;
    return probe;
  }
  avformat_find_stream_info(format, nullptr);
  probe.opened = true;
  probe.format = format->iformat->name;
  AVCodecContext* decoders[16] = {nullptr};
  for (unsigned i = 0; i < format->nb_streams && i < 16; ++i) {
    AVStream* st = format->streams[i];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    const char* name = avcodec_get_name(st->codecpar->codec_id);
    if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      probe.videoCodec = name;
      probe.width = st->codecpar->width;
      probe.height = st->codecpar->height;
      if (st->avg_frame_rate.den) probe.frameRate = av_q2d(st->avg_frame_rate);
      else if (st->r_frame_rate.den) probe.frameRate = av_q2d(st->r_frame_rate);
    } else if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      probe.audioCodec = name;
      probe.sampleRate = st->codecpar->sample_rate;
      probe.channels = st->codecpar->ch_layout.nb_channels;
    }
    if (!codec) continue;
    decoders[i] = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoders[i], st->codecpar);
    if (avcodec_open2(decoders[i], codec, nullptr) < 0) avcodec_free_context(&decoders[i]);
  }
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto drain = [&](AVCodecContext* c) {
    while (avcodec_receive_frame(c, frame) >= 0) {
      if (c->codec_type == AVMEDIA_TYPE_VIDEO) {
        ++probe.videoFrames;
        const uint8_t* row = frame->data[0] + static_cast<size_t>(frame->linesize[0]) * (frame->height / 2);
        probe.middleRows.emplace_back(row, row + frame->width);
      } else {
        appendAudio(frame, &probe.audio);
      }
      av_frame_unref(frame);
    }
  };
  while (av_read_frame(format, packet) >= 0) {
    const int i = packet->stream_index;
    if (i < 16 && decoders[i] && avcodec_send_packet(decoders[i], packet) >= 0) drain(decoders[i]);
    av_packet_unref(packet);
  }
  for (unsigned i = 0; i < format->nb_streams && i < 16; ++i) {
    if (!decoders[i]) continue;
    avcodec_send_packet(decoders[i], nullptr);
    drain(decoders[i]);
    avcodec_free_context(&decoders[i]);
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avformat_close_input(&format);
  return probe;
}

double toneLevel(const int16_t* samples, size_t count, int sampleRate, double frequency) {
  if (count == 0) return 0;
  const double w = 2.0 * 3.14159265358979323846 * frequency / sampleRate;
  const double coeff = 2.0 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (size_t i = 0; i < count; ++i) {
    const double s0 = samples[i] / 32768.0 + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
  return 2.0 * std::sqrt(std::max(power, 0.0)) / count;
}

}  // namespace component

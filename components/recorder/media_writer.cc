#include "components/recorder/media_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/logging.h"
#include "components/recorder/media_file.h"

namespace component {
namespace {

constexpr int kIoBufferBytes = 64 * 1024;
// The muxer's file name: "ufile:" + the UTF-8 path, as it shows in the log.
constexpr size_t kMaxUrlBytes = 1024;

// --- the library's log -----------------------------------------------------

// Levels of FFmpeg's log (AV_LOG_*) mapped to ours; debug and chatter above
// verbose, and panic/quiet below fatal, are dropped.
bool libraryLevelToSeverity(int level, base::LogSeverity* severity) {
  if (level >= AV_LOG_DEBUG || level < AV_LOG_FATAL) return false;
  if (level >= AV_LOG_INFO) *severity = base::LOG_INFO;
  else if (level >= AV_LOG_WARNING) *severity = base::LOG_WARNING;
  else if (level >= AV_LOG_ERROR) *severity = base::LOG_ERROR;
  else *severity = base::LOG_FATAL;
  return true;
}

void libraryLog(void* avcl, int level, const char* format, va_list args) {
  base::LogSeverity severity;
  if (!libraryLevelToSeverity(level, &severity)) return;
  // The library writes lines in pieces; each thread gathers its own.
  thread_local std::string pending;
  thread_local int printPrefix = 1;
  char piece[1024];
  av_log_format_line2(avcl, level, format, args, piece, sizeof(piece), &printPrefix);
  pending += piece;
  size_t newline;
  while ((newline = pending.find('\n')) != std::string::npos) {
    std::string line = pending.substr(0, newline);
    pending.erase(0, newline + 1);
    if (!line.empty()) base::LogMessage("ffmpeg", 0, severity).stream() << line;
  }
  if (pending.size() > 4096) {
    base::LogMessage("ffmpeg", 0, severity).stream() << pending;
    pending.clear();
  }
}

std::string errorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(code, text, sizeof(text));
  return text;
}

int64_t periodUs(AVRational timeBase, int64_t fallbackUs) {
  if (timeBase.den == 0) return fallbackUs;
  // Whole milliseconds, as the pacing has always counted them.
  const int64_t ms = static_cast<int64_t>(static_cast<double>(timeBase.num) / timeBase.den * 1000.0);
  return ms > 0 ? ms * 1000 : fallbackUs;
}

}  // namespace

// One stream of the file and its encoder, in the manner of FFmpeg's muxing
// example: added, opened, written to and closed as a unit.
struct OutputStream {
  AVStream* stream = nullptr;
  AVCodecContext* codec = nullptr;
  AVFrame* frame = nullptr;  // the picture, or one codec frame of audio

  void close() {
    avcodec_free_context(&codec);
    av_frame_free(&frame);
  }
};

struct MediaWriter::State {
  MediaFile file;
  bool fileOpen = false;
  bool ioFailed = false;
  int ioErrno = 0;
  AVIOContext* io = nullptr;
  AVFormatContext* format = nullptr;
  bool headerWritten = false;
  bool finished = false;

  OutputStream video;
  SwsContext* scaler = nullptr;
  bool pictureReady = false;

  OutputStream audio;
  std::vector<int16_t> fifo;
  int audioFrameSize = 0;

  AVPacket* packet = nullptr;

  static int writeCallback(void* opaque, uint8_t* data, int size) {
    State* s = static_cast<State*>(opaque);
    if (s->ioFailed) return AVERROR(EIO);
    if (s->file.write(data, size) < 0) {
      s->ioFailed = true;
      s->ioErrno = s->file.error();
      return AVERROR(s->ioErrno ? s->ioErrno : EIO);
    }
    return size;
  }
  static int64_t seekCallback(void* opaque, int64_t offset, int whence) {
    State* s = static_cast<State*>(opaque);
    if (whence & AVSEEK_SIZE) return s->file.size();
    const int64_t at = s->file.seek(offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(s->file.error() ? s->file.error() : EIO) : at;
  }

  // Finds the encoder for `id` and adds its stream to the container.
  bool addStream(OutputStream* out, AVCodecID id) {
    const AVCodec* codec = avcodec_find_encoder(id);
    if (!codec) {
      LOG(ERROR) << "Codec not found";
      return false;
    }
    out->stream = avformat_new_stream(format, nullptr);
    out->codec = avcodec_alloc_context3(codec);
    if (!out->stream || !out->codec) {
      LOG(ERROR) << "Could not alloc stream";
      return false;
    }
    if (format->oformat->flags & AVFMT_GLOBALHEADER) out->codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    return true;
  }

  // Opens the encoder of `out` and hands its parameters to the stream.
  static bool openEncoder(OutputStream* out, const char* failure) {
    const int ret = avcodec_open2(out->codec, out->codec->codec, nullptr);
    if (ret < 0) {
      LOG(ERROR) << failure << " (" << errorText(ret) << ")";
      return false;
    }
    avcodec_parameters_from_context(out->stream->codecpar, out->codec);
    return true;
  }

  bool addVideoStream(int32_t width, int32_t height) {
    if (!addStream(&video, format->oformat->video_codec)) return false;
    AVCodecContext* c = video.codec;
    c->codec_type = AVMEDIA_TYPE_VIDEO;
    c->bit_rate = kVideoBitRate;
    // 4:2:0 pictures need even sizes; an odd line or column is cut off.
    c->width = std::max(2, width & ~1);
    c->height = std::max(2, height & ~1);
    c->time_base = AVRational{1, kFrameRate};
    c->framerate = AVRational{kFrameRate, 1};
    c->gop_size = kGopSize;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    if (c->codec->id == AV_CODEC_ID_MPEG1VIDEO) c->mb_decision = 2;
    c->max_qdiff = 3;
    // Further tuning: a moderate quantiser range, no B-frames (AVI keeps
    // decode order), the usual rate-control blur and compression.
    c->qmin = 2;
    c->qmax = 31;
    c->qcompress = 0.5f;
    c->qblur = 0.5f;
    c->max_b_frames = 0;
    av_opt_set(c->priv_data, "rc_eq", "tex^qComp", 0);
    av_opt_set(c->priv_data, "motion_est", "epzs", 0);
    video.stream->time_base = c->time_base;
    return true;
  }

  bool addAudioStream() {
    if (!addStream(&audio, format->oformat->audio_codec)) return false;
    AVCodecContext* c = audio.codec;
    const AVCodec* codec = c->codec;
    c->codec_type = AVMEDIA_TYPE_AUDIO;
    c->bit_rate = kAudioBitRate;
    c->sample_rate = kSampleRate;
    av_channel_layout_default(&c->ch_layout, 1);
    // Our samples are 16-bit mono; the encoder takes what it can, 16-bit
    // first (planar and packed are the same thing for one channel).
    c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    for (const AVSampleFormat* f = codec->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; ++f) {
      if (*f == AV_SAMPLE_FMT_S16 || *f == AV_SAMPLE_FMT_S16P) c->sample_fmt = *f;
    }
    c->time_base = AVRational{1, kSampleRate};
    audio.stream->time_base = c->time_base;
    return true;
  }

  bool openVideo() {
    if (!openEncoder(&video, "could not open codec")) return false;
    video.frame = av_frame_alloc();
    if (!video.frame) {
      LOG(ERROR) << "Could not allocate picture";
      return false;
    }
    video.frame->format = video.codec->pix_fmt;
    video.frame->width = video.codec->width;
    video.frame->height = video.codec->height;
    if (av_frame_get_buffer(video.frame, 0) < 0) {
      LOG(ERROR) << "Could not allocate picture";
      return false;
    }
    return true;
  }

  bool openAudio() {
    if (!openEncoder(&audio, "Could not open codec")) return false;
    audioFrameSize = audio.codec->frame_size > 0 ? audio.codec->frame_size : 1152;
    audio.frame = av_frame_alloc();
    if (!audio.frame) {
      LOG(FATAL) << "Check failed: audio_outbuf_ != NULL. Can't allocate buffer to hold encoded audio";
      return false;
    }
    audio.frame->format = audio.codec->sample_fmt;
    audio.frame->nb_samples = audioFrameSize;
    audio.frame->sample_rate = kSampleRate;
    av_channel_layout_copy(&audio.frame->ch_layout, &audio.codec->ch_layout);
    if (av_frame_get_buffer(audio.frame, 0) < 0) {
      LOG(FATAL) << "Check failed: audio_fifo_outbuf_ != NULL. Can't allocate buffer to read into from audio FIFO";
      return false;
    }
    fifo.reserve(static_cast<size_t>(audioFrameSize) * 4);
    return true;
  }

  // Opens the path through our own I/O context, unless the format writes
  // no file.
  bool openFile(const base::string16& path, const std::string& utf8) {
    if (format->oformat->flags & AVFMT_NOFILE) return true;
    if (!file.open(path)) {
      LOG(ERROR) << "Could not open '" << utf8 << "' (" << std::strerror(file.error()) << ")";
      return false;
    }
    fileOpen = true;
    uint8_t* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
    io = avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr, &State::writeCallback, &State::seekCallback);
    if (!io) {
      av_free(buffer);
      LOG(ERROR) << "Could not open '" << utf8 << "'";
      return false;
    }
    format->pb = io;
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    return true;
  }

  // Sends `frame` (null: flush) to the encoder of `out` and writes what
  // comes out. False when a packet could not be written.
  bool encode(OutputStream* out, AVFrame* frame, const char* writeError) {
    AVCodecContext* codec = out->codec;
    int ret = avcodec_send_frame(codec, frame);
    if (ret < 0 && ret != AVERROR_EOF) {
      LOG(ERROR) << "Encoding failed: " << errorText(ret);
      return true;
    }
    while (true) {
      ret = avcodec_receive_packet(codec, packet);
      if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return true;
      if (ret < 0) {
        LOG(ERROR) << "Encoding failed: " << errorText(ret);
        return true;
      }
      av_packet_rescale_ts(packet, codec->time_base, out->stream->time_base);
      packet->stream_index = out->stream->index;
      ret = av_interleaved_write_frame(format, packet);
      if (ret < 0) {
        LOG(ERROR) << writeError;
        return false;
      }
    }
  }
};

MediaWriter::MediaWriter() : s_(std::make_unique<State>()) {}

MediaWriter::~MediaWriter() { finish(); }

void MediaWriter::routeLibraryLog() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(libraryLog); });
}

bool MediaWriter::open(const base::string16& path, int32_t width, int32_t height) {
  routeLibraryLog();
  finish();
  s_ = std::make_unique<State>();
  videoFrames_ = 0;
  audioSamples_ = 0;
  State& s = *s_;

  const std::string utf8 = base::wideToUtf8(path);
  if (width <= 0 || height <= 0) {
    // No frame has come yet, so there is no picture size to record at.
    LOG(ERROR) << "could not open codec (no picture size: " << width << "x" << height << ")";
    return false;
  }
  const AVOutputFormat* format = av_guess_format(nullptr, utf8.c_str(), nullptr);
  if (!format) format = av_guess_format("avi", nullptr, nullptr);
  if (!format) {
    LOG(ERROR) << "Could not find suitable output format";
    return false;
  }
  if (avformat_alloc_output_context2(&s.format, format, nullptr, nullptr) < 0 || !s.format) {
    LOG(ERROR) << "Could not allocate format context. Memory error???";
    return false;
  }
  std::string url = "ufile:" + utf8;
  if (url.size() > kMaxUrlBytes) url.resize(kMaxUrlBytes);
  s.format->url = av_strdup(url.c_str());
  s.packet = av_packet_alloc();

  const bool withVideo = format->video_codec != AV_CODEC_ID_NONE;
  const bool withAudio = format->audio_codec != AV_CODEC_ID_NONE;
  if (withVideo && !s.addVideoStream(width, height)) return false;
  if (withAudio && !s.addAudioStream()) return false;
  if (withVideo && !s.openVideo()) return false;
  if (withAudio && !s.openAudio()) return false;

  av_dump_format(s.format, 0, s.format->url, 1);

  if (!s.openFile(path, utf8)) return false;
  int ret = avformat_write_header(s.format, nullptr);
  if (ret < 0) {
    LOG(ERROR) << "Invalid output format parameters (" << errorText(ret) << ")";
    return false;
  }
  s.headerWritten = true;
  return true;
}

bool MediaWriter::hasVideo() const { return s_->video.codec != nullptr; }
bool MediaWriter::hasAudio() const { return s_->audio.codec != nullptr; }

int64_t MediaWriter::videoPeriodUs() const {
  return s_->video.stream ? periodUs(s_->video.stream->time_base, 40000) : 40000;
}

int64_t MediaWriter::audioPeriodUs() const {
  return s_->audio.stream ? periodUs(s_->audio.stream->time_base, 10000) : 10000;
}

bool MediaWriter::convert(const VideoFrame& frame) {
  State& s = *s_;
  AVCodecContext* video = s.video.codec;
  if (!video || frame.width <= 0 || frame.height <= 0) return false;
  AVPixelFormat source;
  int bytesPerPixel;
  switch (frame.pixel_format) {
    case kPixelFormat_24RGB:
      source = AV_PIX_FMT_BGR24;
      bytesPerPixel = 3;
      break;
    case kPixelFormat_RGBX:
      source = AV_PIX_FMT_RGBA;
      bytesPerPixel = 4;
      break;
    case kPixelFormat_XRGB:
      source = AV_PIX_FMT_ARGB;
      bytesPerPixel = 4;
      break;
    default:
      return false;
  }
  const int stride = frame.stride != 0 ? frame.stride : frame.width * bytesPerPixel;
  if (stride < frame.width * bytesPerPixel ||
      frame.data.size() < static_cast<size_t>(stride) * static_cast<size_t>(frame.height - 1) +
                              static_cast<size_t>(frame.width) * bytesPerPixel) {
    LOG(WARNING) << "A " << frame.width << "x" << frame.height << " frame with " << frame.data.size()
                 << " bytes is too short; skipped";
    return false;
  }
  s.scaler = sws_getCachedContext(s.scaler, frame.width, frame.height, source, video->width, video->height,
                                  video->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!s.scaler) {
    LOG(ERROR) << "Cannot initialize the conversion context";
    return false;
  }
  AVFrame* picture = s.video.frame;
  if (av_frame_make_writable(picture) < 0) return false;
  const uint8_t* planes[1] = {frame.data.data()};
  const int strides[1] = {stride};
  sws_scale(s.scaler, planes, strides, 0, frame.height, picture->data, picture->linesize);
  s.pictureReady = true;
  return true;
}

void MediaWriter::writeVideoFrame() {
  State& s = *s_;
  if (!s.video.codec || !s.headerWritten || s.finished || s.ioFailed) return;
  AVFrame* picture = s.video.frame;
  if (!s.pictureReady) {
    // Nothing converted yet: a black picture.
    av_frame_make_writable(picture);
    for (int plane = 0; plane < 3; ++plane) {
      const int h = plane == 0 ? picture->height : (picture->height + 1) / 2;
      std::memset(picture->data[plane], plane == 0 ? 16 : 128, static_cast<size_t>(picture->linesize[plane]) * h);
    }
    s.pictureReady = true;
  }
  // The encoder may still hold the picture of the last call.
  if (av_frame_make_writable(picture) < 0) return;
  picture->pts = videoFrames_++;
  s.encode(&s.video, picture, "Error while writing video frame");
}

namespace {

// Our 16-bit samples in the encoder's sample format.
void fillAudioFrame(AVFrame* frame, AVSampleFormat format, const int16_t* in, size_t count) {
  uint8_t* out = frame->data[0];
  switch (format) {
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
      for (size_t i = 0; i < count; ++i) reinterpret_cast<float*>(out)[i] = in[i] / 32768.0f;
      break;
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P:
      for (size_t i = 0; i < count; ++i) reinterpret_cast<int32_t*>(out)[i] = static_cast<int32_t>(in[i]) * 65536;
      break;
    default:
      std::memcpy(out, in, count * sizeof(int16_t));
      break;
  }
}

}  // namespace

void MediaWriter::writeAudio(const int16_t* samples, size_t count) {
  State& s = *s_;
  if (!s.audio.codec || !s.headerWritten || s.finished || s.ioFailed) return;
  s.fifo.insert(s.fifo.end(), samples, samples + count);
  const size_t frameSize = static_cast<size_t>(s.audioFrameSize);
  size_t taken = 0;
  while (s.fifo.size() - taken >= frameSize && !s.ioFailed) {
    if (av_frame_make_writable(s.audio.frame) < 0) break;
    const int16_t* frame = s.fifo.data() + taken;
    taken += frameSize;
    if (!encodeAudioFrame(frame, frameSize)) break;
  }
  s.fifo.erase(s.fifo.begin(), s.fifo.begin() + static_cast<std::ptrdiff_t>(taken));
}

bool MediaWriter::encodeAudioFrame(const int16_t* samples, size_t count) {
  State& s = *s_;
  AVFrame* frame = s.audio.frame;
  if (av_frame_make_writable(frame) < 0) return false;
  frame->nb_samples = static_cast<int>(count);
  fillAudioFrame(frame, s.audio.codec->sample_fmt, samples, count);
  frame->pts = audioSamples_;
  audioSamples_ += static_cast<int64_t>(count);
  return s.encode(&s.audio, frame, "Error while writing audio frame");
}

void MediaWriter::flushAudio() {
  State& s = *s_;
  LOG(INFO) << "Flush audio buffers";
  // The tail shorter than a codec frame: as one short frame where the
  // encoder takes that, else padded with silence to a whole frame, so the
  // end of the recording is never cut off.
  if (!s.fifo.empty() && !s.ioFailed) {
    const int capabilities = s.audio.codec->codec->capabilities;
    size_t count = s.fifo.size();
    if (!(capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE))) {
      count = static_cast<size_t>(s.audioFrameSize);
      s.fifo.resize(count, 0);
    }
    encodeAudioFrame(s.fifo.data(), count);
    s.fifo.clear();
  }
  if (!s.ioFailed) s.encode(&s.audio, nullptr, "Error while writing audio frame");
}

void MediaWriter::finish() {
  if (!s_) return;
  State& s = *s_;
  if (s.finished) return;
  s.finished = true;
  if (s.format) LOG(INFO) << "Releasing...";
  if (s.headerWritten) {
    if (s.audio.codec) flushAudio();
    if (s.video.codec) {
      LOG(INFO) << "Flush video buffers";
      if (!s.ioFailed) s.encode(&s.video, nullptr, "Error while writing video frame");
    }
    const int ret = av_write_trailer(s.format);
    if (ret < 0 || s.ioFailed) LOG(ERROR) << "Could not finish the file: " << (s.ioFailed ? ioError() : errorText(ret));
  }
  if (s.io) avio_flush(s.io);
  s.video.close();
  s.audio.close();
  av_packet_free(&s.packet);
  sws_freeContext(s.scaler);
  s.scaler = nullptr;
  std::vector<int16_t>().swap(s.fifo);
  if (s.format) {
    avformat_free_context(s.format);
    s.format = nullptr;
  }
  if (s.io) {
    av_freep(&s.io->buffer);
    avio_context_free(&s.io);
  }
  s.file.close();
}

bool MediaWriter::ioFailed() const { return s_->ioFailed; }

std::string MediaWriter::ioError() const {
  return s_->ioErrno ? std::strerror(s_->ioErrno) : std::string("write error");
}

std::string MediaWriter::videoCodecName() const { return s_->video.codec ? s_->video.codec->codec->name : ""; }
std::string MediaWriter::audioCodecName() const { return s_->audio.codec ? s_->audio.codec->codec->name : ""; }

}  // namespace component

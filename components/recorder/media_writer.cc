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

struct MediaWriter::State {
  MediaFile file;
  bool fileOpen = false;
  bool ioFailed = false;
  int ioErrno = 0;
  AVIOContext* io = nullptr;
  AVFormatContext* format = nullptr;
  bool headerWritten = false;
  bool finished = false;

  AVStream* videoStream = nullptr;
  AVCodecContext* video = nullptr;
  AVFrame* picture = nullptr;
  SwsContext* scaler = nullptr;
  bool pictureReady = false;

  AVStream* audioStream = nullptr;
  AVCodecContext* audio = nullptr;
  AVFrame* audioFrame = nullptr;
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

  // Sends `frame` (null: flush) to `codec` and writes what comes out.
  // False when a packet could not be written.
  bool encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame, const char* writeError) {
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
      av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
      packet->stream_index = stream->index;
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

  const bool globalHeader = (format->flags & AVFMT_GLOBALHEADER) != 0;
  if (format->video_codec != AV_CODEC_ID_NONE) {
    const AVCodec* codec = avcodec_find_encoder(format->video_codec);
    if (!codec) {
      LOG(ERROR) << "Codec not found";
      return false;
    }
    s.videoStream = avformat_new_stream(s.format, nullptr);
    s.video = avcodec_alloc_context3(codec);
    if (!s.videoStream || !s.video) {
      LOG(ERROR) << "Could not alloc stream";
      return false;
    }
    AVCodecContext* c = s.video;
    c->codec_type = AVMEDIA_TYPE_VIDEO;
    c->bit_rate = kVideoBitRate;
    // 4:2:0 pictures need even sizes; an odd line or column is cut off.
    c->width = std::max(2, width & ~1);
    c->height = std::max(2, height & ~1);
    c->time_base = AVRational{1, kFrameRate};
    c->framerate = AVRational{kFrameRate, 1};
    c->gop_size = kGopSize;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    if (codec->id == AV_CODEC_ID_MPEG1VIDEO) c->mb_decision = 2;
    if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
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
    s.videoStream->time_base = c->time_base;
  }
  if (format->audio_codec != AV_CODEC_ID_NONE) {
    const AVCodec* codec = avcodec_find_encoder(format->audio_codec);
    if (!codec) {
      LOG(ERROR) << "Codec not found";
      return false;
    }
    s.audioStream = avformat_new_stream(s.format, nullptr);
    s.audio = avcodec_alloc_context3(codec);
    if (!s.audioStream || !s.audio) {
      LOG(ERROR) << "Could not alloc stream";
      return false;
    }
    AVCodecContext* c = s.audio;
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
    if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    s.audioStream->time_base = c->time_base;
  }

  // Video codec.
  if (s.video) {
    int ret = avcodec_open2(s.video, s.video->codec, nullptr);
    if (ret < 0) {
      LOG(ERROR) << "could not open codec (" << errorText(ret) << ")";
      return false;
    }
    avcodec_parameters_from_context(s.videoStream->codecpar, s.video);
    s.picture = av_frame_alloc();
    if (!s.picture) {
      LOG(ERROR) << "Could not allocate picture";
      return false;
    }
    s.picture->format = s.video->pix_fmt;
    s.picture->width = s.video->width;
    s.picture->height = s.video->height;
    if (av_frame_get_buffer(s.picture, 0) < 0) {
      LOG(ERROR) << "Could not allocate picture";
      return false;
    }
  }
  // Audio codec.
  if (s.audio) {
    int ret = avcodec_open2(s.audio, s.audio->codec, nullptr);
    if (ret < 0) {
      LOG(ERROR) << "Could not open codec (" << errorText(ret) << ")";
      return false;
    }
    avcodec_parameters_from_context(s.audioStream->codecpar, s.audio);
    s.audioFrameSize = s.audio->frame_size > 0 ? s.audio->frame_size : 1152;
    s.audioFrame = av_frame_alloc();
    if (!s.audioFrame) {
      LOG(FATAL) << "Check failed: audio_outbuf_ != NULL. Can't allocate buffer to hold encoded audio";
      return false;
    }
    s.audioFrame->format = s.audio->sample_fmt;
    s.audioFrame->nb_samples = s.audioFrameSize;
    s.audioFrame->sample_rate = kSampleRate;
    av_channel_layout_copy(&s.audioFrame->ch_layout, &s.audio->ch_layout);
    if (av_frame_get_buffer(s.audioFrame, 0) < 0) {
      LOG(FATAL) << "Check failed: audio_fifo_outbuf_ != NULL. Can't allocate buffer to read into from audio FIFO";
      return false;
    }
    s.fifo.reserve(static_cast<size_t>(s.audioFrameSize) * 4);
  }

  av_dump_format(s.format, 0, s.format->url, 1);

  if (!(format->flags & AVFMT_NOFILE)) {
    if (!s.file.open(path)) {
      LOG(ERROR) << "Could not open '" << utf8 << "' (" << std::strerror(s.file.error()) << ")";
      return false;
    }
    s.fileOpen = true;
    uint8_t* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
    s.io = avio_alloc_context(buffer, kIoBufferBytes, 1, &s, nullptr, &State::writeCallback, &State::seekCallback);
    if (!s.io) {
      av_free(buffer);
      LOG(ERROR) << "Could not open '" << utf8 << "'";
      return false;
    }
    s.format->pb = s.io;
    s.format->flags |= AVFMT_FLAG_CUSTOM_IO;
  }
  int ret = avformat_write_header(s.format, nullptr);
  if (ret < 0) {
    LOG(ERROR) << "Invalid output format parameters (" << errorText(ret) << ")";
    return false;
  }
  s.headerWritten = true;
  return true;
}

bool MediaWriter::hasVideo() const { return s_->video != nullptr; }
bool MediaWriter::hasAudio() const { return s_->audio != nullptr; }

int64_t MediaWriter::videoPeriodUs() const {
  return s_->videoStream ? periodUs(s_->videoStream->time_base, 40000) : 40000;
}

int64_t MediaWriter::audioPeriodUs() const {
  return s_->audioStream ? periodUs(s_->audioStream->time_base, 10000) : 10000;
}

bool MediaWriter::convert(const VideoFrame& frame) {
  State& s = *s_;
  if (!s.video || frame.width <= 0 || frame.height <= 0) return false;
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
  s.scaler = sws_getCachedContext(s.scaler, frame.width, frame.height, source, s.video->width, s.video->height,
                                  s.video->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!s.scaler) {
    LOG(ERROR) << "Cannot initialize the conversion context";
    return false;
  }
  if (av_frame_make_writable(s.picture) < 0) return false;
  const uint8_t* planes[1] = {frame.data.data()};
  const int strides[1] = {stride};
  sws_scale(s.scaler, planes, strides, 0, frame.height, s.picture->data, s.picture->linesize);
  s.pictureReady = true;
  return true;
}

void MediaWriter::writeVideoFrame() {
  State& s = *s_;
  if (!s.video || !s.headerWritten || s.finished || s.ioFailed) return;
  if (!s.pictureReady) {
    // Nothing converted yet: a black picture.
    av_frame_make_writable(s.picture);
    for (int plane = 0; plane < 3; ++plane) {
      const int h = plane == 0 ? s.picture->height : (s.picture->height + 1) / 2;
      std::memset(s.picture->data[plane], plane == 0 ? 16 : 128, static_cast<size_t>(s.picture->linesize[plane]) * h);
    }
    s.pictureReady = true;
  }
  // The encoder may still hold the picture of the last call.
  if (av_frame_make_writable(s.picture) < 0) return;
  s.picture->pts = videoFrames_++;
  s.encode(s.video, s.videoStream, s.picture, "Error while writing video frame");
}

void MediaWriter::writeAudio(const int16_t* samples, size_t count) {
  State& s = *s_;
  if (!s.audio || !s.headerWritten || s.finished || s.ioFailed) return;
  s.fifo.insert(s.fifo.end(), samples, samples + count);
  const size_t frameSize = static_cast<size_t>(s.audioFrameSize);
  size_t taken = 0;
  while (s.fifo.size() - taken >= frameSize && !s.ioFailed) {
    if (av_frame_make_writable(s.audioFrame) < 0) break;
    s.audioFrame->nb_samples = s.audioFrameSize;
    const int16_t* in = s.fifo.data() + taken;
    uint8_t* out = s.audioFrame->data[0];
    switch (s.audio->sample_fmt) {
      case AV_SAMPLE_FMT_FLT:
      case AV_SAMPLE_FMT_FLTP:
        for (size_t i = 0; i < frameSize; ++i) reinterpret_cast<float*>(out)[i] = in[i] / 32768.0f;
        break;
      case AV_SAMPLE_FMT_S32:
      case AV_SAMPLE_FMT_S32P:
        for (size_t i = 0; i < frameSize; ++i) reinterpret_cast<int32_t*>(out)[i] = static_cast<int32_t>(in[i]) * 65536;
        break;
      default:
        std::memcpy(out, in, frameSize * sizeof(int16_t));
        break;
    }
    s.audioFrame->pts = audioSamples_;
    audioSamples_ += s.audioFrameSize;
    taken += frameSize;
    if (!s.encode(s.audio, s.audioStream, s.audioFrame, "Error while writing audio frame")) break;
  }
  s.fifo.erase(s.fifo.begin(), s.fifo.begin() + static_cast<std::ptrdiff_t>(taken));
}

void MediaWriter::finish() {
  if (!s_) return;
  State& s = *s_;
  if (s.finished) return;
  s.finished = true;
  if (s.format) LOG(INFO) << "Releasing...";
  if (s.headerWritten) {
    if (s.audio) {
      LOG(INFO) << "Flush audio buffers";
      if (!s.fifo.empty() && (s.audio->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) {
        const size_t rest = s.fifo.size();
        s.audioFrameSize = static_cast<int>(rest);
        s.finished = false;
        writeAudio(nullptr, 0);
        s.finished = true;
      }
      if (!s.ioFailed) s.encode(s.audio, s.audioStream, nullptr, "Error while writing audio frame");
    }
    if (s.video) {
      LOG(INFO) << "Flush video buffers";
      if (!s.ioFailed) s.encode(s.video, s.videoStream, nullptr, "Error while writing video frame");
    }
    const int ret = av_write_trailer(s.format);
    if (ret < 0 || s.ioFailed) LOG(ERROR) << "Could not finish the file: " << (s.ioFailed ? ioError() : errorText(ret));
  }
  if (s.io) avio_flush(s.io);
  avcodec_free_context(&s.video);
  avcodec_free_context(&s.audio);
  av_frame_free(&s.picture);
  av_frame_free(&s.audioFrame);
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

std::string MediaWriter::videoCodecName() const { return s_->video ? s_->video->codec->name : ""; }
std::string MediaWriter::audioCodecName() const { return s_->audio ? s_->audio->codec->name : ""; }

}  // namespace component

#include "components/recorder/ff_video_file.h"

#include <algorithm>
#include <limits>

#include "base/logging.h"

namespace component {

void mixSaturating(const int16_t* a, const int16_t* b, int16_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const int32_t sum = static_cast<int32_t>(a[i]) + b[i];
    out[i] = static_cast<int16_t>(std::min<int32_t>(std::max<int32_t>(sum, std::numeric_limits<int16_t>::min()),
                                                    std::numeric_limits<int16_t>::max()));
  }
}

namespace {

// Copies what the recording uses of a picture into `to`, whose buffer is
// kept from picture to picture.
void copyPicture(const VideoFrame& from, VideoFrame* to) {
  to->width = from.width;
  to->height = from.height;
  to->key_frame = from.key_frame;
  to->pixel_format = from.pixel_format;
  to->data.assign(from.data.begin(), from.data.end());
  to->flags = from.flags;
  to->stride = from.stride;
  to->timestamp = from.timestamp;
}

}  // namespace

FFVideoFile::FFVideoFile(AudioClock* clock) : clock_(clock ? clock : AudioClock::system()) {}

FFVideoFile::~FFVideoFile() { stop(); }

bool FFVideoFile::start(const base::string16& path, int32_t width, int32_t height) {
  if (recording_) return false;
  LOG(INFO) << "Start recording. Frame: " << width << "x" << height << "\nPath: " << base::wideToUtf8(path);
  {
    // Black until the first frame comes.
    std::lock_guard<std::mutex> lock(frameLock_);
    latest_ = VideoFrame();
    if (width > 0 && height > 0) {
      latest_.width = width;
      latest_.height = height;
      latest_.pixel_format = kPixelFormat_24RGB;
      latest_.stride = width * 3;
      latest_.data.assign(static_cast<size_t>(width) * height * 3, 0);
    }
    ++generation_;
  }
  workingGeneration_ = 0;
  badFormatRun_ = false;
  unknownFormatFrames_ = 0;
  LOG(INFO) << "Initializing...";
  // The recording covers the time from this request on: slots that fall
  // due while the file is being prepared are written by the first pass.
  startUs_ = clock_->nowUs();
  if (!writer_.open(path, width, height)) {
    writer_.finish();
    return false;
  }
  phoneAudio_.Setup();
  pcAudio_.Setup();
  phoneCursor_.reset();
  pcCursor_.reset();
  stopFlag_ = false;
  writeFailed_ = false;
  elapsedUs_ = 0;
  videoFrames_ = 0;
  audioSamples_ = 0;
  // Frames and audio are taken from here on, also those that arrive
  // while the thread is starting.
  recording_ = true;
  if (!base::PlatformThread::create(this, &thread_)) {
    LOG(ERROR) << "Could not start the capture thread";
    recording_ = false;
    writer_.finish();
    return false;
  }
  return true;
}

void FFVideoFile::stop() {
  if (!recording_ && !thread_.joinable()) return;
  LOG(INFO) << "Stop recording";
  recording_ = false;
  stopFlag_ = true;
  thread_.join();
  writer_.finish();
  videoFrames_ = writer_.videoFramesWritten();
  audioSamples_ = writer_.audioSamplesWritten();
}

void FFVideoFile::OnVideoFrame(VideoComponent*, const VideoFrame& frame) {
  if (!recording_) return;
  std::lock_guard<std::mutex> lock(frameLock_);
  copyPicture(frame, &latest_);
  ++generation_;
}

void FFVideoFile::WantedPictureSize(int32_t width, int32_t height, int32_t* wantedWidth, int32_t* wantedHeight) {
  const bool wanted = recording_.load();
  *wantedWidth = wanted ? width : 0;
  *wantedHeight = wanted ? height : 0;
}

void FFVideoFile::OnAudioPacket(AudioComponent*, const AudioPacketData& packet) {
  if (!recording_ || packet.timestamp < 0) return;
  const size_t samples = packet.data.size() / 2;
  if (samples == 0) return;
  if (samples > kMaxPacketSamples) {
    LOG(WARNING) << "An audio packet of " << samples << " samples is too large to record";
    return;
  }
  SampleRing& ring = packet.origin != kAudioOriginPC ? phoneAudio_ : pcAudio_;
  ring.Write(reinterpret_cast<const int16_t*>(packet.data.data()), samples, static_cast<uint64_t>(packet.timestamp));
}

void FFVideoFile::threadMain() {
  LOG(INFO) << "Capture thread started";
  const int64_t videoPeriod = writer_.videoPeriodUs();
  const int64_t audioPeriod = writer_.audioPeriodUs();
  // Bytes per chunk = period in ms x 96: 48 samples a millisecond.
  const size_t chunkSamples = static_cast<size_t>(audioPeriod / 1000) * (MediaWriter::kSampleRate / 1000);
  phoneChunk_.assign(chunkSamples, 0);
  pcChunk_.assign(chunkSamples, 0);
  mixChunk_.assign(chunkSamples, 0);
  const int64_t start = startUs_;
  int64_t nextVideo = start;
  int64_t nextAudio = start;
  while (true) {
    // After the stop request one more pass: the file covers the recording
    // up to the stop even when this thread got no time just before it.
    const bool stopping = stopFlag_;
    if (!stopping) clock_->sleepMs(kPollMs);
    const int64_t now = clock_->nowUs();
    elapsedUs_ = now - start;
    if (writer_.hasVideo() && nextVideo - now <= 1000) {
      const int64_t n = std::max<int64_t>(1, (now - nextVideo) / videoPeriod);
      for (int64_t i = 0; i < n; ++i) {
        writeVideoFrame();
        nextVideo += videoPeriod;
      }
    }
    if (writer_.hasAudio() && now - nextAudio > audioPeriod) {
      const int64_t n = std::max<int64_t>(1, (now - nextAudio) / audioPeriod);
      for (int64_t i = 0; i < n; ++i) {
        const uint64_t position = static_cast<uint64_t>(nextAudio - start) * MediaWriter::kSampleRate / 1000000;
        writeAudioChunk(position, chunkSamples);
        nextAudio += audioPeriod;
      }
    }
    if (writer_.ioFailed()) {
      LOG(ERROR) << "Recording stopped: the file could not be written (" << writer_.ioError() << ")";
      writeFailed_ = true;
      break;
    }
    if (stopping) break;
  }
  LOG(INFO) << "Capture thread stopped";
}

void FFVideoFile::writeVideoFrame() {
  uint64_t generation;
  {
    std::lock_guard<std::mutex> lock(frameLock_);
    generation = generation_;
    if (generation != workingGeneration_) {
      copyPicture(latest_, &working_);
    }
  }
  if (generation != workingGeneration_) {
    workingGeneration_ = generation;
    const uint32_t format = working_.pixel_format;
    if (format != kPixelFormat_24RGB && format != kPixelFormat_RGBX && format != kPixelFormat_XRGB) {
      // The slot keeps the last picture we could convert.
      ++unknownFormatFrames_;
      if (!badFormatRun_) LOG(ERROR) << "Unknown pixel format";
      badFormatRun_ = true;
    } else {
      badFormatRun_ = false;
      writer_.convert(working_);
    }
  }
  writer_.writeVideoFrame();
}

void FFVideoFile::writeAudioChunk(uint64_t position, size_t samples) {
  phoneCursor_.read(phoneAudio_, phoneChunk_.data(), samples, position);
  pcCursor_.read(pcAudio_, pcChunk_.data(), samples, position);
  mixSaturating(phoneChunk_.data(), pcChunk_.data(), mixChunk_.data(), samples);
  writer_.writeAudio(mixChunk_.data(), samples);
}

}  // namespace component

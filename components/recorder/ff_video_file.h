// FFVideoFile: records what the phone sends into a video file: the picture
// at a constant 25 frames per second (the latest frame repeated when the
// phone sends fewer, frames left out when it sends more) and one mono track
// that mixes both directions of the call. The observers only copy data in;
// a capture thread of its own paces the encoding and writing.
//
// Thread: start(), stop() and the audio observer on the user-interface
// thread; the video observer on the thread that runs the transport (the
// same one here); elapsedUs() and the flags from any thread.
#ifndef COMPONENTS_RECORDER_FF_VIDEO_FILE_H_
#define COMPONENTS_RECORDER_FF_VIDEO_FILE_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/platform_thread.h"
#include "base/string_util.h"
#include "components/audio/audio_clock.h"
#include "components/audio/audio_component.h"
#include "components/audio/sample_ring.h"
#include "components/recorder/audio_cursor.h"
#include "components/recorder/media_writer.h"
#include "components/video/video_component.h"

namespace component {

class FFVideoFile : public VideoComponent::Observer,
                    public AudioComponent::Observer,
                    private base::PlatformThread::Delegate {
 public:
  // The capture thread looks at the clock this often.
  static constexpr unsigned kPollMs = 2;
  // Larger audio packets are refused.
  static constexpr size_t kMaxPacketSamples = 65536;

  // `clock` (not owned; null: the system clock) paces the capture thread.
  explicit FFVideoFile(AudioClock* clock = nullptr);
  ~FFVideoFile() override;
  FFVideoFile(const FFVideoFile&) = delete;
  FFVideoFile& operator=(const FFVideoFile&) = delete;

  // Opens `path` for a `width` x `height` picture and starts the capture
  // thread. False, with log lines, when the file could not be prepared.
  bool start(const base::string16& path, int32_t width, int32_t height);
  // Ends the capture thread and finishes the file (trailer included). Does
  // nothing when not recording.
  void stop();
  bool recording() const { return recording_.load(); }
  // Microseconds since the recording was asked for (start()).
  int64_t elapsedUs() const { return elapsedUs_.load(); }
  // The file could not be written any more: the capture thread has ended;
  // the owner should stop() the recording.
  bool writeFailed() const { return writeFailed_.load(); }

  // VideoComponent::Observer
  void OnVideoFrame(VideoComponent* component, const VideoFrame& frame) override;
  // The whole picture while recording; no pixels otherwise.
  void WantedPictureSize(int32_t width, int32_t height, int32_t* wantedWidth, int32_t* wantedHeight) override;
  // AudioComponent::Observer
  void OnAudioPacket(AudioComponent* component, const AudioPacketData& packet) override;

  // What the last recording wrote (read after stop()).
  int64_t videoFramesWritten() const { return videoFrames_; }
  int64_t audioSamplesWritten() const { return audioSamples_; }
  // Frames left out because their pixel format is not one we convert.
  int64_t unknownFormatFrames() const { return unknownFormatFrames_.load(); }

 private:
  void threadMain() override;
  void writeVideoFrame();
  void writeAudioChunk(uint64_t position, size_t samples);

  AudioClock* clock_;
  MediaWriter writer_;
  base::PlatformThread::Handle thread_;
  std::atomic<bool> recording_{false};
  std::atomic<bool> stopFlag_{false};
  std::atomic<bool> writeFailed_{false};
  std::atomic<int64_t> elapsedUs_{0};
  int64_t startUs_ = 0;

  // The latest frame, written by the video observer, read by the capture
  // thread; `generation_` tells the thread whether it is new.
  std::mutex frameLock_;
  VideoFrame latest_;
  uint64_t generation_ = 0;
  // The capture thread's own copy.
  VideoFrame working_;
  uint64_t workingGeneration_ = 0;
  bool badFormatRun_ = false;
  std::atomic<int64_t> unknownFormatFrames_{0};

  // The phone's audio and the PC's, each read through its cursor.
  SampleRing phoneAudio_;
  SampleRing pcAudio_;
  AudioCursor phoneCursor_;
  AudioCursor pcCursor_;
  std::vector<int16_t> phoneChunk_;
  std::vector<int16_t> pcChunk_;
  std::vector<int16_t> mixChunk_;

  int64_t videoFrames_ = 0;
  int64_t audioSamples_ = 0;
};

// Adds two directions sample by sample, clamped to the 16-bit range.
void mixSaturating(const int16_t* a, const int16_t* b, int16_t* out, size_t count);

}  // namespace component

#endif  // COMPONENTS_RECORDER_FF_VIDEO_FILE_H_

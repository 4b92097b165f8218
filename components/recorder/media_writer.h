// MediaWriter: the FFmpeg side of a recording. Opens a container guessed
// from the file name (AVI when the name says nothing), adds the format's
// default video and audio codecs, encodes pictures at a fixed 25 frames per
// second and 48 kHz mono audio, interleaves the packets and finishes the
// file with its trailer. The file is written through our own I/O context
// over MediaFile, so any path the system accepts works.
//
// Thread: one thread at a time (opened and finished by the recorder's
// owner, written by its capture thread in between).
#ifndef COMPONENTS_RECORDER_MEDIA_WRITER_H_
#define COMPONENTS_RECORDER_MEDIA_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/string_util.h"
#include "components/video/video_frame.h"

namespace component {

// FourCC codes of the two 32-bit pixel formats a frame may carry.
constexpr uint32_t kPixelFormat_RGBX = 0x52474258u;
constexpr uint32_t kPixelFormat_XRGB = 0x58524742u;

class MediaWriter {
 public:
  static constexpr int kVideoBitRate = 500000;
  static constexpr int kFrameRate = 25;
  static constexpr int kGopSize = 12;
  static constexpr int kAudioBitRate = 64000;
  static constexpr int kSampleRate = 48000;

  MediaWriter();
  ~MediaWriter();
  MediaWriter(const MediaWriter&) = delete;
  MediaWriter& operator=(const MediaWriter&) = delete;

  // Creates the file and writes the container's header. False, with a log
  // line, on any failure; finish() then releases what was made.
  bool open(const base::string16& path, int32_t width, int32_t height);
  bool hasVideo() const;
  bool hasAudio() const;
  // The pacing periods, from the streams' time bases as the container set
  // them (40 ms and 10 ms when a time base gives nothing).
  int64_t videoPeriodUs() const;
  int64_t audioPeriodUs() const;

  // Converts `frame` into the picture of the next slot. False (and the
  // picture unchanged) when the frame cannot be converted.
  bool convert(const VideoFrame& frame);
  // Encodes the current picture as the next frame of the 25 fps stream.
  void writeVideoFrame();
  // Appends mono samples; whole codec frames are encoded and written.
  void writeAudio(const int16_t* samples, size_t count);
  // Flushes the encoders, writes the trailer and closes the file; safe to
  // call at any point after open() (also after a failed one) and twice.
  void finish();

  // The file could not be written (disk full, size limit, ...): nothing
  // more reaches it.
  bool ioFailed() const;
  std::string ioError() const;

  // What went into the file, for the tests and the log.
  int64_t videoFramesWritten() const { return videoFrames_; }
  int64_t audioSamplesWritten() const { return audioSamples_; }
  std::string videoCodecName() const;
  std::string audioCodecName() const;

  // Routes FFmpeg's log into the program log (once per process).
  static void routeLibraryLog();

 private:
  struct State;
  // Encodes `count` samples as one audio frame (at most a codec frame).
  bool encodeAudioFrame(const int16_t* samples, size_t count);
  // Encodes what is left in the FIFO, then drains the encoder.
  void flushAudio();

  std::unique_ptr<State> s_;
  int64_t videoFrames_ = 0;
  int64_t audioSamples_ = 0;
};

}  // namespace component

#endif  // COMPONENTS_RECORDER_MEDIA_WRITER_H_

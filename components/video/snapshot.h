// Snapshot: when the user or the phone asks, writes the latest finished
// video frame as a JPEG file, decoded whole by the video component at that
// moment (frames handed in without a component are copied as they come).
//
// Thread: the user-interface thread (frames and saves).
#ifndef COMPONENTS_VIDEO_SNAPSHOT_H_
#define COMPONENTS_VIDEO_SNAPSHOT_H_

#include <cstdint>

#include "base/string_util.h"
#include "components/media_file_name.h"
#include "components/video/video_component.h"

namespace component {

class Snapshot : public VideoComponent::Observer {
 public:
  Snapshot();
  ~Snapshot() override;

  void OnVideoFrame(VideoComponent* component, const VideoFrame& frame) override;
  // None of the pixels: the picture is decoded when it is saved.
  void WantedPictureSize(int32_t width, int32_t height, int32_t* wantedWidth, int32_t* wantedHeight) override;

  // Writes the kept frame to `path` as JPEG, creating the folder (and its
  // missing parents) when it is not there. False, with a log line, when no
  // frame has come yet or the file could not be written.
  bool Save(const base::string16& path);

  const VideoFrame& frame() const { return frame_; }
  const base::string16& path() const { return path_; }

 private:
  base::string16 path_;
  VideoComponent* component_ = nullptr;
  VideoFrame frame_;
};

}  // namespace component

#endif  // COMPONENTS_VIDEO_SNAPSHOT_H_

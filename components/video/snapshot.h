// Snapshot: keeps a copy of the latest finished video frame and, when the
// user or the phone asks, writes it as a JPEG file. Also the file-name
// routine the snapshots and the recordings share:
// <prefix>_YYYY-MM-DD_hh-mm-ss_<suffix>.<extension>.
//
// Thread: the user-interface thread (frames and saves).
#ifndef COMPONENTS_VIDEO_SNAPSHOT_H_
#define COMPONENTS_VIDEO_SNAPSHOT_H_

#include <cstdint>

#include "base/string_util.h"
#include "components/video/video_component.h"

namespace component {

struct LocalTime {
  int32_t year = 0;
  int32_t month = 0;  // 1-12
  int32_t day = 0;
  int32_t hour = 0;  // 0-23
  int32_t minute = 0;
  int32_t second = 0;
};

LocalTime currentLocalTime();

// "Image" + "" + "jpg" at 2011-05-04 13:07:09 gives
// "Image_2011-05-04_13-07-09.jpg"; empty parts leave out their separator.
base::string16 mediaFileName(const base::string16& prefix, const base::string16& suffix,
                             const base::string16& extension, const LocalTime& time);

class Snapshot : public VideoComponent::Observer {
 public:
  Snapshot();
  ~Snapshot() override;

  void OnVideoFrame(VideoComponent* component, const VideoFrame& frame) override;

  // Writes the kept frame to `path` as JPEG, creating the folder (and its
  // missing parents) when it is not there. False, with a log line, when no
  // frame has come yet or the file could not be written.
  bool Save(const base::string16& path);

  const VideoFrame& frame() const { return frame_; }
  const base::string16& path() const { return path_; }

 private:
  base::string16 path_;
  VideoFrame frame_;
};

}  // namespace component

#endif  // COMPONENTS_VIDEO_SNAPSHOT_H_

#include "components/video/snapshot.h"

#include "base/file_util.h"
#include "base/logging.h"
#include "components/video/picture_codec.h"
#include "components/video/video_geometry.h"

namespace component {

Snapshot::Snapshot() = default;
Snapshot::~Snapshot() = default;

void Snapshot::OnVideoFrame(VideoComponent* component, const VideoFrame& frame) {
  component_ = component;
  if (!component) frame_ = frame;
}

void Snapshot::WantedPictureSize(int32_t, int32_t, int32_t* wantedWidth, int32_t* wantedHeight) {
  *wantedWidth = *wantedHeight = 0;
}

bool Snapshot::Save(const base::string16& path) {
  path_ = path;
  // The frames the camera gets may be reduced decodes; a snapshot is the
  // whole picture.
  if (component_ && !component_->LastPicture(&frame_)) frame_ = VideoFrame();
  const VideoFrame& video_frame = frame_;
  CHECK(video_frame.pixel_format == kPixelFormat_24RGB);
  if (video_frame.pixel_format != kPixelFormat_24RGB || video_frame.data.empty()) return false;
  if (!checkRawFrame(video_frame)) return false;
  // The pictures folder is made on first use, with its parents.
  const base::string16 folder = base::dirName(path);
  if (!folder.empty() && !base::isDirectory(folder) && !base::createDirectories(folder)) {
    LOG(ERROR) << "Cannot create the folder " << base::wideToUtf8(folder);
    return false;
  }
  if (!saveJpeg(video_frame.data.data(), video_frame.width, video_frame.height, video_frame.rowBytes(), path)) {
    LOG(ERROR) << "Cannot write the snapshot " << base::wideToUtf8(path);
    return false;
  }
  LOG(INFO) << "Snapshot saved to " << base::wideToUtf8(path);
  return true;
}

}  // namespace component

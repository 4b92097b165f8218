// The camera's side of the shared-memory section, for looking at what the
// virtual camera sees: write the size the camera asks for, copy out the
// current picture, notice new pictures, and save a picture as PNG or PPM.
#ifndef TOOLS_VCAMVIEW_CAMERA_VIEW_H_
#define TOOLS_VCAMVIEW_CAMERA_VIEW_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "components/video/shared_section.h"
#include "components/video/video_frame.h"
#include "components/video/video_geometry.h"

namespace vcamview {

class CameraView {
 public:
  // Opens (or creates) the section as the camera does.
  explicit CameraView(const std::string& name);
  bool ok() const { return section_.data() != nullptr; }

  // Writes the size the camera asks for.
  void request(int32_t width, int32_t height);
  void requested(int32_t* width, int32_t* height) const;
  // The size of the picture the writer produces for the current request.
  void pictureSize(int32_t* width, int32_t* height) const;
  // A copy of the current picture (24-bit, top to bottom).
  component::VideoFrame picture() const;
  // A cheap fingerprint of the whole pixel area, to notice new pictures.
  uint64_t fingerprint() const;

 private:
  component::SharedSection section_;
};

// The bounding box of the non-black pixels (the fitted picture inside its
// bands); empty when the picture is all black.
component::FitRect contentRect(const component::VideoFrame& frame);

// Files of 24-bit pictures: PNG (stored, uncompressed deflate) and binary PPM.
std::vector<uint8_t> encodePng(const component::VideoFrame& frame);
std::vector<uint8_t> encodePpm(const component::VideoFrame& frame);
// By the file's extension (.png, else .ppm).
bool savePicture(const component::VideoFrame& frame, const std::string& path);

// "352x288", "320x-240": false on anything else.
bool parseSize(const std::string& text, int32_t* width, int32_t* height);

}  // namespace vcamview

#endif  // TOOLS_VCAMVIEW_CAMERA_VIEW_H_

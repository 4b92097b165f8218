// Linux: takes pictures from a PipeWire camera node as a camera program
// does (any of I420, YUY2 and BGR at the size the node offers), for
// vcamview --pipewire and the tests.
#ifndef TOOLS_VCAMVIEW_PIPEWIRE_VIEW_H_
#define TOOLS_VCAMVIEW_PIPEWIRE_VIEW_H_

#include <functional>
#include <string>
#include <vector>

#include "components/video/video_frame.h"

namespace vcamview {

struct PipeWireCapture {
  std::vector<component::VideoFrame> pictures;  // 24-bit, upright
  std::string format;                           // what was negotiated
};

// Connects to the node `target`, skips `skip` pictures and keeps the next
// `count`. False with `error` when no daemon, no node or no pictures came
// within `timeoutMs`.
bool capturePipeWire(const std::string& target, int skip, int count, int timeoutMs, PipeWireCapture* capture,
                     std::string* error);

// Hands every picture of `target` to `picture` (on the calling thread) until
// it returns false. False with `error` when no daemon answers or the stream
// fails; `timeoutMs` bounds the whole run.
bool watchPipeWire(const std::string& target, int timeoutMs,
                   const std::function<bool(const component::VideoFrame& picture)>& picture, std::string* format,
                   std::string* error);

}  // namespace vcamview

#endif  // TOOLS_VCAMVIEW_PIPEWIRE_VIEW_H_

// The camera sink of this build: on Linux the PipeWire / v4l2loopback
// camera made from the settings and started; on Windows none (the camera
// installed there reads the shared-memory area).
#ifndef WEBCAMWIN_PLATFORM_CAMERA_H_
#define WEBCAMWIN_PLATFORM_CAMERA_H_

#include <memory>

#include "components/video/camera_sink.h"

// Null when this build has no such camera or the settings turn it off.
std::unique_ptr<component::CameraSink> makePlatformCamera();

#endif  // WEBCAMWIN_PLATFORM_CAMERA_H_

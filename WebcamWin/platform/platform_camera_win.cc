#include "WebcamWin/platform/platform_camera.h"

std::unique_ptr<component::CameraSink> makePlatformCamera() { return nullptr; }

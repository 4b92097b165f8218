#include "WebcamWin/platform_camera.h"

std::unique_ptr<component::CameraSink> makePlatformCamera() { return nullptr; }

#include "WebcamWin/platform/platform_camera.h"

#include "WebcamWin/settings/settings.h"
#include "components/video/linux_camera/linux_camera.h"

std::unique_ptr<component::CameraSink> makePlatformCamera() {
  const CSettings& settings = CSettings::Instance();
  const component::LinuxCameraOptions options = component::linuxCameraOptions(
      base::wideToUtf8(settings.cameraSize()), base::wideToUtf8(settings.linuxCamera()),
      base::wideToUtf8(settings.v4l2Device()));
  auto camera = std::make_unique<component::LinuxCamera>(options);
  // Without PipeWire and without a loopback device the camera has said why;
  // the server runs on without it.
  if (!camera->Start()) return nullptr;
  return camera;
}

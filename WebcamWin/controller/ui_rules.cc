#include "WebcamWin/controller/ui_rules.h"

#include <cstring>

#include "PC_Audio_DRV/wave_service_protocol.h"
#include "WebcamWin/controller/main_frame.h"
#include "components/video/video_frame.h"

base::string16 recordingTimeText(uint32_t t) {
  return base::utf8ToWide(
      base::stringPrintf("%02u:%02u:%02u", t / 3600000u, (t % 3600000u) / 60000u, (t % 60000u) / 1000u));
}

base::string16 frameSizeText(int width, int height) {
  return base::utf8ToWide(base::stringPrintf("%dx%d", width, height));
}

base::string16 withArgument(const base::string16& format, const base::string16& value) {
  const size_t at = format.find(u"%s");
  if (at == base::string16::npos) return format;
  base::string16 text = format;
  text.replace(at, 2, value);
  return text;
}

uint32_t trayMenuEntryToRemove(bool windowVisible) {
  return windowVisible ? CMainFrame::kCmdShow : CMainFrame::kCmdHide;
}

DeviceChoice chooseDevice(const std::vector<base::string16>& devices, const base::string16& stored,
                          const base::string16& systemDefault) {
  DeviceChoice choice;
  for (const base::string16& name : devices) {
    if (name.find(kVirtualDeviceMark) == base::string16::npos) choice.entries.push_back(name);
  }
  choice.entries.push_back(systemDefault);
  const size_t defaultRow = choice.entries.size() - 1;
  choice.selected = defaultRow;
  int matches = 0;
  if (!stored.empty()) {
    for (size_t i = 0; i < defaultRow; ++i) {
      if (choice.entries[i].find(stored) == base::string16::npos) continue;
      choice.selected = i;
      ++matches;
    }
  }
  choice.multipleMatches = matches > 1;
  return choice;
}

base::string16 deviceNameToStore(long row, long rows, const base::string16& text) {
  if (row < 0 || row >= rows - 1) return base::string16();
  return text;
}

bool previewRows(const component::VideoFrame& frame, std::vector<uint8_t>* pixels) {
  if (frame.pixel_format != component::kPixelFormat_24RGB) return false;
  if (frame.width <= 0 || frame.height <= 0 || frame.width > kMaxPreviewSide || frame.height > kMaxPreviewSide) {
    return false;
  }
  const size_t width = static_cast<size_t>(frame.width) * 3;
  // A negative row length is shorter than any row too.
  if (frame.rowBytes() < frame.width * 3) return false;
  const size_t source = static_cast<size_t>(frame.rowBytes());
  const size_t height = static_cast<size_t>(frame.height);
  // The last row only needs its pixels, not its padding.
  if (frame.data.size() < source * (height - 1) + width) return false;
  const size_t row = (width + 3) & ~size_t{3};
  pixels->assign(row * height, 0);
  for (size_t y = 0; y < height; ++y) std::memcpy(&(*pixels)[row * y], &frame.data[source * y], width);
  return true;
}

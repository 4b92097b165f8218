// The interface's texts and choices that do not depend on the window
// system, shared by the Windows window, its dialogs and the Linux console:
// the preview's size and recording-time texts, "%s" formats, which entry the
// notification-area menu leaves out, and the sound-device lists of the
// settings dialog.
#ifndef WEBCAMWIN_UI_RULES_H_
#define WEBCAMWIN_UI_RULES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/string_util.h"

namespace component {
struct VideoFrame;
}

// The recording time as "hh:mm:ss" ("%02d:%02d:%02d"); the hours go on past
// 99 rather than wrap.
base::string16 recordingTimeText(uint32_t elapsedMs);
// The picture's size as "%dx%d".
base::string16 frameSizeText(int width, int height);
// `format` with its first "%s" replaced by `value` (the format as it is when
// it has none).
base::string16 withArgument(const base::string16& format, const base::string16& value);

// The notification-area menu holds both "show" (20001) and "hide" (20007);
// the one that does nothing for the window's state is removed.
uint32_t trayMenuEntryToRemove(bool windowVisible);

// A sound-device list of the settings dialog: the real devices in the
// system's order (the phone's own virtual device, any name containing
// "Lumora Wave", left out), then the system's default device last. The
// selected row is the last device whose name contains the stored name, or
// the default row when the stored name is empty or matches none.
struct DeviceChoice {
  std::vector<base::string16> entries;
  size_t selected = 0;
  // More than one device contained the stored name.
  bool multipleMatches = false;
};
DeviceChoice chooseDevice(const std::vector<base::string16>& devices, const base::string16& stored,
                          const base::string16& systemDefault);
// The name to store for `row` of a list with `rows` rows whose text is
// `text`: the last row (the system's default) and no row at all (-1) store
// the empty name.
base::string16 deviceNameToStore(long row, long rows, const base::string16& text);

// The preview's copy of a decoded picture (24-bit, rows top to bottom) in the
// layout a device-independent bitmap wants: each row padded to a multiple
// of four bytes. False, with `pixels` untouched, for a frame that is not
// 24-bit, has no area, is larger than kMaxPreviewSide on a side, has rows
// shorter than its width or fewer bytes than its rows need.
constexpr int32_t kMaxPreviewSide = 8192;
bool previewRows(const component::VideoFrame& frame, std::vector<uint8_t>* pixels);

#endif  // WEBCAMWIN_UI_RULES_H_

// The string ids of the main window's button texts and tooltips, shared by
// the Win32 window and the desktop one on Linux; the texts are in the
// resource library.
#ifndef WEBCAMWIN_CONTROLLER_MAIN_WINDOW_STRINGS_H_
#define WEBCAMWIN_CONTROLLER_MAIN_WINDOW_STRINGS_H_

#include <cstdint>

constexpr uint32_t kIdsStartRecording = 50000;
constexpr uint32_t kIdsStopRecording = 50001;
constexpr uint32_t kIdsSettings = 50004;
constexpr uint32_t kIdsAbout = 50005;
constexpr uint32_t kIdsSnapshot = 50038;
constexpr uint32_t kIdsPicturesFolder = 50042;
constexpr uint32_t kIdsVideosFolder = 50043;

#endif  // WEBCAMWIN_CONTROLLER_MAIN_WINDOW_STRINGS_H_

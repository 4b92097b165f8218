// The desktop as `server` needs it: special folders, the log folder,
// process priority, the per-thread set-up of the interface libraries, the
// built-in error message, opening a folder or web page.
// Windows: shell folders, COM, GDI+, the shell's "open" verb.
// Linux: XDG folders, nice, xdg-open.
#ifndef WEBCAMWIN_PLATFORM_DESKTOP_H_
#define WEBCAMWIN_PLATFORM_DESKTOP_H_

#include <cstdint>

#include "base/string_util.h"

namespace shell {

enum class Folder {
  kPictures,   // CSIDL_MYPICTURES / XDG_PICTURES_DIR
  kVideos,     // CSIDL_MYVIDEO / XDG_VIDEOS_DIR
  kDocuments,  // CSIDL_PERSONAL / XDG_DOCUMENTS_DIR (the home folder at worst)
};

// The folder's path as the system names it (it need not exist yet), or empty
// when the user has no such folder.
base::string16 specialFolder(Folder folder);

// The folder of the log files: the roaming application data folder +
// "Quillon Labs\Lumora ZuvIridar for iPhone\logs" on Windows,
// $XDG_STATE_HOME (default ~/.local/state) + "/Quillon Labs/Lumora ZuvIridar
// for iPhone/logs" on Linux. Not created here.
base::string16 logFolder();

// The log's copy for a debugger: OutputDebugString on Windows (dropped
// unless a debugger listens); on Linux dropped too, since the terminal
// belongs to the user and the front end tells them what they need. The
// log file keeps every line.
void keepLogOffTerminal();

// HIGH_PRIORITY_CLASS on Windows, nice -10 on Linux. False with the system
// error number when the system refused.
bool raisePriority(int32_t* error);

// COM (apartment-threaded), GDI+ and the common controls on Windows for the
// calling thread; nothing on Linux. Undone in reverse by the shutdown.
void initializeInterfaceLibraries();
void shutdownInterfaceLibraries();

// A message that needs no resource library: a top-most error message box on
// Windows, a line on standard error on Linux.
void showBuiltInError(const base::string16& text, const base::string16& caption);

// Opens a web address (or a folder) the way the desktop does: the shell's
// "open" verb on Windows, xdg-open on Linux (not waited for). False when
// nothing could be started.
bool openWithShell(const base::string16& target);

}  // namespace shell

#endif  // WEBCAMWIN_PLATFORM_DESKTOP_H_

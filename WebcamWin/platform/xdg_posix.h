// The XDG base folders as the Linux desktop helpers and the instance lock
// use them.
#ifndef WEBCAMWIN_PLATFORM_XDG_POSIX_H_
#define WEBCAMWIN_PLATFORM_XDG_POSIX_H_

#include <string>

namespace shell {

// $HOME, or the password database's home folder, or "/".
std::string homeDir();

// An XDG base folder: the variable when it holds an absolute path, else
// `fallback` below the home folder.
std::string xdgBase(const char* variable, const char* fallback);

// The desktop's start at login: an XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/<id>.desktop) that starts `program` with
// "-minimize", written (on) or removed (off). False when that failed.
bool writeAutostartEntry(bool on, const std::string& id, const std::string& name, const std::string& program);

}  // namespace shell

#endif  // WEBCAMWIN_PLATFORM_XDG_POSIX_H_

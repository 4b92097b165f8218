// Small file-system helpers over the platform (UTF-16 paths on both builds;
// the Linux side converts them to UTF-8 at the system call).
#ifndef BASE_FILE_UTIL_H_
#define BASE_FILE_UTIL_H_

#include <string>
#include <vector>

#include "base/string_util.h"

namespace base {

// '\\' on Windows, '/' on Linux.
extern const char16_t kPathSeparator;

string16 joinPath(const string16& folder, const string16& name);
// The text after the last '/' or, failing that, the last '\\'.
string16 baseName(const string16& path);
std::string baseName(const std::string& path);
// Everything before the last separator ("" when there is none).
string16 dirName(const string16& path);

bool pathExists(const string16& path);
bool isDirectory(const string16& path);
// Deletes a file; refuses directories.
bool deleteFile(const string16& path);
// Removes a folder that has nothing in it.
bool removeEmptyDirectory(const string16& path);
// Creates the folder and its missing parents.
bool createDirectories(const string16& path);
// Lets only the owner into an existing folder (Linux: mode 0700; Windows:
// nothing to do, the per-user folders are private already).
bool restrictToOwner(const string16& folder);
// Names (not paths) of the entries of a folder, "." and ".." left out, in the
// order the system lists them (Linux: sorted by name, as NTFS lists them).
std::vector<string16> listDirectory(const string16& folder);

// Whole-file helpers.
bool readFile(const string16& path, std::string* contents);
// Writes to a temporary file beside `path` and renames it over `path`.
bool writeFileAtomic(const string16& path, const std::string& contents);

string16 executableDirectory();
string16 currentDirectory();
// The user's temporary folder.
string16 tempDirectory();

// Native path for the Linux system calls (UTF-8).
std::string nativePath(const string16& path);

}  // namespace base

#endif  // BASE_FILE_UTIL_H_

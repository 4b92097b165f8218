// Stands in for the support tool in tests: reads its standard input to the
// end, stores it in the file named by HANDOFF_RECORD, answers like the tool
// ("OK" in UTF-16LE) followed by more output than one read takes, and, when
// HANDOFF_RELEASE names a file, waits for that file before it ends. On Linux
// it also writes HANDOFF_RECORD + ".state": its blocked and ignored signals
// (from /proc), its open descriptors and whether it leads its own session.
#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

namespace {

bool exists(const char* path) {
  FILE* f = std::fopen(path, "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

void pause20ms() {
#if defined(_WIN32)
  ::Sleep(20);
#else
  ::usleep(20 * 1000);
#endif
}

#if !defined(_WIN32)
std::string processState() {
  std::string state;
  if (FILE* status = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof(line), status)) {
      const std::string l = line;
      if (l.compare(0, 7, "SigBlk:") == 0 || l.compare(0, 7, "SigIgn:") == 0) state += l;
    }
    std::fclose(status);
  }
  state += "fds:";
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == ::dirfd(dir)) continue;
      state += std::string(" ") + entry->d_name;
    }
    ::closedir(dir);
  }
  state += "\nsession-leader: " + std::to_string(::getsid(0) == ::getpid() ? 1 : 0) + "\n";
  return state;
}
#endif

}  // namespace

int main() {
#if defined(_WIN32)
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#else
  const std::string state = processState();
#endif
  std::string input;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), stdin)) > 0) input.append(buffer, n);

  const char* record = std::getenv("HANDOFF_RECORD");
  if (record) {
    if (FILE* f = std::fopen(record, "wb")) {
      std::fwrite(input.data(), 1, input.size(), f);
      std::fclose(f);
    }
#if !defined(_WIN32)
    if (FILE* f = std::fopen((std::string(record) + ".state").c_str(), "wb")) {
      std::fputs(state.c_str(), f);
      std::fclose(f);
    }
#endif
  }
  static const char kAnswer[] = {'O', 0, 'K', 0, 0, 0};
  std::fwrite(kAnswer, 1, sizeof(kAnswer), stdout);
  const std::string more(3000, '.');
  std::fwrite(more.data(), 1, more.size(), stdout);
  std::fflush(stdout);

  if (const char* release = std::getenv("HANDOFF_RELEASE")) {
    for (int i = 0; i < 6000 && !exists(release); ++i) pause20ms();
  }
  return 0;
}

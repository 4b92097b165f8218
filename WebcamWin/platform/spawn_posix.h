// Linux: starting the programs `server` hands work to (the support tool, the
// desktop's opener) so that they keep nothing of ours: default signal
// dispositions and an empty signal mask (the server blocks SIGINT and
// SIGTERM and ignores SIGPIPE), a session of their own (no terminal), and
// no descriptors beyond the standard three the caller arranges.
#ifndef WEBCAMWIN_SPAWN_POSIX_H_
#define WEBCAMWIN_SPAWN_POSIX_H_

#include <spawn.h>
#include <sys/types.h>

#include <string>
#include <vector>

// `actions` sets up descriptors 0 to 2 (it is extended and used, not
// destroyed). A `program` without a slash is looked up on PATH. 0 with
// *pid set, or the errno of the failure.
int spawnClean(const std::string& program, const std::vector<std::string>& args,
               posix_spawn_file_actions_t* actions, pid_t* pid);

// Reaps the child when it ends, on a thread of its own, so that it leaves
// no zombie; `waitMs` first waits that long on the calling thread.
void reapChild(pid_t pid, int waitMs);

#endif  // WEBCAMWIN_SPAWN_POSIX_H_

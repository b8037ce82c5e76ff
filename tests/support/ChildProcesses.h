#pragma once
// What a process has started, read from /proc: apart from ProcessTestSupport.h, so that the
// window's tests (which have a wait helper of their own) can ask it too.

#include <sys/types.h>

#include <map>
#include <string>

namespace talvian::test {

// The processes whose parent is `pid`, with their command lines (arguments joined by spaces).
std::map<pid_t, std::string> childrenOf(pid_t pid);
// Gone, or dead and waiting for its reaper.
bool processEnded(pid_t pid);

}  // namespace talvian::test

#pragma once
// The child processes of the test process (the stand-in servers it starts), as /proc
// shows them.
#include <sys/types.h>

#include <string>
#include <vector>

namespace test_support {

/// The live (not yet reaped, not zombie) child processes of this process; with program
/// given, only those running that program (the name /proc/<pid>/stat shows).
std::vector<pid_t> live_children(const std::string& program = "");

/// Waits up to five seconds until no live child (of program, when given) is left; true
/// when none is.
bool wait_until_no_live_children(const std::string& program = "");

}  // namespace test_support

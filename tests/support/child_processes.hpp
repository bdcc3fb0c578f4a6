#pragma once
// What the tests need of the operating system beyond the standard library: environment
// variables, the child processes of the test process (the stand-in servers it starts),
// ending a process. One implementation file per platform (os_posix.cpp, os_win.cpp),
// which also hold test_support::ServerClass.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

using ProcessId = std::int64_t;

/// Sets (or, with nullopt, removes) an environment variable of this process.
void set_environment(const std::string& name, const std::optional<std::string>& value);

/// The live (not yet reaped, not zombie) child processes of this process; with program
/// given, only those running that program (its name without directory and extension).
/// On Windows a COM server is started for the test process, not by it: there the
/// processes of program are listed whatever their parent.
std::vector<ProcessId> live_children(const std::string& program = "");

/// Waits up to five seconds until no live child (of program, when given) is left; true
/// when none is.
bool wait_until_no_live_children(const std::string& program = "");

/// What a command run through the system's shell wrote to its standard output, and its
/// exit status (-1 when it did not end normally).
struct CommandOutput {
  int status = -1;
  std::string output;
};
CommandOutput run_command(const std::string& command);

/// True when the tests run with the rights of the superuser (never on Windows).
bool running_as_root();

/// Makes a FIFO at path (POSIX); false where the platform has none (Windows).
bool make_fifo(const std::filesystem::path& path);

/// Waits up to five seconds until the process has ended; true when it has.
bool wait_until_ended(ProcessId id);

/// Ends a process at once, as a crash would; true when it was ended.
bool end_process(ProcessId id);

/// Stops a process where it stands, as a hung program seems to its peers (POSIX SIGSTOP);
/// false where the platform has no such stop (Windows) or it failed.
bool stop_process(ProcessId id);

/// True while a process with that id runs.
bool process_exists(ProcessId id);

}  // namespace test_support

#pragma once
// Clean-up when the command line is interrupted (Ctrl-C, SIGTERM, a closed terminal):
// the files that hold a run's patient data are removed and the automation servers the
// process started are ended, then the process ends as the interruption asks. The
// windows leave interruptions alone; their runs end through their own code.
#include <cstdint>
#include <string>

namespace platform {

/// Installs the clean-up for this process's interruptions (POSIX: SIGINT, SIGTERM,
/// SIGHUP; Windows: the console's control events), and on POSIX ignores SIGPIPE, so that
/// writing to a closed output fails as a write. Call once, early, from a front end.
void install_interrupt_cleanup();

/// For the platform layer. Registers a file to remove at an interruption; the path is
/// made absolute now. Returns a slot for unregister_removal_at_interrupt, or -1 when the
/// table is full or the path too long (the file is then only removed by its owner).
int register_removal_at_interrupt(const std::string& path);
void unregister_removal_at_interrupt(int slot);

/// For the platform layer: a server process to end at an interruption, while it runs.
void register_child_at_interrupt(std::intptr_t process);
void unregister_child_at_interrupt(std::intptr_t process);

}  // namespace platform

// The interruption clean-up on POSIX: a signal handler that removes the registered files
// and ends the registered server processes, then lets the signal end the process. The
// tables are fixed arrays of atomics so that the handler only reads memory that no
// allocation moves and calls only async-signal-safe functions (unlink, kill, raise).
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>

#include "platform/interrupt.hpp"
#include "platform/interrupt_children.hpp"

namespace platform {

namespace {

constexpr int removal_slots = 64;
constexpr std::size_t max_path = 4096;

enum SlotState : int { slot_free = 0, slot_writing = 1, slot_ready = 2 };

struct RemovalSlot {
  std::atomic<int> state{slot_free};
  char path[max_path];
};

RemovalSlot removals[removal_slots];

extern "C" void clean_up_and_end(int signal_number) {
  for (RemovalSlot& slot : removals)
    if (slot.state.load() == slot_ready) ::unlink(slot.path);
  for (std::atomic<std::intptr_t>& child : interrupt_children) {
    const auto pid = static_cast<pid_t>(child.load());
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      // A stopped server takes the signal only once it runs again.
      ::kill(pid, SIGCONT);
    }
  }
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

}  // namespace

void install_interrupt_cleanup() {
  struct sigaction action {};
  action.sa_handler = clean_up_and_end;
  sigemptyset(&action.sa_mask);
  // While one interruption cleans up, the others wait.
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, s);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &action, nullptr);
  // A reader of the output that has gone away fails the write, which the program reports,
  // rather than ending the process without a word.
  ::signal(SIGPIPE, SIG_IGN);
}

int register_removal_at_interrupt(const std::string& path) {
  std::error_code ec;
  const std::string absolute = std::filesystem::absolute(path, ec).string();
  if (ec || absolute.size() >= max_path) return -1;
  for (int i = 0; i < removal_slots; ++i) {
    int expected = slot_free;
    if (!removals[i].state.compare_exchange_strong(expected, slot_writing)) continue;
    std::memcpy(removals[i].path, absolute.c_str(), absolute.size() + 1);
    removals[i].state.store(slot_ready);
    return i;
  }
  return -1;
}

void unregister_removal_at_interrupt(int slot) {
  if (slot >= 0 && slot < removal_slots) removals[slot].state.store(slot_free);
}

}  // namespace platform

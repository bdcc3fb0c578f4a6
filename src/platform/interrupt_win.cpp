// The interruption clean-up on Windows: a console control handler (Ctrl-C, Ctrl-Break, a
// closed console, log-off, shut-down) that removes the registered files and ends the
// registered server processes, then lets the default handling end the process. The
// handler runs on a thread of its own, so the tables are fixed arrays of atomics, as on
// POSIX, rather than containers that another thread may be changing.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <filesystem>

#include "platform/interrupt.hpp"
#include "platform/interrupt_children.hpp"
#include "platform/paths.hpp"

namespace platform {

namespace {

constexpr int removal_slots = 64;
constexpr std::size_t max_path = 4096;

enum SlotState : int { slot_free = 0, slot_writing = 1, slot_ready = 2 };

struct RemovalSlot {
  std::atomic<int> state{slot_free};
  wchar_t path[max_path];
};

RemovalSlot removals[removal_slots];

BOOL WINAPI clean_up(DWORD) {
  for (RemovalSlot& slot : removals)
    if (slot.state.load() == slot_ready) ::DeleteFileW(slot.path);
  for (std::atomic<std::intptr_t>& child : interrupt_children) {
    const std::intptr_t process = child.load();
    if (process != 0) ::TerminateProcess(reinterpret_cast<HANDLE>(process), 1);
  }
  return FALSE;  // the default handling ends the process
}

}  // namespace

void install_interrupt_cleanup() { ::SetConsoleCtrlHandler(clean_up, TRUE); }

int register_removal_at_interrupt(const std::string& path) {
  std::error_code ec;
  const std::wstring absolute = std::filesystem::absolute(path_from_utf8(path), ec).wstring();
  if (ec || absolute.size() >= max_path) return -1;
  for (int i = 0; i < removal_slots; ++i) {
    int expected = slot_free;
    if (!removals[i].state.compare_exchange_strong(expected, slot_writing)) continue;
    std::memcpy(removals[i].path, absolute.c_str(), (absolute.size() + 1) * sizeof(wchar_t));
    removals[i].state.store(slot_ready);
    return i;
  }
  return -1;
}

void unregister_removal_at_interrupt(int slot) {
  if (slot >= 0 && slot < removal_slots) removals[slot].state.store(slot_free);
}

}  // namespace platform

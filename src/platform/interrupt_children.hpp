#pragma once
// For the platform's interruption handlers: the server processes to end at an
// interruption (a POSIX process id or a Windows process handle; 0 is a free slot). A
// fixed array of atomics, so that a signal handler may read it.
#include <atomic>
#include <cstdint>

namespace platform {

inline constexpr int interrupt_child_slots = 16;
extern std::atomic<std::intptr_t> interrupt_children[interrupt_child_slots];

}  // namespace platform

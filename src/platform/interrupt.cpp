// The table of server processes to end at an interruption, shared by the platforms'
// handlers (interrupt_posix.cpp, interrupt_win.cpp).
#include "platform/interrupt.hpp"

#include "platform/interrupt_children.hpp"

namespace platform {

std::atomic<std::intptr_t> interrupt_children[interrupt_child_slots];

void register_child_at_interrupt(std::intptr_t process) {
  for (std::atomic<std::intptr_t>& child : interrupt_children) {
    std::intptr_t expected = 0;
    if (child.compare_exchange_strong(expected, process)) return;
  }
}

void unregister_child_at_interrupt(std::intptr_t process) {
  for (std::atomic<std::intptr_t>& child : interrupt_children) {
    std::intptr_t expected = process;
    if (child.compare_exchange_strong(expected, 0)) return;
  }
}

}  // namespace platform

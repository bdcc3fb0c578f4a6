#pragma once
// What the Windows window tests look at in a window, and the wait for what its messages do.
#include <windows.h>

#include <chrono>
#include <functional>

#include "window.hpp"

namespace window_checks {

/// The window has the visible style (whether or not its parent is shown).
inline bool shown(HWND window) { return window && (::GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE); }

/// A child's place in its parent's client area.
inline RECT place_of(HWND child) {
  RECT place{};
  ::GetWindowRect(child, &place);
  ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&place), 2);
  return place;
}

inline bool same(const RECT& a, const RECT& b) { return ::EqualRect(&a, &b) != 0; }

/// Handles the thread's messages until done() or the limit; done()'s last answer.
inline bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < end) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    win32ui::pump_pending();
  }
  return done();
}

}  // namespace window_checks

#include "automation_thread.hpp"

#include <windows.h>

#include <exception>

#include "platform/automation.hpp"
#include "window.hpp"

AutomationThread::AutomationThread() : thread_([this] { loop(); }) {}

AutomationThread::~AutomationThread() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_all();
  thread_.join();
}

void AutomationThread::loop() {
  const platform::AutomationScope automation;
  std::unique_lock lock(mutex_);
  for (;;) {
    ready_.wait(lock, [this] { return stopping_ || (work_ && !done_); });
    if (work_ && !done_) {
      const auto* work = work_;
      lock.unlock();
      std::exception_ptr failure;
      try {
        (*work)();
      } catch (...) {
        failure = std::current_exception();
      }
      lock.lock();
      failure_ = failure;
      done_ = true;
      // Wakes the waiting thread's message loop.
      ::PostThreadMessageW(waiter_, WM_NULL, 0, 0);
      continue;
    }
    if (stopping_) return;
  }
}

void AutomationThread::run(const std::function<void()>& work) {
  {
    std::lock_guard lock(mutex_);
    work_ = &work;
    done_ = false;
    failure_ = nullptr;
    waiter_ = ::GetCurrentThreadId();
  }
  ready_.notify_all();
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (done_) break;
    }
    // A modal loop elsewhere may have taken the wake-up message: wait a little at most.
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    win32ui::pump_pending();
  }
  std::exception_ptr failure;
  {
    std::lock_guard lock(mutex_);
    work_ = nullptr;
    failure = failure_;
  }
  if (failure) std::rethrow_exception(failure);
}

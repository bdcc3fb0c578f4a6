#include "app/session_thread.hpp"

#include <chrono>
#include <stdexcept>

#include "platform/automation.hpp"

void EventPump::wait_until(const std::function<bool()>& done) {
  std::unique_lock lock(mutex_);
  // done() is read under no lock of the caller's: a wake-up between the test and the wait
  // is not lost, as the wait is short.
  while (!done()) woken_.wait_for(lock, std::chrono::milliseconds(20));
}

void EventPump::wake() {
  { std::lock_guard lock(mutex_); }
  woken_.notify_all();
}

SessionThread::SessionThread(EventPump& pump) : pump_(pump), thread_([this] { loop(); }) {}

SessionThread::~SessionThread() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_all();
  thread_.join();
}

void SessionThread::loop() {
  // Automation (COM on Windows) for this thread, for its whole life.
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
      ready_.notify_all();
      pump_.wake();
      continue;
    }
    if (stopping_) return;
  }
}

void SessionThread::run(const std::function<void()>& work) {
  const auto finished = [this] {
    std::lock_guard lock(mutex_);
    return done_;
  };
  {
    std::lock_guard lock(mutex_);
    // The callers hand over one piece of work at a time (an event handled during a wait
    // must not hand over more): the thread would never reach the second one.
    if (work_) throw std::logic_error("sessione occupata");
    work_ = &work;
    done_ = false;
    failure_ = nullptr;
  }
  ready_.notify_all();
  pump_.wait_until(finished);
  std::exception_ptr failure;
  {
    std::lock_guard lock(mutex_);
    work_ = nullptr;
    failure = failure_;
  }
  if (failure) std::rethrow_exception(failure);
}

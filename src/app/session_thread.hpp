#pragma once
// The thread that talks to the records product. An automation object belongs to the thread
// (apartment) that made it, and a window must keep answering while the records product
// works: the session is made, used and freed on this one thread for its whole life, and
// the calling thread keeps handling its own events while it waits for each piece of work.
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

/// What the thread that hands work over does while it waits: its own events (a window's
/// messages), until done says the work is over; wake() is then called from the session
/// thread, so that a wait for events ends.
class EventPump {
 public:
  virtual ~EventPump() = default;
  /// Handles the caller's events until done() is true. The default waits without events.
  virtual void wait_until(const std::function<bool()>& done);
  /// Ends a wait for events of wait_until; from any thread.
  virtual void wake();

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
};

class SessionThread {
 public:
  /// pump: how the calling thread waits; it must outlive the thread.
  explicit SessionThread(EventPump& pump);
  /// Ends the thread once the work handed to it is done.
  ~SessionThread();
  SessionThread(const SessionThread&) = delete;
  SessionThread& operator=(const SessionThread&) = delete;

  /// Does work on the session thread and returns when it is done, the calling thread
  /// handling its events meanwhile. One piece at a time: an event handled during the wait
  /// must not hand over more (std::logic_error). What work throws is thrown here.
  void run(const std::function<void()>& work);

 private:
  void loop();

  EventPump& pump_;
  std::mutex mutex_;
  std::condition_variable ready_;
  const std::function<void()>* work_ = nullptr;
  std::exception_ptr failure_;
  bool done_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

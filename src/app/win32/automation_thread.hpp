#pragma once
// The thread that talks to the records product. Automation objects belong to the thread
// (apartment) that made them, and the window must keep answering while the records product
// works: the session is made, used and freed on this one thread for the window's life,
// and the window's thread pumps its messages while it waits for each piece of work.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class AutomationThread {
 public:
  AutomationThread();
  /// Ends the thread once the work handed to it is done.
  ~AutomationThread();
  AutomationThread(const AutomationThread&) = delete;
  AutomationThread& operator=(const AutomationThread&) = delete;

  /// Does work on the thread and returns when it is done, handling the calling thread's
  /// window messages meanwhile. What work throws is thrown here.
  void run(const std::function<void()>& work);

 private:
  void loop();

  std::mutex mutex_;
  std::condition_variable ready_;
  const std::function<void()>* work_ = nullptr;
  std::exception_ptr failure_;
  bool done_ = false;
  bool stopping_ = false;
  unsigned long waiter_ = 0;  ///< the thread waiting for the work, woken when it is done
  std::thread thread_;
};

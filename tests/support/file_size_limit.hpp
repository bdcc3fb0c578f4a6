#pragma once
// A file that refuses bytes part-way, as on a full disk: for the life of the object the
// process may write no file past a small size (POSIX only), and a write past it fails
// instead of raising the signal that would end the process.
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>

#include <cstddef>

namespace test_support {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::size_t bytes) : old_signal_(::signal(SIGXFSZ, SIG_IGN)) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    rlimit small = old_;
    small.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &small);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, old_signal_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  void (*old_signal_)(int);
};

}  // namespace test_support
#endif

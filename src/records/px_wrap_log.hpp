#pragma once
// The operation log: hands each trace line of the session wrapper to the records
// product's logging library, loaded from the installation directory. Whether a line is
// written is decided line by line by the operation log switch.
#include <memory>
#include <string>

#include "app/host.hpp"
#include "records/praxiapi_library.hpp"

class Tpx_wrap_log {
 public:
  /// host receives the debug channel's boxes of a failed start.
  explicit Tpx_wrap_log(frontend::Host& host = frontend::headless_host());
  ~Tpx_wrap_log();
  Tpx_wrap_log(const Tpx_wrap_log&) = delete;
  Tpx_wrap_log& operator=(const Tpx_wrap_log&) = delete;

  /// Loads the library and opens the log file file_path with tag; true when open.
  /// Failures go to the debug channel. Never throws.
  bool start(const std::string& tag, const std::string& file_path);
  /// Writes line when the log is open and the log switch is on. Never throws.
  void write_line(const std::string& line);
  /// True when the log is open and the switch is on now, so that a caller builds a long
  /// line only when it would be written. Never throws.
  bool writing() const;
  /// Closes the log and releases the library. Never throws.
  void stop();

 private:
  using open_fn = px_tools::log_open_fn;
  using signal_fn = px_tools::log_signal_fn;
  using destroy_fn = px_tools::log_destroy_fn;

  std::unique_ptr<platform::DynamicLibrary> library_handle;
  int log_handle = 0;
  open_fn log_open = nullptr;
  signal_fn log_signal = nullptr;
  destroy_fn log_destroy = nullptr;
  frontend::Host& host_;
};

// The calls into the records product's logging library. This file is compiled with a
// frame pointer, outgoing arguments stored in a frame reserved on entry (no pushes), and
// no tail calls (src/CMakeLists.txt), and each function is kept out of line: the code
// after each call is "leave; ret", which restores the stack pointer from the frame
// whether the library removed its arguments (__stdcall) or left them (__cdecl). A test
// reads the 32-bit build's disassembly to check it.
#include "records/praxiapi_library.hpp"

namespace px_tools {

__attribute__((noinline)) int call_log_open(log_open_fn open, const char* tag, const char* file_path) {
  return open(tag, file_path, -1, 0, 0);
}

__attribute__((noinline)) void call_log_signal(log_signal_fn signal, int handle, const char* line) {
  signal(handle, line);
}

__attribute__((noinline)) void call_log_destroy(log_destroy_fn destroy, int handle) { destroy(handle); }

}  // namespace px_tools

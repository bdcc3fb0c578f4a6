// Stand-in for the records product's logging library. Each log appends the lines it is
// given to its file as "yyyy-mm-dd hh:mm:ss.zzz<TAB>tag<TAB>line", creating the file
// when missing. Texts arrive in the ANSI code page; the file path is turned into the
// file system's name, the tag and the lines are written as they come. PRAXIAPI_EXPORT,
// set by the build, marks the exports of the shared library; the DLL's are listed by
// name in a .def file. On Windows the exports are __stdcall (WINAPI), the convention of
// a DLL's exports on 32-bit Windows, which removes its own arguments from the stack (on
// 64-bit Windows there is one convention); with PRAXIAPI_CDECL they are __cdecl, the
// caller removing them, as a library may have them too.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/codepage.hpp"

#if defined(_WIN32) && defined(PRAXIAPI_CDECL)
#define PRAXIAPI_CALL __cdecl
#elif defined(_WIN32)
#define PRAXIAPI_CALL __stdcall
#else
#define PRAXIAPI_CALL
#endif

namespace {

struct Log {
  std::unique_ptr<std::ofstream> file;  ///< none for a closed slot
  std::string tag;
};

std::mutex logs_mutex;
std::vector<Log> logs;  // handle n is logs[n - 1]; a closed slot has no file

std::string timestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t secs = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  if (const std::tm* tm = std::localtime(&secs)) local = *tm;  // under logs_mutex: one shared buffer
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms));
  return text;
}

}  // namespace

extern "C" {

/// Opens a log appending to file_path under tag; the three numbers are accepted and
/// ignored. Returns a handle from 1 up, or 0 when the file cannot be opened for appending.
PRAXIAPI_EXPORT int PRAXIAPI_CALL LOG_open_multithreaded(const char* tag, const char* file_path, int, int, int) {
  if (!file_path || !*file_path) return 0;
  const std::string utf8 = platform::from_ansi(file_path);
  const std::filesystem::path path(std::u8string(utf8.begin(), utf8.end()));
  auto file = std::make_unique<std::ofstream>(path, std::ios::binary | std::ios::app);
  if (!*file) return 0;
  std::lock_guard lock(logs_mutex);
  std::size_t slot = 0;
  while (slot < logs.size() && logs[slot].file) ++slot;
  if (slot == logs.size()) logs.emplace_back();
  logs[slot] = Log{std::move(file), tag ? tag : ""};
  return static_cast<int>(slot + 1);
}

/// Appends one line to the log; an unknown handle is ignored.
PRAXIAPI_EXPORT void PRAXIAPI_CALL LOG_signal(int handle, const char* line) {
  std::lock_guard lock(logs_mutex);
  const std::string stamp = timestamp();
  if (handle < 1 || static_cast<std::size_t>(handle) > logs.size() || !logs[handle - 1].file) return;
  Log& log = logs[handle - 1];
  const std::string text = stamp + "\t" + log.tag + "\t" + (line ? line : "") + "\n";
  log.file->write(text.data(), static_cast<std::streamsize>(text.size()));
  log.file->flush();
}

#ifndef PRAXIAPI_WITHOUT_DESTROY
/// Closes the log; an unknown handle is ignored.
PRAXIAPI_EXPORT void PRAXIAPI_CALL LOG_destroy(int handle) {
  std::lock_guard lock(logs_mutex);
  if (handle < 1 || static_cast<std::size_t>(handle) > logs.size() || !logs[handle - 1].file) return;
  logs[handle - 1] = Log{};
}
#endif

}  // extern "C"

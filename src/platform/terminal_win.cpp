// The console on Windows: the wide command line, and the password read from the console
// with echo turned off.
// windows.h first: the other Windows headers rely on its types.
#include <windows.h>

#include <shellapi.h>

#include "platform/terminal.hpp"
#include "platform/win_text.hpp"

namespace platform {

namespace {

class ConsoleHandle {
 public:
  explicit ConsoleHandle(const wchar_t* name)
      : handle_(::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr)) {}
  ~ConsoleHandle() {
    if (ok()) ::CloseHandle(handle_);
  }
  ConsoleHandle(const ConsoleHandle&) = delete;
  ConsoleHandle& operator=(const ConsoleHandle&) = delete;
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

void write_console(HANDLE out, const std::wstring& text) {
  DWORD written = 0;
  ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

bool keep_standard_streams_apart() {
  // Files are opened as handles (CreateFileW), which never take the number of a closed
  // standard stream's descriptor.
  return true;
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(win::narrow(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

bool stderr_is_terminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::optional<std::string> read_password_from_terminal(const std::string& prompt, std::size_t max_size) {
  const ConsoleHandle in(L"CONIN$");
  const ConsoleHandle out(L"CONOUT$");
  DWORD saved = 0;
  if (!in.ok() || !out.ok() || !::GetConsoleMode(in.get(), &saved)) return std::nullopt;
  ::SetConsoleMode(in.get(), (saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~DWORD{ENABLE_ECHO_INPUT});
  write_console(out.get(), win::widen(prompt));
  std::wstring line;
  bool read_ok = true;
  for (;;) {
    wchar_t c = 0;
    DWORD n = 0;
    if (!::ReadConsoleW(in.get(), &c, 1, &n, nullptr) || n == 0) {
      read_ok = false;
      break;
    }
    if (c == L'\n') break;
    // Each character is at least one byte of UTF-8: more than max_size of them are too many.
    if (c != L'\r' && line.size() <= max_size) line += c;
  }
  ::SetConsoleMode(in.get(), saved);
  write_console(out.get(), L"\r\n");  // the line end the user typed was not echoed
  if (!read_ok) return std::nullopt;
  return win::narrow(line);
}

}  // namespace platform

// Opens a set-up program with its pages, as whoever installs does, goes on from its first
// page to its folder page, and writes there the text of the line that starts with PREFIX to
// OUT_FILE (UTF-8); then ends the set-up program, which has installed nothing by then.
// Exit 0 when the line was found, 1 when it was not within a minute, 2 on bad arguments.
//   setup_pages_probe SETUP_EXE PREFIX OUT_FILE
#include <windows.h>

#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/win_text.hpp"

namespace {

struct TopSearch {
  DWORD process;
  HWND found = nullptr;
};

// The set-up program's own window: a visible dialog of its process.
BOOL CALLBACK find_top(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<TopSearch*>(data);
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  wchar_t kind[16] = {};
  ::GetClassNameW(window, kind, 16);
  if (process != search->process || !::IsWindowVisible(window) || std::wstring(kind) != L"#32770") return TRUE;
  search->found = window;
  return FALSE;
}

struct LineSearch {
  std::wstring prefix;
  std::wstring found;
};

BOOL CALLBACK find_line(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<LineSearch*>(data);
  wchar_t text[512] = {};
  ::GetWindowTextW(window, text, 512);
  if (!::IsWindowVisible(window) || std::wstring(text).rfind(search->prefix, 0) != 0) return TRUE;
  search->found = text;
  return FALSE;
}

}  // namespace

int main() {
  // The arguments as the system holds them, in UTF-16: the paths may hold any letter.
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc != 4) return 2;
  std::wstring command = L"\"" + std::wstring(argv[1]) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return 1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  TopSearch top{process.dwProcessId};
  LineSearch line{argv[2], {}};
  bool next_pressed = false;
  while (std::chrono::steady_clock::now() < deadline && line.found.empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!top.found) ::EnumWindows(find_top, reinterpret_cast<LPARAM>(&top));
    if (!top.found) continue;
    HWND next = ::GetDlgItem(top.found, IDOK);
    if (!next_pressed && next && ::IsWindowEnabled(next)) {
      // "Avanti" on the first page: the folder page follows.
      ::PostMessageW(top.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(next));
      next_pressed = true;
      continue;
    }
    if (next_pressed) ::EnumChildWindows(top.found, find_line, reinterpret_cast<LPARAM>(&line));
  }
  ::TerminateProcess(process.hProcess, 0);
  ::WaitForSingleObject(process.hProcess, 10000);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  if (line.found.empty()) return 1;
  const std::string text = platform::win::narrow(line.found);
  FILE* out = ::_wfopen(argv[3], L"wb");
  if (!out) return 1;
  std::fwrite(text.data(), 1, text.size(), out);
  std::fclose(out);
  return 0;
}

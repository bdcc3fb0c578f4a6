// windows.h first: the other Windows headers rely on its types.
#include <windows.h>

#include <tlhelp32.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "child_processes.hpp"
#include "platform/win_text.hpp"
#include "praxilo_class_win.hpp"
#include "protocol/automation_protocol.hpp"
#include "test_support.hpp"

namespace test_support {

namespace {

using platform::win::widen;

std::wstring lower(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return text;
}

}  // namespace

void set_environment(const std::string& name, const std::optional<std::string>& value) {
  // _wputenv_s updates both the C library's copy and the process's environment; an empty
  // value removes the variable, as Windows has no empty ones.
  ::_wputenv_s(widen(name).c_str(), value ? widen(*value).c_str() : L"");
}

std::vector<ProcessId> live_children(const std::string& program) {
  std::vector<ProcessId> found;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  const DWORD self = ::GetCurrentProcessId();
  const std::wstring wanted = lower(widen(program) + L".exe");
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self) continue;
    // COM starts a local server on behalf of its client: the server's parent is not the
    // test process, so a program's processes are taken by name.
    const bool match = program.empty() ? entry.th32ParentProcessID == self : lower(entry.szExeFile) == wanted;
    if (match) found.push_back(entry.th32ProcessID);
  }
  ::CloseHandle(snapshot);
  return found;
}

CommandOutput run_command(const std::string& command) {
  CommandOutput result;
  // cmd.exe /c strips the outer quotes of a command line that starts with one.
  FILE* pipe = ::_wpopen(widen("\"" + command + "\"").c_str(), L"rb");
  if (!pipe) return result;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) result.output += buffer;
  result.status = ::_pclose(pipe);
  return result;
}

bool running_as_root() { return false; }

bool make_fifo(const std::filesystem::path&) { return false; }

bool end_process(ProcessId id) {
  HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
  if (!process) return false;
  const bool ended = ::TerminateProcess(process, 9) != 0;
  if (ended) ::WaitForSingleObject(process, 5000);
  ::CloseHandle(process);
  return ended;
}

bool stop_process(ProcessId) { return false; }

bool process_exists(ProcessId id) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
  if (!process) return false;
  const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  ::CloseHandle(process);
  return running;
}

ServerClass::ServerClass(const std::string& command_line) {
  // One registration serves every test process of the Wine prefix (or the machine):
  // the tests that need it take turns. A lock left by a test that was killed is handed on.
  const HANDLE lock = ::CreateMutexW(nullptr, FALSE, L"Local\\pivzona12-tests-praxilo-server-class");
  if (!lock) throw std::runtime_error("ServerClass: CreateMutexW failed");
  const DWORD waited = ::WaitForSingleObject(lock, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    ::CloseHandle(lock);
    throw std::runtime_error("ServerClass: the registration lock cannot be taken");
  }
  lock_ = lock;
  previous_ = praxilo_db::registered_server_command();
  std::vector<std::string> words = platform::protocol::split_command_line(command_line);
  const bool standin = !words.empty() && lower(std::filesystem::path(widen(words[0])).filename().wstring()) ==
                                             lower(bin_program("praxilo-server").filename().wstring());
  std::string error;
  if (standin && server_form() == ServerForm::in_process) {
    std::filesystem::path dll = std::filesystem::path(widen(words[0])).replace_extension(L".dll");
    words.erase(words.begin());
    error = praxilo_db::register_inproc_server_class(platform::win::narrow(dll.wstring()),
                                                     platform::protocol::join_command_line(words));
  } else {
    error = praxilo_db::register_server_class(command_line);
  }
  if (!error.empty()) {
    ::ReleaseMutex(lock);
    ::CloseHandle(lock);
    throw std::runtime_error("ServerClass: " + error);
  }
}

ServerClass::~ServerClass() {
  if (previous_)
    praxilo_db::register_server_class(*previous_);
  else
    praxilo_db::unregister_server_class();
  ::ReleaseMutex(static_cast<HANDLE>(lock_));
  ::CloseHandle(static_cast<HANDLE>(lock_));
}

}  // namespace test_support

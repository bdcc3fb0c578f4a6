// Dynamic libraries on Windows: LoadLibraryExW of the library's full path in the current
// directory. A bare name would be searched for (the program's directory comes first) and
// a module of the same base name already loaded from elsewhere would be handed back.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/dynlib.hpp"
#include "platform/win_text.hpp"

namespace platform {

namespace {

class WinLibrary final : public DynamicLibrary {
 public:
  explicit WinLibrary(HMODULE module) : module_(module) {}
  ~WinLibrary() override { ::FreeLibrary(module_); }
  WinLibrary(const WinLibrary&) = delete;
  WinLibrary& operator=(const WinLibrary&) = delete;

  void* symbol(const std::string& name) const override {
    return reinterpret_cast<void*>(::GetProcAddress(module_, name.c_str()));
  }

 private:
  HMODULE module_;
};

std::wstring wide_current_directory() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0) return {};
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(n + 1);
  }
}

}  // namespace

std::unique_ptr<DynamicLibrary> load_library(const std::string& windows_name) {
  if (windows_name.empty()) return nullptr;
  std::wstring path = wide_current_directory();
  if (path.empty()) return nullptr;
  if (path.back() != L'\\' && path.back() != L'/') path += L'\\';
  path += win::widen(windows_name);
  // No system dialog about a missing or broken library: the caller reports it.
  DWORD old_mode = 0;
  ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_mode);
  HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ::SetThreadErrorMode(old_mode, nullptr);
  if (!module) return nullptr;
  return std::make_unique<WinLibrary>(module);
}

std::string current_directory() { return win::narrow(wide_current_directory()); }

bool set_current_directory(const std::string& path) {
  return !path.empty() && ::SetCurrentDirectoryW(win::widen(path).c_str()) != 0;
}

}  // namespace platform

// The registry on Windows: the system registry through the Win32 registry API, opened
// for reading only. When PIVZONA12_REGISTRY names a ".reg" file, that file serves instead
// (the settings of the tests and of the demo installation).
#include <windows.h>

#include <cstdlib>
#include <vector>

#include "platform/registry.hpp"
#include "platform/registry_file.hpp"
#include "platform/win_text.hpp"

namespace platform {

namespace {

HKEY root_key(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::classes_root:
      return HKEY_CLASSES_ROOT;
    case RegistryRoot::current_user:
      return HKEY_CURRENT_USER;
    case RegistryRoot::users:
      return HKEY_USERS;
    case RegistryRoot::local_machine:
      break;
  }
  return HKEY_LOCAL_MACHINE;
}

class OpenKey {
 public:
  OpenKey(HKEY root, const std::wstring& path) {
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~OpenKey() {
    if (key_) ::RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

RegistryValue registry_read(RegistryRoot root, std::string_view key, std::string_view name) {
  RegistryValue result;
  try {
    if (const wchar_t* file = ::_wgetenv(L"PIVZONA12_REGISTRY"); file && *file)
      return read_registry_file(std::filesystem::path(file), root, key, name);

    while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
    const OpenKey opened(root_key(root), win::widen(key));
    if (!opened.get()) return result;
    result.status = RegistryStatus::value_missing;
    const std::wstring value_name = name == "@" ? std::wstring() : win::widen(name);

    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = ::RegQueryValueExW(opened.get(), value_name.c_str(), nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) return result;
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
      result.status = RegistryStatus::not_a_string;
      return result;
    }
    // The value may grow between the two reads: ask again with the size it then reports.
    std::vector<wchar_t> buffer;
    do {
      buffer.assign(size / sizeof(wchar_t) + 1, L'\0');
      size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
      status = ::RegQueryValueExW(opened.get(), value_name.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(buffer.data()), &size);
    } while (status == ERROR_MORE_DATA);
    if (status != ERROR_SUCCESS) return result;
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
      result.status = RegistryStatus::not_a_string;
      return result;
    }
    // A stored string need not end with its terminating zero, and may hold several.
    std::wstring text(buffer.data(), size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    result.status = RegistryStatus::ok;
    result.text = win::narrow(text);
  } catch (...) {
    result = RegistryValue{};
  }
  return result;
}

}  // namespace platform

// The registry on Windows: the system registry through the Win32 registry API, opened
// for reading only. When PIVZONA12_REGISTRY names a ".reg" file, that file serves instead
// (the settings of the tests and of the demo installation).
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
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
  /// view: 0 for the program's own registry view, else KEY_WOW64_32KEY or KEY_WOW64_64KEY.
  OpenKey(HKEY root, const std::wstring& path, REGSAM view) {
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key_) != ERROR_SUCCESS) key_ = nullptr;
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

/// How long after its modification a file counts as recent: well above the tick of the
/// file systems' clocks (two seconds on FAT).
constexpr std::int64_t recent_ns = 3'000'000'000;

/// FILETIME (100 ns units since 1601) as nanoseconds.
std::int64_t nanoseconds(const FILETIME& t) {
  const std::uint64_t ticks = (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
  return static_cast<std::int64_t>(ticks) * 100;
}

std::int64_t now_ns() {
  FILETIME now{};
  ::GetSystemTimePreciseAsFileTime(&now);
  return nanoseconds(now);
}

/// The state of an opened handle when it is a regular disk file.
std::optional<FileState> state_of(HANDLE file, std::int64_t now) {
  if (::GetFileType(file) != FILE_TYPE_DISK) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) return std::nullopt;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  FileState state;
  state.stamp.device = info.dwVolumeSerialNumber;
  state.stamp.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  state.stamp.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  state.stamp.modified_ns = nanoseconds(info.ftLastWriteTime);
  state.recent = now - state.stamp.modified_ns < recent_ns;
  return state;
}

class OpenFile {
 public:
  explicit OpenFile(const std::filesystem::path& path)
      : handle_(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~OpenFile() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  HANDLE get() const { return handle_; }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

}  // namespace

std::optional<FileState> regular_file_state(const std::filesystem::path& path) {
  const std::int64_t now = now_ns();
  const OpenFile file(path);
  if (!file.ok()) return std::nullopt;
  return state_of(file.get(), now);
}

std::optional<std::string> read_regular_file(const std::filesystem::path& path, std::uintmax_t max_size,
                                             FileState& state) {
  const std::int64_t now = now_ns();
  const OpenFile file(path);
  if (!file.ok()) return std::nullopt;
  // The type is checked on the opened file: a pipe or a device is never read.
  const std::optional<FileState> opened = state_of(file.get(), now);
  if (!opened || opened->stamp.size > max_size) return std::nullopt;
  std::string data(static_cast<std::size_t>(opened->stamp.size), '\0');
  std::size_t used = 0;
  while (used < data.size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(data.size() - used, 1u << 20));
    if (!::ReadFile(file.get(), data.data() + used, want, &got, nullptr)) return std::nullopt;
    if (got == 0) break;  // shorter than when it was opened
    used += got;
  }
  data.resize(used);
  state = *opened;
  return data;
}

namespace {

/// Reads one value in one registry view (0: the program's own).
RegistryValue read_in_view(HKEY root, const std::wstring& key, std::string_view name, REGSAM view) {
  RegistryValue result;
  const OpenKey opened(root, key, view);
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
  // A stored string need not end with its terminating zero, and may hold several, or a
  // zero before its end: the rule of every registry reader says what is kept.
  return registry_string(win::narrow(std::wstring(buffer.data(), size / sizeof(wchar_t))));
}

/// On 64-bit Windows HKEY_LOCAL_MACHINE\SOFTWARE has a 32-bit and a 64-bit view: the
/// records product writes its keys in the view of its own architecture, which may not be
/// this program's. The view this program does not see by default.
constexpr REGSAM other_view = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

}  // namespace

RegistryValue registry_read(RegistryRoot root, std::string_view key, std::string_view name) {
  try {
    if (const wchar_t* file = ::_wgetenv(L"PIVZONA12_REGISTRY"); file && *file)
      return read_registry_file(std::filesystem::path(file), root, key, name);

    while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
    const std::wstring path = win::widen(key);
    const HKEY hive = root_key(root);
    RegistryValue own = read_in_view(hive, path, name, 0);
    // A key or value missing in the program's own view of the machine's keys is looked
    // for in the other view (on 32-bit Windows there is one view, read twice).
    // A value there but unusable (not a string, or a bad text) is not looked for further.
    if (root != RegistryRoot::local_machine || own.status == RegistryStatus::ok ||
        own.status == RegistryStatus::not_a_string || own.status == RegistryStatus::bad_text)
      return own;
    RegistryValue other = read_in_view(hive, path, name, other_view);
    if (other.status == RegistryStatus::key_missing) return own;
    return other;
  } catch (...) {
    return RegistryValue{};
  }
}

}  // namespace platform

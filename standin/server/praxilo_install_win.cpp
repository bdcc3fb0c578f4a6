#include "praxilo_class_win.hpp"
#include "praxilo_install.hpp"

#include <windows.h>

#include <string>
#include <vector>

#include "platform/win_text.hpp"

namespace praxilo_db {

namespace {

using platform::win::narrow;
using platform::win::widen;

std::string system_message(LSTATUS status) {
  wchar_t* text = nullptr;
  ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, static_cast<DWORD>(status), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = text ? narrow(text) : "errore " + std::to_string(status);
  if (text) ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  return message;
}

// Sets a text value (nullptr name: the key's default value) under HKEY_CLASSES_ROOT\key.
LSTATUS set_text(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle = nullptr;
  LSTATUS status = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_SET_VALUE, nullptr, &handle, nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = ::RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(handle);
  return status;
}

std::wstring clsid_key() { return std::wstring(L"CLSID\\") + server_clsid; }

}  // namespace

const char* const library_file = "praxiapi.dll";
const char* const server_file = "praxilo-server.exe";

std::filesystem::path program_directory() {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0) return {};
    if (n < name.size()) {
      name.resize(n);
      return std::filesystem::path(name).parent_path();
    }
    name.resize(name.size() * 2);
  }
}

std::string register_server_class(const std::string& command_line) {
  const std::wstring progid = server_progid;
  const struct {
    std::wstring key;
    const wchar_t* name;
    std::wstring value;
  } values[] = {
      {progid, nullptr, progid},
      {progid + L"\\CLSID", nullptr, server_clsid},
      {clsid_key(), nullptr, progid},
      {clsid_key() + L"\\ProgID", nullptr, progid},
      {clsid_key() + L"\\LocalServer32", nullptr, platform::win::widen(command_line)},
  };
  for (const auto& v : values) {
    const LSTATUS status = set_text(v.key, v.name, v.value);
    if (status != ERROR_SUCCESS)
      return "HKEY_CLASSES_ROOT\\" + narrow(v.key) + ": " + system_message(status);
  }
  return {};
}

std::string unregister_server_class() {
  for (const std::wstring& key : {std::wstring(server_progid), clsid_key()}) {
    const LSTATUS status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
      return "HKEY_CLASSES_ROOT\\" + narrow(key) + ": " + system_message(status);
    // RegDeleteTreeW empties the key; the key itself goes with RegDeleteKeyW.
    const LSTATUS removed = ::RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND)
      return "HKEY_CLASSES_ROOT\\" + narrow(key) + ": " + system_message(removed);
  }
  return {};
}

std::optional<std::string> registered_server_command() {
  const std::wstring key = clsid_key() + L"\\LocalServer32";
  DWORD size = 0;
  if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text.data(), &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return narrow(text.data());
}

}  // namespace praxilo_db

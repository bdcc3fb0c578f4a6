#include <windows.h>

#include <string>
#include <vector>

#include "platform/win_text.hpp"
#include "praxilo_class_win.hpp"
#include "praxilo_install.hpp"

namespace praxilo_db {

namespace {

using platform::win::narrow;
using platform::win::widen;

std::string system_message(LSTATUS status) {
  wchar_t* text = nullptr;
  ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   static_cast<DWORD>(status), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = text ? narrow(text) : "errore " + std::to_string(status);
  if (text) ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  return message;
}

// Sets a text value (nullptr name: the key's default value) under HKEY_CLASSES_ROOT\key,
// in the registry view view (0: the program's own).
LSTATUS set_text(const std::wstring& key, const wchar_t* name, const std::wstring& value, REGSAM view = 0) {
  HKEY handle = nullptr;
  LSTATUS status = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_SET_VALUE | view, nullptr, &handle, nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = ::RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(handle);
  return status;
}

std::wstring clsid_key() { return std::wstring(L"CLSID\\") + server_clsid; }

constexpr REGSAM view_32 = KEY_WOW64_32KEY;

// Removes HKEY_CLASSES_ROOT\key and everything under it, in view; "" also when it is missing.
std::string remove_key(const std::wstring& key, REGSAM view = 0) {
  HKEY parent = nullptr;
  const std::size_t cut = key.rfind(L'\\');
  const std::wstring parent_path = cut == std::wstring::npos ? std::wstring() : key.substr(0, cut);
  const std::wstring leaf = cut == std::wstring::npos ? key : key.substr(cut + 1);
  LSTATUS status = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, parent_path.c_str(), 0, KEY_ALL_ACCESS | view, &parent);
  if (status == ERROR_FILE_NOT_FOUND) return {};
  if (status != ERROR_SUCCESS) return "HKEY_CLASSES_ROOT\\" + narrow(key) + ": " + system_message(status);
  // RegDeleteTreeW empties the key; the key itself goes with RegDeleteKeyExW.
  status = ::RegDeleteTreeW(parent, leaf.c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
    status = ::RegDeleteKeyExW(parent, leaf.c_str(), view, 0);
  ::RegCloseKey(parent);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
    return "HKEY_CLASSES_ROOT\\" + narrow(key) + ": " + system_message(status);
  return {};
}

// Writes the ProgID's keys and the CLSID's with one server key, after removing the other.
std::string register_class(const std::wstring& server_key, const std::wstring& server, const std::wstring& arguments,
                           REGSAM view) {
  const std::wstring progid = server_progid;
  const std::wstring other = server_key == L"LocalServer32" ? L"InprocServer32" : L"LocalServer32";
  if (std::string error = remove_key(clsid_key() + L"\\" + other, view); !error.empty()) return error;
  struct Value {
    std::wstring key;
    const wchar_t* name;
    std::wstring value;
    REGSAM view;
  };
  std::vector<Value> values = {
      {progid, nullptr, progid, 0},
      {progid + L"\\CLSID", nullptr, server_clsid, 0},
      {clsid_key(), nullptr, progid, view},
      {clsid_key() + L"\\ProgID", nullptr, progid, view},
      {clsid_key() + L"\\" + server_key, nullptr, server, view},
  };
  if (server_key == L"InprocServer32") {
    values.push_back({clsid_key() + L"\\InprocServer32", L"ThreadingModel", L"Apartment", view});
    values.push_back({clsid_key() + L"\\InprocServer32", L"Arguments", arguments, view});
  }
  for (const Value& v : values) {
    const LSTATUS status = set_text(v.key, v.name, v.value, v.view);
    if (status != ERROR_SUCCESS) return "HKEY_CLASSES_ROOT\\" + narrow(v.key) + ": " + system_message(status);
  }
  return {};
}

// A text value under HKEY_CLASSES_ROOT, or nullopt.
std::optional<std::string> read_text(const std::wstring& key, const wchar_t* name) {
  DWORD size = 0;
  if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text.data(), &size) != ERROR_SUCCESS)
    return std::nullopt;
  return narrow(text.data());
}

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
  return register_class(L"LocalServer32", widen(command_line), {}, 0);
}

std::string register_inproc_server_class(const std::string& dll_path, const std::string& arguments, ClassView view) {
  return register_class(L"InprocServer32", widen(dll_path), widen(arguments), view == ClassView::bits32 ? view_32 : 0);
}

std::string unregister_server_class() {
  for (const REGSAM view : {REGSAM{0}, view_32}) {
    for (const std::wstring& key : {std::wstring(server_progid), clsid_key()})
      if (std::string error = remove_key(key, view); !error.empty()) return error;
  }
  return {};
}

std::optional<std::string> registered_server_command() { return read_text(clsid_key() + L"\\LocalServer32", nullptr); }

std::optional<std::string> registered_inproc_arguments() {
  return read_text(clsid_key() + L"\\InprocServer32", L"Arguments");
}

}  // namespace praxilo_db

#pragma once
// Read-only access to the registry. On POSIX the registry is a ".reg" export file
// ("Windows Registry Editor Version 5.00") named by PIVZONA12_REGISTRY; a missing
// variable or file means that every key is missing. Keys match without regard to case.
#include <string>
#include <string_view>

namespace platform {

enum class RegistryRoot { classes_root, current_user, local_machine, users };

enum class RegistryStatus {
  ok,             ///< the value exists and is a string; text holds it (UTF-8)
  key_missing,    ///< the key cannot be opened
  value_missing,  ///< the key exists, the value does not
  not_a_string,   ///< the value exists but is a dword, hex: or hex(N) other than the
                  ///< string types hex(1) and hex(2)
  bad_text,       ///< the value is a string, but holds a control character (a NUL before
                  ///< its end included): no path, name or switch does, and a reader that
                  ///< stops at the NUL would see another text than the rest of the program
};

struct RegistryValue {
  RegistryStatus status = RegistryStatus::key_missing;
  std::string text;
};

/// Reads one value, opening the key for reading only. key is a path below the root,
/// with or without a leading backslash; name "" (or "@") is the key's default value.
/// Under HKEY_LOCAL_MACHINE a key or value missing in the program's own registry view
/// (32- or 64-bit, on 64-bit Windows) is looked for in the other view, so that the keys
/// of a records product of either architecture are found. A string's terminating NULs
/// are not part of its text; a string holding any other control character is bad_text,
/// with an empty text, and is not looked for in the other view. Never throws.
RegistryValue registry_read(RegistryRoot root, std::string_view key, std::string_view name);

}  // namespace platform

#pragma once
// The ".reg" export file reader behind registry_read, and the two file services it needs
// from the platform: the stamp of a file and a bounded read that never blocks.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.hpp"

namespace platform {

/// Largest registry file read; a larger one holds no key.
inline constexpr std::uintmax_t max_registry_file_size = 64u * 1024u * 1024u;

/// What tells one state of a file from another.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modified_ns = 0;  ///< modification time, nanoseconds since the epoch
  bool operator==(const FileStamp&) const = default;
};

struct FileState {
  FileStamp stamp;
  /// Modified so lately that another change could still leave the same stamp: the
  /// file system's clock advances in ticks, so only an older time tells every later
  /// change apart.
  bool recent = false;
};

/// The state of path when it is a regular file (symbolic links followed); nullopt for
/// anything else (missing, a directory, a FIFO, a device). Never throws.
std::optional<FileState> regular_file_state(const std::filesystem::path& path);

/// The whole content of path when it is a regular file of at most max_size bytes, opened
/// so that neither opening nor reading can block; state receives the state of what was
/// read. nullopt for anything else, or when the file cannot be read. Never throws.
std::optional<std::string> read_regular_file(const std::filesystem::path& path, std::uintmax_t max_size,
                                             FileState& state);

/// The result for a string value's data (UTF-8) as the registry holds it, the one rule of
/// every reader: the NULs that end the data (its terminator, or several) are dropped; a
/// text that still holds a control character (U+0000 to U+001F, U+007F to U+009F) is
/// bad_text and its text empty, so that no use of the value can see a text other than
/// the one checked. Otherwise ok with the text.
RegistryValue registry_string(std::string data);

/// Reads one value from the ".reg" file (see registry_file.cpp for the format accepted),
/// with registry_read's meaning of key, name and result. A file that cannot be read
/// holds no key. Never throws.
RegistryValue read_registry_file(const std::filesystem::path& file, RegistryRoot root, std::string_view key,
                                 std::string_view name);

}  // namespace platform

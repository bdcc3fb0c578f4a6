#pragma once
// The ".reg" export file reader behind registry_read: the registry itself on POSIX, and on
// Windows the settings that tests and the demo supply through PIVZONA12_REGISTRY.
#include <filesystem>
#include <string_view>

#include "platform/registry.hpp"

namespace platform {

/// Reads one value from the ".reg" file (see registry_file.cpp for the format accepted),
/// with registry_read's meaning of key, name and result. A file that cannot be read
/// holds no key. Never throws.
RegistryValue read_registry_file(const std::filesystem::path& file, RegistryRoot root, std::string_view key,
                                 std::string_view name);

}  // namespace platform

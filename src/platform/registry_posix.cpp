// The registry on POSIX: the ".reg" export file named by PIVZONA12_REGISTRY; without it
// every key is missing.
#include <cstdlib>

#include "platform/registry.hpp"
#include "platform/registry_file.hpp"

namespace platform {

RegistryValue registry_read(RegistryRoot root, std::string_view key, std::string_view name) {
  const char* file = std::getenv("PIVZONA12_REGISTRY");
  if (!file || !*file) return {};
  return read_registry_file(file, root, key, name);
}

}  // namespace platform

#pragma once
// Dynamic libraries, loaded by the full path of a file in the current directory, and the
// process's current directory.
#include <memory>
#include <string>

namespace platform {

class DynamicLibrary {
 public:
  virtual ~DynamicLibrary() = default;  ///< unloads the library
  /// Address of an exported symbol, or nullptr when the library does not export it.
  virtual void* symbol(const std::string& name) const = 0;
};

/// Loads the library file of that Windows name ("praxiapi.dll") in the current directory,
/// by its full path: a bare name could hand back a library of that name loaded before from
/// elsewhere, on both platforms. On POSIX the ".dll" extension becomes ".so". Returns
/// nullptr when it cannot be loaded.
std::unique_ptr<DynamicLibrary> load_library(const std::string& windows_name);

/// The process's current directory, or "" when it cannot be read.
std::string current_directory();
/// Makes path the current directory; false when that fails.
bool set_current_directory(const std::string& path);

}  // namespace platform

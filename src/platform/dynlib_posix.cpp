// Dynamic libraries on POSIX: dlopen of the library's file in the current directory, the
// Windows name's ".dll" turned into ".so".
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/dynlib.hpp"

namespace platform {

namespace {

class PosixLibrary final : public DynamicLibrary {
 public:
  explicit PosixLibrary(void* handle) : handle_(handle) {}
  ~PosixLibrary() override { dlclose(handle_); }
  PosixLibrary(const PosixLibrary&) = delete;
  PosixLibrary& operator=(const PosixLibrary&) = delete;

  void* symbol(const std::string& name) const override { return dlsym(handle_, name.c_str()); }

 private:
  void* handle_;
};

/// "praxiapi.dll" -> "praxiapi.so"; a name without extension gets ".so", as Windows
/// would add ".dll".
std::string posix_file_name(const std::string& windows_name) {
  const std::size_t slash = windows_name.find_last_of("/\\");
  const std::size_t dot = windows_name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return windows_name + ".so";
  std::string ext = windows_name.substr(dot);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (ext == ".dll") return windows_name.substr(0, dot) + ".so";
  return windows_name;
}

}  // namespace

std::unique_ptr<DynamicLibrary> load_library(const std::string& windows_name) {
  if (windows_name.empty()) return nullptr;
  const std::string cwd = current_directory();
  if (cwd.empty()) return nullptr;
  // The absolute path: the loader recognises a library already loaded by the name it was
  // given, so a relative "./x.so" from another directory would answer the first one.
  std::string path = cwd;
  if (path.back() != '/') path += '/';
  path += posix_file_name(windows_name);
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return nullptr;
  return std::make_unique<PosixLibrary>(handle);
}

std::string current_directory() {
  std::vector<char> buffer(4096);
  while (true) {
    if (getcwd(buffer.data(), buffer.size())) return buffer.data();
    if (errno != ERANGE || buffer.size() > (1u << 20)) return {};
    buffer.resize(buffer.size() * 2);
  }
}

bool set_current_directory(const std::string& path) { return !path.empty() && chdir(path.c_str()) == 0; }

}  // namespace platform

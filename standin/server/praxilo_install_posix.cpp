#include "praxilo_install.hpp"

namespace praxilo_db {

const char* const library_file = "praxiapi.so";
const char* const server_file = "praxilo-server";

std::filesystem::path program_directory() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
}

}  // namespace praxilo_db

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "server_os.hpp"

namespace praxilo_server {

long process_id() { return static_cast<long>(::getpid()); }

std::FILE* create_new_file(const std::filesystem::path& path, bool& exists) {
  exists = false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    exists = errno == EEXIST;
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "wb");
  if (!file) ::close(fd);
  return file;
}

}  // namespace praxilo_server

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "server_os.hpp"

namespace praxilo_server {

long process_id() { return static_cast<long>(::getpid()); }

NewFile write_new_file(const std::filesystem::path& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? NewFile::name_taken : NewFile::not_created;
  bool written = true;
  while (written && !bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  written = ::close(fd) == 0 && written;
  if (!written) ::unlink(path.c_str());
  return written ? NewFile::written : NewFile::not_written;
}

}  // namespace praxilo_server

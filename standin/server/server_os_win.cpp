#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include "server_os.hpp"

namespace praxilo_server {

long process_id() { return static_cast<long>(::GetCurrentProcessId()); }

std::FILE* create_new_file(const std::filesystem::path& path, bool& exists) {
  exists = false;
  const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    return nullptr;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = ::_fdopen(fd, "wb");
  if (!file) ::_close(fd);
  return file;
}

}  // namespace praxilo_server

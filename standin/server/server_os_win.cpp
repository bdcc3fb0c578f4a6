#include <windows.h>

#include <algorithm>

#include "server_os.hpp"

namespace praxilo_server {

long process_id() { return static_cast<long>(::GetCurrentProcessId()); }

NewFile write_new_file(const std::filesystem::path& path, std::string_view bytes) {
  const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? NewFile::name_taken : NewFile::not_created;
  }
  bool written = true;
  while (written && !bytes.empty()) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD n = 0;
    written = ::WriteFile(handle, bytes.data(), piece, &n, nullptr) && n > 0;
    if (written) bytes.remove_prefix(n);
  }
  written = ::CloseHandle(handle) && written;
  if (!written) ::DeleteFileW(path.c_str());
  return written ? NewFile::written : NewFile::not_written;
}

}  // namespace praxilo_server

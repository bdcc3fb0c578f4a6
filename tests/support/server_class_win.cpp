// The class in the system registry, where COM finds it, for as long as a test needs it.
#include <windows.h>

#include <stdexcept>

#include "praxilo_class_win.hpp"
#include "test_support.hpp"

namespace test_support {

ServerClass::ServerClass(const std::string& command_line) {
  // One registration serves every test process of the Wine prefix (or the machine):
  // the tests that need it take turns. A lock left by a test that was killed is handed on.
  const HANDLE lock = ::CreateMutexW(nullptr, FALSE, L"Local\\pivzona12-tests-praxilo-server-class");
  if (!lock) throw std::runtime_error("ServerClass: CreateMutexW failed");
  const DWORD waited = ::WaitForSingleObject(lock, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    ::CloseHandle(lock);
    throw std::runtime_error("ServerClass: the registration lock cannot be taken");
  }
  lock_ = lock;
  previous_ = praxilo_db::registered_server_command();
  if (const std::string error = praxilo_db::register_server_class(command_line); !error.empty()) {
    ::ReleaseMutex(lock);
    ::CloseHandle(lock);
    throw std::runtime_error("ServerClass: " + error);
  }
}

ServerClass::~ServerClass() {
  if (previous_)
    praxilo_db::register_server_class(*previous_);
  else
    praxilo_db::unregister_server_class();
  ::ReleaseMutex(static_cast<HANDLE>(lock_));
  ::CloseHandle(static_cast<HANDLE>(lock_));
}

}  // namespace test_support

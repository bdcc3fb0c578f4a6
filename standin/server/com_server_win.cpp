// praxilo-server.exe: the records product's automation server "Praxilo.Server" as a COM
// local server over an SQLite records database (the object is in com_object_win.cpp, the
// methods in server_methods.cpp).
//
//   praxilo-server.exe DB_FILE [INSTALL_DIR] [--strict]   (COM adds -Embedding or /Embedding)
//
// The class object is registered for a single use, so that every CoCreateInstance starts
// a process of its own; the process ends when its object is released. --strict accepts
// texts only by reference. PRAXILO_SERVER_EXIT_AFTER=N makes the process exit, without
// answering, at its N-th call.
#include <windows.h>

#include <ole2.h>

#include <cstdio>
#include <string>
#include <vector>

#include "com_object_win.hpp"
#include "platform/win_text.hpp"
#include "praxilo_class_win.hpp"
#include "protocol/automation_protocol.hpp"

using platform::win::narrow;

namespace {

/// Objects alive and LockServer locks: the process ends when both are gone.
LONG module_references = 0;
bool object_created = false;

void add_module_reference() { ::InterlockedIncrement(&module_references); }
void release_module_reference() {
  if (::InterlockedDecrement(&module_references) == 0) ::PostQuitMessage(0);
}

// The class object: it makes the one object this process serves.
class Factory final : public praxilo_com::StaticClassFactory {
 public:
  explicit Factory(const praxilo_com::ServerOptions& options) : options_(options) {}

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (object_created) return CO_E_SERVER_STOPPING;  // one object per process
    object_created = true;
    add_module_reference();
    IDispatch* object = praxilo_com::new_praxilo_object(options_, release_module_reference);
    const HRESULT hr = object->QueryInterface(riid, out);
    object->Release();  // the caller's reference is the one left, or none
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      add_module_reference();
    else
      release_module_reference();
    return S_OK;
  }

 private:
  const praxilo_com::ServerOptions& options_;
};

// The program's arguments as UTF-8, without the switch COM adds when it starts a server.
std::vector<std::string> server_arguments() {
  std::vector<std::string> words = platform::protocol::split_command_line(narrow(::GetCommandLineW()));
  std::vector<std::string> kept;
  for (std::size_t i = 1; i < words.size(); ++i) {
    std::string lower = words[i];
    for (char& c : lower)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (lower != "-embedding" && lower != "/embedding") kept.push_back(words[i]);
  }
  return kept;
}

}  // namespace

int main() {
  std::string usage;
  std::optional<praxilo_com::ServerOptions> options = praxilo_com::parse_options(server_arguments(), usage);
  if (!options) {
    std::fprintf(stderr, "%s\n", usage.c_str());
    return 2;
  }
  options->may_exit = true;

  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    std::fprintf(stderr, "praxilo-server: COM non disponibile\n");
    return 1;
  }
  CLSID clsid{};
  Factory factory(*options);
  DWORD cookie = 0;
  HRESULT hr = ::CLSIDFromString(praxilo_db::server_clsid, &clsid);
  if (SUCCEEDED(hr)) hr = ::CoRegisterClassObject(clsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &cookie);
  if (FAILED(hr)) {
    std::fprintf(stderr, "praxilo-server: registrazione della classe non riuscita (0x%08lx)\n",
                 static_cast<unsigned long>(hr));
    ::CoUninitialize();
    return 1;
  }

  // A process that COM started and that nobody connects to within a minute ends.
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 60 * 1000, nullptr);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == timer) {
      ::KillTimer(nullptr, timer);
      if (!object_created) break;
      continue;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  ::CoRevokeClassObject(cookie);
  ::CoUninitialize();
  return 0;
}

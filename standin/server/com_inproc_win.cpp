// praxilo-server.dll: the records product's automation server "Praxilo.Server" as a COM
// in-process server, with the same object and methods as praxilo-server.exe, loaded into
// its client. Its class is registered under InprocServer32 (ThreadingModel Apartment);
// the value "Arguments" of that key holds what the local server takes on its command
// line, "DB_FILE [INSTALL_DIR] [--strict]". Each object opens the database for itself.
#include <windows.h>

#include <ole2.h>

#include <string>
#include <vector>

#include "com_object_win.hpp"
#include "platform/win_text.hpp"
#include "praxilo_class_win.hpp"
#include "protocol/automation_protocol.hpp"

namespace {

/// Objects alive and LockServer locks: the DLL may be unloaded when both are gone.
LONG dll_references = 0;

void release_dll_reference() { ::InterlockedDecrement(&dll_references); }

// The class object, one for the DLL's life.
class Factory final : public praxilo_com::StaticClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    std::string error;
    const std::optional<std::string> arguments = praxilo_db::registered_inproc_arguments();
    if (!arguments) return REGDB_E_READREGDB;
    std::optional<praxilo_com::ServerOptions> options =
        praxilo_com::parse_options(platform::protocol::split_command_line(*arguments), error);
    if (!options) return REGDB_E_INVALIDVALUE;
    ::InterlockedIncrement(&dll_references);
    IDispatch* object = praxilo_com::new_praxilo_object(*options, release_dll_reference);
    const HRESULT hr = object->QueryInterface(riid, out);
    object->Release();  // the caller's reference is the one left, or none
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      ::InterlockedIncrement(&dll_references);
    else
      ::InterlockedDecrement(&dll_references);
    return S_OK;
  }
};

Factory factory;

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  CLSID ours{};
  if (FAILED(::CLSIDFromString(praxilo_db::server_clsid, &ours)) || !IsEqualCLSID(clsid, ours))
    return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return dll_references == 0 ? S_OK : S_FALSE; }

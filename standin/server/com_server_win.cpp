// praxilo-server.exe: the records product's automation server "Praxilo.Server" as a COM
// local server over an SQLite records database (the Windows transport; the methods
// themselves are in server_methods.cpp).
//
//   praxilo-server.exe DB_FILE [INSTALL_DIR]        (COM adds -Embedding or /Embedding)
//
// The class object is registered for a single use, so that every CoCreateInstance starts
// a process of its own; the process ends when its object is released. The object offers
// IDispatch only: names are found without regard to case, text arguments come as BSTR
// (by value or by reference), an omitted argument as VT_ERROR DISP_E_PARAMNOTFOUND, and
// a failed method as DISP_E_EXCEPTION with its text as the description.
// PRAXILO_SERVER_EXIT_AFTER=N makes the process exit, without answering, at its N-th call;
// while the file named by PRAXILO_SERVER_HOLD_FILE exists, every call waits.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/automation_protocol.hpp"
#include "praxilo_class_win.hpp"
#include "praxilo_db.hpp"
#include "server_methods.hpp"
#include "platform/paths.hpp"
#include "platform/win_text.hpp"

namespace fs = std::filesystem;
using platform::Argument;
using platform::Variant;
using platform::win::narrow;
using platform::win::widen;

namespace {

/// Objects alive and LockServer locks: the process ends when both are gone.
LONG module_references = 0;
bool object_created = false;

void add_module_reference() { ::InterlockedIncrement(&module_references); }
void release_module_reference() {
  if (::InterlockedDecrement(&module_references) == 0) ::PostQuitMessage(0);
}

/// What the calls are answered from: the methods over an open database, or, when the
/// database could not be opened, the reason, which every call then fails with.
struct Service {
  std::optional<praxilo_server::Methods> methods;
  std::string startup_error;
  long exit_after = 0;
  long calls = 0;
  fs::path hold_file;  ///< while it exists, every call waits (a slow records product)
};

HRESULT raise(EXCEPINFO* info, const std::string& text) {
  if (info) {
    *info = EXCEPINFO{};
    info->scode = E_FAIL;
    info->bstrSource = ::SysAllocString(L"Praxilo.Server");
    const std::wstring description = platform::win::widen(text);
    info->bstrDescription = ::SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
  }
  return DISP_E_EXCEPTION;
}

// One argument of Invoke as a text or "omitted"; false for a value that is no text.
bool read_argument(const VARIANT& given, Argument& out) {
  const VARIANT* v = &given;
  if (V_VT(v) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(v)) v = V_VARIANTREF(v);
  if (V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND) {
    out = Argument::missing();
    return true;
  }
  if (V_VT(v) == VT_BSTR || V_VT(v) == (VT_BSTR | VT_BYREF)) {
    const BSTR text = V_VT(v) == VT_BSTR ? V_BSTR(v) : (V_BSTRREF(v) ? *V_BSTRREF(v) : nullptr);
    out = Argument::of(text ? narrow(std::wstring_view(text, ::SysStringLen(text))) : std::string());
    return true;
  }
  VARIANT converted;
  ::VariantInit(&converted);
  if (FAILED(::VariantChangeType(&converted, const_cast<VARIANT*>(v), 0, VT_BSTR))) return false;
  out = Argument::of(narrow(std::wstring_view(V_BSTR(&converted), ::SysStringLen(V_BSTR(&converted)))));
  ::VariantClear(&converted);
  return true;
}

void write_result(const Variant& value, VARIANT* result) {
  if (!result) return;
  ::VariantInit(result);
  switch (value.kind) {
    case Variant::Kind::empty:
      break;
    case Variant::Kind::null:
      V_VT(result) = VT_NULL;
      break;
    case Variant::Kind::text: {
      const std::wstring text = platform::win::widen(value.text);
      V_VT(result) = VT_BSTR;
      V_BSTR(result) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      break;
    }
    case Variant::Kind::integer:
      if (value.integer >= INT32_MIN && value.integer <= INT32_MAX) {
        V_VT(result) = VT_I4;
        V_I4(result) = static_cast<LONG>(value.integer);
      } else {
        V_VT(result) = VT_I8;
        V_I8(result) = value.integer;
      }
      break;
  }
}

class PraxiloObject final : public IDispatch {
 public:
  explicit PraxiloObject(Service& service) : service_(service) { add_module_reference(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = ::InterlockedDecrement(&references_);
    if (left == 0) {
      delete this;
      release_module_reference();
    }
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids) return E_POINTER;
    if (count == 0) return S_OK;
    HRESULT hr = S_OK;
    std::optional<int> id;
    if (names[0]) {
      // Every number is known while the database is missing, so that the call itself says why.
      const std::string name = narrow(names[0]);
      id = service_.methods ? service_.methods->find(name) : std::optional<int>(1);
      // An unknown name fails here rather than at the call: get_error tells it then, as it
      // does after the pipe transport's call of an unknown method.
      if (!id) service_.methods->call(name, {});
    }
    ids[0] = id ? static_cast<DISPID>(*id) : DISPID_UNKNOWN;
    if (!id) hr = DISP_E_UNKNOWNNAME;
    for (UINT i = 1; i < count; ++i) {  // the methods have no named parameters
      ids[i] = DISPID_UNKNOWN;
      hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* info, UINT* bad_argument) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
    if (service_.methods && service_.methods->name_of(static_cast<int>(id)).empty()) return DISP_E_MEMBERNOTFOUND;
    if (params && params->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
    if (service_.exit_after > 0 && ++service_.calls >= service_.exit_after)
      ::TerminateProcess(::GetCurrentProcess(), 3);  // fault injection: no answer
    // Fault injection: a slow records product, whose answer waits while the file exists.
    std::error_code ec;
    while (!service_.hold_file.empty() && fs::exists(service_.hold_file, ec)) ::Sleep(10);
    if (!service_.methods) return raise(info, service_.startup_error);

    std::vector<Argument> args(params ? params->cArgs : 0);
    for (std::size_t i = 0; i < args.size(); ++i) {
      const UINT position = static_cast<UINT>(args.size() - 1 - i);  // rgvarg holds them last first
      if (!read_argument(params->rgvarg[position], args[i])) {
        if (bad_argument) *bad_argument = position;
        return DISP_E_TYPEMISMATCH;
      }
    }
    const praxilo_server::Answer answer = service_.methods->call(static_cast<int>(id), args);
    if (!answer.ok) return raise(info, answer.error);
    write_result(answer.result, result);
    return S_OK;
  }

 private:
  ~PraxiloObject() = default;

  LONG references_ = 1;
  Service& service_;
};

// The class object: it makes the one object this process serves.
class Factory final : public IClassFactory {
 public:
  explicit Factory(Service& service) : service_(service) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // It lives as long as main's stack frame.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (object_created) return CO_E_SERVER_STOPPING;  // one object per process
    object_created = true;
    auto* object = new PraxiloObject(service_);
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
  Service& service_;
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
  const std::vector<std::string> args = server_arguments();
  if (args.empty() || args.size() > 2) {
    std::fprintf(stderr, "uso: praxilo-server DB_FILE [INSTALL_DIR]\n");
    return 2;
  }
  const fs::path db_file = platform::path_from_utf8(args[0]);
  std::error_code ec;
  fs::path install_dir = args.size() == 2 ? platform::path_from_utf8(args[1]) : fs::absolute(db_file, ec).parent_path();
  if (install_dir.empty()) install_dir = ".";

  Service service;
  if (const char* n = std::getenv("PRAXILO_SERVER_EXIT_AFTER"); n && *n) service.exit_after = std::strtol(n, nullptr, 10);
  if (const wchar_t* h = ::_wgetenv(L"PRAXILO_SERVER_HOLD_FILE"); h && *h) service.hold_file = h;
  std::string error;
  sqlite3* db = praxilo_db::open(args[0], false, error);
  if (db)
    service.methods.emplace(db, install_dir);
  else
    service.startup_error = "praxilo-server: " + args[0] + ": " + error;

  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    std::fprintf(stderr, "praxilo-server: COM non disponibile\n");
    return 1;
  }
  CLSID clsid{};
  Factory factory(service);
  DWORD cookie = 0;
  HRESULT hr = ::CLSIDFromString(praxilo_db::server_clsid, &clsid);
  if (SUCCEEDED(hr))
    hr = ::CoRegisterClassObject(clsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &cookie);
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
  service.methods.reset();
  praxilo_server::remove_remaining_dumps(install_dir);
  if (db) sqlite3_close(db);
  return 0;
}

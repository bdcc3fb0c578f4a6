// The stand-in's IDispatch object: names found without regard to case, text arguments as
// BSTR (by value or by reference; only by reference in strict mode), an omitted argument
// as VT_ERROR DISP_E_PARAMNOTFOUND, and a failed method as DISP_E_EXCEPTION with its text
// as the description. The methods themselves are in server_methods.cpp.
// While the file named by PRAXILO_SERVER_HOLD_FILE exists, every call (from the N-th on
// with PRAXILO_SERVER_HOLD_FROM=N) waits; PRAXILO_SERVER_FAIL_AT=N fails the N-th call.
#include "com_object_win.hpp"

#include <ole2.h>
#include <oleauto.h>

#include <cstdlib>
#include <memory>

#include "platform/paths.hpp"
#include "platform/win_text.hpp"
#include "praxilo_db.hpp"
#include "server_methods.hpp"

namespace fs = std::filesystem;
using platform::Argument;
using platform::Variant;
using platform::win::narrow;

namespace praxilo_com {

std::optional<ServerOptions> parse_options(const std::vector<std::string>& words, std::string& error) {
  ServerOptions options;
  std::vector<std::string> paths;
  for (const std::string& word : words) {
    if (word == "--strict")
      options.strict = true;
    else
      paths.push_back(word);
  }
  if (paths.empty() || paths.size() > 2) {
    error = "uso: praxilo-server DB_FILE [INSTALL_DIR] [--strict]";
    return std::nullopt;
  }
  options.db_file = platform::path_from_utf8(paths[0]);
  std::error_code ec;
  options.install_dir =
      paths.size() == 2 ? platform::path_from_utf8(paths[1]) : fs::absolute(options.db_file, ec).parent_path();
  if (options.install_dir.empty()) options.install_dir = ".";
  return options;
}

namespace {

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

// One argument of Invoke as a text or "omitted"; false for a value that is no text, and,
// in strict mode, for a text given by value.
bool read_argument(const VARIANT& given, bool strict, Argument& out) {
  const VARIANT* v = &given;
  if (V_VT(v) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(v)) v = V_VARIANTREF(v);
  if (V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND) {
    out = Argument::missing();
    return true;
  }
  if (V_VT(v) == (VT_BSTR | VT_BYREF) || (V_VT(v) == VT_BSTR && !strict)) {
    const BSTR text = V_VT(v) == VT_BSTR ? V_BSTR(v) : (V_BSTRREF(v) ? *V_BSTRREF(v) : nullptr);
    out = Argument::of(text ? narrow(std::wstring_view(text, ::SysStringLen(text))) : std::string());
    return true;
  }
  if (strict) return false;
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
  PraxiloObject(const ServerOptions& options, std::function<void()> released)
      : options_(options), released_(std::move(released)) {
    if (options_.may_exit) {
      if (const char* n = std::getenv("PRAXILO_SERVER_EXIT_AFTER"); n && *n) exit_after_ = std::strtol(n, nullptr, 10);
    }
    if (const wchar_t* h = ::_wgetenv(L"PRAXILO_SERVER_HOLD_FILE"); h && *h) hold_file_ = h;
    hold_from_ = praxilo_server::call_number("PRAXILO_SERVER_HOLD_FROM");
    fail_at_ = praxilo_server::call_number("PRAXILO_SERVER_FAIL_AT");
    const std::string db_name = platform::path_to_utf8(options_.db_file);
    std::string error;
    db_ = praxilo_db::open(db_name, false, error);
    if (db_)
      methods_.emplace(db_, options_.install_dir);
    else
      startup_error_ = "praxilo-server: " + db_name + ": " + error;
  }

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
      const std::function<void()> released = std::move(released_);
      delete this;
      if (released) released();
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
      id = methods_ ? methods_->find(name) : std::optional<int>(1);
      // An unknown name fails here rather than at the call: get_error tells it then, as it
      // does after the pipe transport's call of an unknown method.
      if (!id) methods_->call(name, {});
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
    if (methods_ && methods_->name_of(static_cast<int>(id)).empty()) return DISP_E_MEMBERNOTFOUND;
    if (params && params->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
    ++calls_;
    if (exit_after_ > 0 && calls_ >= exit_after_)
      ::TerminateProcess(::GetCurrentProcess(), 3);  // fault injection: no answer
    // Fault injection: a slow records product, whose answer waits while the file exists.
    std::error_code ec;
    while (!hold_file_.empty() && calls_ >= hold_from_ && fs::exists(hold_file_, ec)) ::Sleep(10);
    if (calls_ == fail_at_) return raise(info, praxilo_server::injected_failure);  // fault injection
    if (!methods_) return raise(info, startup_error_);

    std::vector<Argument> args(params ? params->cArgs : 0);
    for (std::size_t i = 0; i < args.size(); ++i) {
      const UINT position = static_cast<UINT>(args.size() - 1 - i);  // rgvarg holds them last first
      if (!read_argument(params->rgvarg[position], options_.strict, args[i])) {
        if (bad_argument) *bad_argument = position;
        return DISP_E_TYPEMISMATCH;
      }
    }
    const praxilo_server::Answer answer = methods_->call(static_cast<int>(id), args);
    if (!answer.ok) return raise(info, answer.error);
    write_result(answer.result, result);
    return S_OK;
  }

 private:
  ~PraxiloObject() {
    methods_.reset();
    if (db_) {
      praxilo_server::remove_remaining_dumps(options_.install_dir);
      sqlite3_close(db_);
    }
  }

  LONG references_ = 1;
  const ServerOptions options_;
  std::function<void()> released_;
  sqlite3* db_ = nullptr;
  std::optional<praxilo_server::Methods> methods_;
  std::string startup_error_;  ///< why the database could not be opened
  long exit_after_ = 0;
  long hold_from_ = 0;  ///< the first call that waits for the hold file
  long fail_at_ = 0;    ///< the call answered with an error
  long calls_ = 0;
  fs::path hold_file_;  ///< while it exists, every call waits (a slow records product)
};

}  // namespace

IDispatch* new_praxilo_object(const ServerOptions& options, std::function<void()> released) {
  return new PraxiloObject(options, std::move(released));
}

}  // namespace praxilo_com

// Late-bound objects on Windows: COM servers, in-process or local, reached through
// IDispatch. The class is found by its ProgID, the object made in the server's DLL or
// process, and each method called by name, its DISPID looked up once per object. Each
// object lives on a thread of its own, which makes its calls while the caller waits
// within the call's limits.
// windows.h first: the other Windows headers rely on its types.
#include <windows.h>

#include <ole2.h>
#include <oleauto.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/automation.hpp"
#include "platform/win_text.hpp"

namespace platform {

namespace {

constexpr const char* class_not_registered = "Classe non registrata";
constexpr const char* server_unavailable = "Il server RPC non è disponibile";
constexpr const char* server_not_started = "Impossibile avviare il server di automazione";

/// The HRESULTs of a server process that has ended or cannot be reached: the call did
/// not happen (or did not finish), and no later call on the object can succeed.
bool server_gone(HRESULT hr) {
  switch (static_cast<unsigned long>(hr)) {
    case 0x80010108UL:  // RPC_E_DISCONNECTED
    case 0x800706BAUL:  // the RPC server is unavailable
    case 0x800706BEUL:  // the remote procedure call failed
    case 0x80010007UL:  // RPC_E_SERVER_DIED
    case 0x80010012UL:  // RPC_E_SERVER_DIED_DNE
    case 0x800401FDUL:  // CO_E_OBJNOTCONNECTED
      return true;
    default:
      return false;
  }
}

/// The system's text for an HRESULT, with its number.
std::string hresult_text(HRESULT hr) {
  wchar_t* text = nullptr;
  ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = text ? win::narrow(text) : std::string();
  if (text) ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  char number[16];
  std::snprintf(number, sizeof number, "0x%08lX", static_cast<unsigned long>(hr));
  return message.empty() ? std::string("errore di automazione ") + number : message + " (" + number + ")";
}

/// The arguments of one Invoke, in the reversed order IDispatch takes them; freed with it.
/// Texts go by reference (VT_BYREF | VT_BSTR), as a server whose methods take BSTR*
/// parameters requires; a server may replace a text it was given, so each one is freed
/// from its slot after the call.
class InvokeArguments {
 public:
  explicit InvokeArguments(const std::vector<Argument>& args) : values_(args.size()), texts_(args.size(), nullptr) {
    for (std::size_t i = 0; i < args.size(); ++i) {
      const std::size_t slot = args.size() - 1 - i;
      VARIANTARG& v = values_[slot];
      ::VariantInit(&v);
      if (args[i].omitted) {
        v.vt = VT_ERROR;
        v.scode = DISP_E_PARAMNOTFOUND;
      } else {
        const std::wstring text = win::widen(args[i].text);
        texts_[slot] = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!texts_[slot]) throw AutomationError("memoria insufficiente per gli argomenti");
        v.vt = VT_BYREF | VT_BSTR;
        v.pbstrVal = &texts_[slot];
      }
    }
  }
  ~InvokeArguments() {
    for (BSTR text : texts_) ::SysFreeString(text);
  }
  InvokeArguments(const InvokeArguments&) = delete;
  InvokeArguments& operator=(const InvokeArguments&) = delete;

  DISPPARAMS params() {
    return DISPPARAMS{values_.empty() ? nullptr : values_.data(), nullptr, static_cast<UINT>(values_.size()), 0};
  }

 private:
  std::vector<VARIANTARG> values_;
  std::vector<BSTR> texts_;  ///< the texts the by-reference arguments point at
};

/// The description the server raised, taken out of excep (whose texts are freed).
std::string exception_text(EXCEPINFO& excep) {
  if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
  std::string text;
  if (excep.bstrDescription)
    text = win::narrow(std::wstring_view(excep.bstrDescription, ::SysStringLen(excep.bstrDescription)));
  if (text.empty()) text = hresult_text(excep.scode != 0 ? excep.scode : DISP_E_EXCEPTION);
  ::SysFreeString(excep.bstrSource);
  ::SysFreeString(excep.bstrDescription);
  ::SysFreeString(excep.bstrHelpFile);
  return text;
}

/// The Variant of a result: empty, null, integers as integers, text, and any other type
/// converted to text by the system.
Variant to_variant(VARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY:
      return Variant::make_empty();
    case VT_NULL:
      return Variant::make_null();
    case VT_BSTR:
      return Variant::make_text(
          value.bstrVal ? win::narrow(std::wstring_view(value.bstrVal, ::SysStringLen(value.bstrVal))) : std::string());
    case VT_I1:
      return Variant::make_integer(value.cVal);
    case VT_UI1:
      return Variant::make_integer(value.bVal);
    case VT_I2:
      return Variant::make_integer(value.iVal);
    case VT_UI2:
      return Variant::make_integer(value.uiVal);
    case VT_I4:
      return Variant::make_integer(value.lVal);
    case VT_UI4:
      return Variant::make_integer(value.ulVal);
    case VT_INT:
      return Variant::make_integer(value.intVal);
    case VT_UINT:
      return Variant::make_integer(value.uintVal);
    case VT_I8:
      return Variant::make_integer(value.llVal);
    case VT_BOOL:
      return Variant::make_integer(value.boolVal ? -1 : 0);
    default: {
      VARIANT text;
      ::VariantInit(&text);
      const HRESULT hr = ::VariantChangeType(&text, &value, 0, VT_BSTR);
      if (FAILED(hr)) throw AutomationError("risultato non convertibile: " + hresult_text(hr));
      Variant out = to_variant(text);
      ::VariantClear(&text);
      return out;
    }
  }
}

/// What one object's calls share with the thread that makes them: the object's IDispatch
/// and its method ids, touched only on that thread.
struct Dispatcher {
  IDispatch* dispatch = nullptr;
  std::map<std::string, DISPID> ids;
  bool gone = false;  ///< the server has ended or cannot be reached

  Variant call(const std::string& method, const std::vector<Argument>& args) {
    if (gone) throw AutomationError(server_unavailable);
    const DISPID id = dispatch_id(method);
    InvokeArguments arguments(args);
    DISPPARAMS params = arguments.params();
    VARIANT result;
    ::VariantInit(&result);
    EXCEPINFO excep{};
    UINT bad_argument = 0;
    const HRESULT hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                        &params, &result, &excep, &bad_argument);
    if (hr == DISP_E_EXCEPTION) {
      ::VariantClear(&result);
      throw AutomationError(exception_text(excep));
    }
    check(hr);
    try {
      Variant out = to_variant(result);
      ::VariantClear(&result);
      return out;
    } catch (...) {
      ::VariantClear(&result);
      throw;
    }
  }

  DISPID dispatch_id(const std::string& method) {
    if (const auto found = ids.find(method); found != ids.end()) return found->second;
    std::wstring name = win::widen(method);
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    const HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    // Told as the server itself tells a method it does not have.
    if (hr == DISP_E_UNKNOWNNAME) throw AutomationError("Metodo sconosciuto: " + method);
    check(hr);
    ids.emplace(method, id);
    return id;
  }

  // A failed HRESULT becomes an AutomationError; a server that has gone makes every later
  // call fail at once, as the server-unavailable error.
  void check(HRESULT hr) {
    if (SUCCEEDED(hr)) return;
    if (server_gone(hr)) {
      gone = true;
      throw AutomationError(server_unavailable);
    }
    throw AutomationError(hresult_text(hr));
  }
};

/// The thread, a single-threaded apartment of its own, that makes an object's calls, so
/// that the caller can stop waiting for one: a call that outlives its limits is left to
/// that thread, which releases the object once the call returns, if ever, and ends. COM
/// offers no way to end a call's wait that every system honours (a message filter's
/// cancel is one that Wine ignores), and an in-process server's call cannot be ended at
/// all on the thread that makes it.
class CallThread {
 public:
  CallThread() : shared_(std::make_shared<Shared>()) {
    thread_ = std::thread([shared = shared_] { loop(*shared); });
  }
  ~CallThread() {
    {
      std::lock_guard lock(shared_->mutex);
      shared_->ending = true;
    }
    shared_->changed.notify_all();
    if (given_up_)
      thread_.detach();  // still in the call: it ends by itself once the call returns
    else
      thread_.join();
  }
  CallThread(const CallThread&) = delete;
  CallThread& operator=(const CallThread&) = delete;

  Dispatcher& dispatcher() { return shared_->dispatcher; }

  /// Runs work on the thread and waits until it is done, or until limits end the wait:
  /// then the thread is given up, and the work, which shares only what it owns, goes on
  /// there. work's exception is thrown here.
  void run(std::function<void()> work, const CallLimits& limits) {
    if (given_up_) throw AutomationError(server_unavailable);
    using clock = std::chrono::steady_clock;
    const clock::time_point sent = clock::now();
    std::optional<clock::time_point> deadline;
    if (limits.time_limit.count() > 0) deadline = sent + limits.time_limit;
    // A stop asked before the call was made does not end it: the caller makes it knowingly.
    const bool watch_stop = limits.stop && !limits.stop();
    auto job = std::make_shared<Job>();
    job->work = std::move(work);
    std::unique_lock lock(shared_->mutex);
    shared_->job = job;
    shared_->changed.notify_all();
    for (;;) {
      if (job->done) break;
      std::optional<CallAbandoned::Reason> reason;
      if (watch_stop && limits.stop()) {
        reason = CallAbandoned::Reason::stopped;
      } else if (deadline && clock::now() >= *deadline) {
        // The caller may choose to wait once more as long; the call goes on meanwhile, and
        // an answer that comes while it is asked is taken at once.
        bool again = false;
        if (limits.keep_waiting) {
          lock.unlock();
          again = limits.keep_waiting(waited_since(sent));
          lock.lock();
        }
        if (again) {
          deadline = clock::now() + limits.time_limit;
          continue;
        }
        reason = CallAbandoned::Reason::timed_out;
      }
      if (reason) {
        given_up_ = true;
        throw CallAbandoned(*reason);
      }
      if (!watch_stop && !deadline)
        shared_->changed.wait(lock);
      else
        shared_->changed.wait_for(lock, std::chrono::milliseconds(100));
    }
    if (job->failure) std::rethrow_exception(job->failure);
  }

 private:
  struct Job {
    std::function<void()> work;
    std::exception_ptr failure;
    bool done = false;
  };
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::shared_ptr<Job> job;  ///< the work to do next
    bool ending = false;
    Dispatcher dispatcher;
  };

  static void loop(Shared& shared) {
    const HRESULT initialised = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::unique_lock lock(shared.mutex);
    for (;;) {
      shared.changed.wait(lock, [&] { return shared.job || shared.ending; });
      if (std::shared_ptr<Job> job = std::move(shared.job)) {
        lock.unlock();
        try {
          job->work();
        } catch (...) {
          job->failure = std::current_exception();
        }
        lock.lock();
        job->done = true;
        shared.changed.notify_all();
        continue;
      }
      break;  // ending, with no work left
    }
    lock.unlock();
    if (shared.dispatcher.dispatch) shared.dispatcher.dispatch->Release();
    shared.dispatcher.dispatch = nullptr;
    if (SUCCEEDED(initialised)) ::CoUninitialize();
  }

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
  bool given_up_ = false;  ///< a call outlived its limits: the thread is left to it
};

class ComObject : public AutomationObject {
 public:
  explicit ComObject(std::unique_ptr<CallThread> thread) : thread_(std::move(thread)) {}
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  Variant call(const std::string& method, const std::vector<Argument>& args) override {
    // The work owns copies of what it needs: it may outlive this call.
    auto answer = std::make_shared<Variant>();
    Dispatcher& dispatcher = thread_->dispatcher();
    thread_->run([&dispatcher, answer, method, args] { *answer = dispatcher.call(method, args); }, limits());
    return std::move(*answer);
  }

 private:
  std::unique_ptr<CallThread> thread_;  ///< releases the object as it ends
};

constexpr REGSAM other_view = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
constexpr int own_bits = sizeof(void*) == 8 ? 64 : 32;
constexpr int other_bits = sizeof(void*) == 8 ? 32 : 64;

/// The default value of HKEY_CLASSES_ROOT\key in a registry view, or nullopt.
std::optional<std::wstring> class_value(const std::wstring& key, REGSAM view) {
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS)
    return std::nullopt;
  std::wstring text(MAX_PATH, L'\0');
  DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  const LSTATUS status = ::RegGetValueW(opened, nullptr, nullptr, RRF_RT_REG_SZ, nullptr, text.data(), &size);
  ::RegCloseKey(opened);
  if (status != ERROR_SUCCESS) return std::wstring();
  text.resize(size / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

/// The width of a program file's code, 32 or 64, from its PE header; 0 when unknown.
int pe_bits(const std::wstring& file) {
  std::wstring path = file;
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
  const HANDLE handle =
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return 0;
  auto read_at = [&](LONG offset, void* into, DWORD size) {
    DWORD got = 0;
    return ::SetFilePointer(handle, offset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
           ::ReadFile(handle, into, size, &got, nullptr) && got == size;
  };
  int bits = 0;
  LONG header = 0;
  unsigned char signature[6] = {};
  if (read_at(0x3C, &header, sizeof header) && header > 0 && read_at(header, signature, sizeof signature) &&
      signature[0] == 'P' && signature[1] == 'E' && signature[2] == 0 && signature[3] == 0) {
    const unsigned machine = signature[4] | (signature[5] << 8);
    if (machine == 0x014C) bits = 32;                       // i386
    if (machine == 0x8664 || machine == 0xAA64) bits = 64;  // AMD64, ARM64
  }
  ::CloseHandle(handle);
  return bits;
}

/// Why a class that could not be made cannot serve this program because of its
/// architecture, or "": its in-process server is a DLL of the other architecture, or it
/// is registered only in the other architecture's registry view (on 64-bit Windows
/// 32-bit programs' classes lie in a view of their own). A DLL cannot be loaded into a
/// program of another architecture.
std::string architecture_mismatch(const CLSID& clsid) {
  wchar_t text[64] = {};
  if (::StringFromGUID2(clsid, text, 64) == 0) return {};
  const std::wstring key = std::wstring(L"CLSID\\") + text + L"\\InprocServer32";
  if (const std::optional<std::wstring> dll = class_value(key, 0)) {
    const int bits = pe_bits(*dll);
    if (bits != 0 && bits != own_bits)
      return "Classe registrata con una DLL a " + std::to_string(bits) + " bit, che un programma a " +
             std::to_string(own_bits) + " bit non può caricare";
    return {};
  }
  if (class_value(key, other_view))
    return "Classe registrata solo per i programmi a " + std::to_string(other_bits) + " bit";
  return {};
}

}  // namespace

std::unique_ptr<AutomationObject> create_ole_object(const std::string& progid) {
  if (progid.empty()) throw AutomationError(class_not_registered);
  auto thread = std::make_unique<CallThread>();
  Dispatcher& dispatcher = thread->dispatcher();
  // The object is made on the thread that will make its calls, in that thread's apartment.
  thread->run(
      [&dispatcher, progid] {
        CLSID clsid{};
        if (FAILED(::CLSIDFromProgID(win::widen(progid).c_str(), &clsid))) throw AutomationError(class_not_registered);
        IDispatch* dispatch = nullptr;
        // The records product may register its class as an in-process server (a DLL of
        // its architecture) or as a local one (a program); COM takes the in-process one first.
        const HRESULT hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                              reinterpret_cast<void**>(&dispatch));
        if (FAILED(hr)) {
          if (std::string mismatch = architecture_mismatch(clsid); !mismatch.empty()) throw AutomationError(mismatch);
        }
        if (hr == REGDB_E_CLASSNOTREG) throw AutomationError(class_not_registered);
        if (FAILED(hr) || !dispatch) throw AutomationError(std::string(server_not_started) + ": " + hresult_text(hr));
        dispatcher.dispatch = dispatch;
      },
      CallLimits{});
  return std::make_unique<ComObject>(std::move(thread));
}

AutomationScope::AutomationScope() {
  // S_FALSE (already initialised on this thread) must be balanced too.
  initialised_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

AutomationScope::~AutomationScope() {
  if (initialised_) ::CoUninitialize();
}

}  // namespace platform

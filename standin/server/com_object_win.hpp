#pragma once
// The stand-in's automation object "Praxilo.Server" as COM sees it, shared by its two
// forms: the local server (praxilo-server.exe, one process per object) and the in-process
// server (praxilo-server.dll, loaded into its client).
#include <windows.h>

#include <oaidl.h>
#include <unknwn.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace praxilo_com {

/// What a server is told when it starts: "DB_FILE [INSTALL_DIR] [--strict]".
struct ServerOptions {
  std::filesystem::path db_file;
  std::filesystem::path install_dir;  ///< receives the dump files under Temp/
  /// Texts accepted only by reference (VT_BYREF | VT_BSTR), as by a server whose methods
  /// take BSTR* parameters: a text by value is a type mismatch.
  bool strict = false;
  /// Honour PRAXILO_SERVER_EXIT_AFTER (the process ends without answering at that call):
  /// only a server in a process of its own.
  bool may_exit = false;
};

/// The options in the words of a server's command line (without the program); nullopt,
/// with the usage in error, when they are not as above.
std::optional<ServerOptions> parse_options(const std::vector<std::string>& words, std::string& error);

/// A new object serving options' database, with one reference. It opens the database
/// when made (a database that cannot be opened makes every call fail with the reason),
/// and closes it, removes its remaining dump files and calls released when its last
/// reference goes.
IDispatch* new_praxilo_object(const ServerOptions& options, std::function<void()> released);

/// The IUnknown of a class object that lives as long as its server (a static or main's
/// stack frame): its references are not counted.
class StaticClassFactory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

 protected:
  ~StaticClassFactory() = default;
};

}  // namespace praxilo_com

#pragma once
// Shared pieces of the tests: a fresh temporary directory, environment variables set
// for one test, and a fixture installation of the records product.
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

/// True in the Windows build: tests that only make sense on one platform skip with
/// their reason on the other.
#ifdef _WIN32
inline constexpr bool windows = true;
#else
inline constexpr bool windows = false;
#endif

/// path with every "/" turned into the platform's separator, as the system writes the
/// paths it builds.
inline std::string native(std::string path) {
  for (char& c : path)
    if (c == '/') c = windows ? '\\' : '/';
  return path;
}

/// The file name of the logging library as the build makes it ("praxiapi.so",
/// "praxiapi.dll").
inline const std::string logging_library_file = std::string("praxiapi") + PZ_LIBRARY_SUFFIX;

/// A program of the build's bin directory, by its name without extension.
inline std::filesystem::path bin_program(const std::string& name) {
  return std::filesystem::path(PZ_BIN_DIR) / (name + PZ_EXE_SUFFIX);
}

/// A new, empty directory, removed with everything in it at the end of its scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  /// The path as text ending with "/".
  std::string dir() const { return path_.string() + "/"; }

 private:
  std::filesystem::path path_;
};

/// Sets (or, with nullopt, unsets) an environment variable until the end of its scope.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

/// Makes the process's current directory dir until the end of its scope.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::filesystem::path& dir);
  ~ScopedCwd();

 private:
  std::filesystem::path old_;
};

/// Whole contents of a file ("" when it cannot be read).
std::string read_file(const std::filesystem::path& path);
/// Writes text to a file, replacing it.
void write_file(const std::filesystem::path& path, const std::string& text);
/// Sets the time path was last written (a file written at another time).
void set_write_time(const std::filesystem::path& path, std::chrono::system_clock::time_point when);

/// The runs' working files (".Diabetici.txt.PID.TOKEN.tmp" and the like) in the Temp
/// folder of the installation at appdir: none once a run has ended, however it ended.
std::vector<std::string> working_files_left(const std::filesystem::path& appdir);

/// Copies the report stylesheets of the source tree (every file of xsl/) into dir.
void copy_stylesheets(const std::filesystem::path& dir);

/// The script of a fixture database's one user: "demo", password "demo", user id 7,
/// Niccolò D'Alò, medico titolare with a regional code.
inline const std::string demo_user_sql =
    "INSERT INTO utenti (nome_utente, password, userid_utente, tipo_praxi, codice_regionale, nome, cognome) "
    "VALUES ('demo', 'demo', 7, 'T', '90412', 'Niccolò', 'D''Alò');";

/// The form in which the tests' installations serve the class "Praxilo.Server": a server
/// process of its own (on POSIX always), or, on Windows, the in-process server
/// praxilo-server.dll. PZ_TEST_SERVER_FORM=inproc chooses the latter for a whole test
/// program; the build runs the server tests once in each form.
enum class ServerForm { local, in_process };
ServerForm server_form();

/// Makes the class "Praxilo.Server" start command_line while it lives. When the program
/// is the stand-in praxilo-server and server_form() is in_process, its DLL is registered
/// instead, with the rest of command_line as its arguments. On Windows, where
/// COM reads the class from the system registry, it registers the class there and holds
/// a lock shared by every test process, so that no two tests serve their installations
/// through one registration at a time; at its end the registration before it is back.
/// On POSIX the installation's registry.reg holds the class and there is nothing to do.
class ServerClass {
 public:
  explicit ServerClass(const std::string& command_line);
  ~ServerClass();
  ServerClass(const ServerClass&) = delete;
  ServerClass& operator=(const ServerClass&) = delete;

 private:
  void* lock_ = nullptr;                 ///< the shared lock's handle, on Windows
  std::optional<std::string> previous_;  ///< the registration it replaced
};

/// A fixture installation of the records product in a temporary directory: praxilo.db
/// with the records schema and sql_script applied, praxiapi.so (.dll), and registry.reg with
/// App Paths "Path" = "<dir>;", the gate's "log"="yes", Praxilo.Server started as
/// praxilo-server on this database, and extra_registry (lines of .reg text) appended.
/// PIVZONA12_REGISTRY names registry.reg and the class is registered (ServerClass) for
/// the lifetime of the object.
class Installation {
 public:
  explicit Installation(const std::string& sql_script = "", const std::string& extra_registry = "");
  ~Installation();
  /// The installation directory, ending with "/".
  std::string appdir() const { return dir_.dir(); }
  std::filesystem::path registry_file() const { return dir_.path() / "registry.reg"; }
  std::filesystem::path db_file() const { return dir_.path() / "praxilo.db"; }
  /// Rewrites registry.reg with the standard content plus extra_registry.
  void write_registry(const std::string& extra_registry);

 private:
  TempDir dir_;
  std::optional<ScopedEnv> env_;
  std::optional<ServerClass> class_;
};

}  // namespace test_support

#pragma once
// The methods of the records product's automation server "Praxilo.Server" over an SQLite
// records database, independent of how calls arrive: the pipe loop (POSIX) and the COM
// local server (Windows) both hand their calls to one Methods object.
#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation.hpp"

namespace praxilo_server {

/// What a call answers: a result, or the failure text (also kept for get_error).
/// How many dump files this process has named: they are "Temp/dump_<pid>_<n>.txt" for n
/// from 1 up to this count (a plain atomic, so that a signal handler may read it).
extern std::atomic<unsigned long> dumps_made;

/// At the normal end of a session: removes the dump files of this process still under
/// install_dir/Temp, found by listing it (the client has removed nearly all of them, and
/// trying every name ever made would cost a system call per query of the session).
void remove_remaining_dumps(const std::filesystem::path& install_dir);

struct Answer {
  bool ok = false;
  platform::Variant result;
  std::string error;
};

class Methods {
 public:
  /// Serves the open database db (not owned); dump files go under install_dir/Temp.
  Methods(sqlite3* db, std::filesystem::path install_dir);

  /// The number of a method, found by its name without regard to case; nullopt for a
  /// name the server does not know. Numbers start at 1 and stay fixed for the process.
  std::optional<int> find(std::string_view name) const;
  /// The method's name as the server spells it (for messages); "" for an unknown number.
  std::string name_of(int id) const;

  /// Runs method id with args (omitted arguments read as empty text). Never throws.
  Answer call(int id, const std::vector<platform::Argument>& args);
  /// Runs the method of that name; an unknown name fails with "Metodo sconosciuto: ...".
  Answer call(std::string_view name, const std::vector<platform::Argument>& args);

 private:
  struct Method {
    std::string name;
    std::size_t arguments;  ///< how many arguments the method needs at least
    std::function<platform::Variant(const std::vector<platform::Argument>&)> run;
  };

  platform::Variant start_session();
  platform::Variant connetti(const std::string& name, const std::string& password);
  platform::Variant disconnetti();
  platform::Variant attribute(const std::string& name);
  platform::Variant get_opzione(const std::string& scope, const std::string& path);
  platform::Variant sql_into(const std::string& database, const std::string& sql);
  platform::Variant sql_dump_file(const std::string& database, const std::string& sql);

  sqlite3* db_;
  std::filesystem::path install_dir_;
  std::string dump_name_prefix_;        ///< "Temp/dump_<pid>_", before the dump's number
  std::vector<Method> methods_;         ///< method n is methods_[n - 1]
  std::map<std::string, int> by_name_;  ///< lower-case name to number
  std::optional<sqlite3_int64> user_;   ///< rowid of the signed-in user in utenti
  std::string last_error_;
};

/// Fault injection for the tests: the call number an environment variable holds (a whole
/// number from 1 up), or 0 when it holds none.
long call_number(const char* variable);
/// The failure text of a call refused by fault injection.
inline constexpr const char* injected_failure = "Errore simulato del server";

}  // namespace praxilo_server

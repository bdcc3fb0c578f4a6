#pragma once
// An in-process stand-in for the records product's server object, for tests that need
// to see exactly what the system sends: it answers the sign-in and the attributes as
// scripted, records every call, and writes each dump it is asked for as a file under a
// temporary installation directory whose registry points the system at it.
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "px_fixture.hpp"
#include "recording_host.hpp"
#include "records/px_wrap_praxipat.hpp"
#include "test_support.hpp"

namespace test_support {

/// One call that reached the fake object: the method and its arguments ("<omitted>"
/// for an omitted one).
struct RecordedCall {
  std::string method;
  std::vector<std::string> args;
};

class FakePraxilo {
 public:
  /// Makes the temporary installation directory and a registry whose App Paths "Path"
  /// is that directory (no switches), named by PIVZONA12_REGISTRY for the lifetime of the
  /// object.
  FakePraxilo() = default;

  /// The factory to give to Tpx_wrap_praxipat.
  Tpx_wrap_praxipat::ObjectFactory factory();
  /// The installation directory, ending with "/".
  std::string appdir() const { return dir_.dir(); }

  /// The answer to "connetti": blank accepts, any other text refuses.
  std::string connetti_answer;
  /// Answers of "leggi_attributo" and "utente_leggi_attributo" by attribute name; an
  /// attribute not listed makes the call raise.
  std::map<std::string, std::string> attributes;
  /// Methods that raise when called.
  std::set<std::string> raising;
  /// Answers "sql_into" (database, sql); empty answers when not set.
  std::function<std::string(const std::string& database, const std::string& sql)> into;
  /// Contents of the dump file for (database, sql), as bytes; nullopt: the call answers an
  /// empty name. Not set: every dump is an empty file.
  std::function<std::optional<std::string>(const std::string& database, const std::string& sql)> dump;
  /// When set and answering a value for a call, that value is the answer instead of the
  /// script's; it may throw platform::AutomationError to make the call fail.
  std::function<std::optional<platform::Variant>(const RecordedCall& call)> fault;
  /// Where "sql_dump_file" writes its dumps, as it names them: a folder of the
  /// installation ending with '/' or '\\', or "" for the installation folder itself.
  std::string dump_folder = "Temp/";
  /// The file a dump's name answered stands for.
  std::filesystem::path dump_path(const std::string& name) const;
  /// When set, "sql_dump_file" answers this name as it is, writing nothing.
  std::optional<std::string> dump_name_override;

  std::vector<RecordedCall> calls;
  /// The SQL texts sent with method ("sql_into" or "sql_dump_file"), in order, each
  /// prefixed with its database name and "|".
  std::vector<std::string> sql_sent(const std::string& method) const;
  /// The names of the dump files written so far, relative to appdir().
  std::vector<std::string> dump_files;

 private:
  TempDir dir_;
  RegistryFile registry_{app_paths_section(reg_string(dir_.dir() + ";"))};
  int dumps_made_ = 0;
  friend class FakePraxiloObject;
};

}  // namespace test_support

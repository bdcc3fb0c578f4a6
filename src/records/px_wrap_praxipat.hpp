#pragma once
// The session with the records product's automation server "Praxilo.Server": signs in
// and out, reads the user's attributes and the product's options, and runs SQL. Every
// operation takes and returns texts (UTF-8) or a boolean and never throws; failures are
// kept, with their level prefix, as last_message, and their kind and reason as failure(),
// so that a caller can tell a failed call from an empty answer. A server that has gone
// away is rebuilt from the kept credentials before the next operation goes on. Each
// server call that returns leaves one trace line in the operation log.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/host.hpp"
#include "platform/automation.hpp"
#include "records/px_wrap_log.hpp"

/// The reason of a failure whose call was abandoned at its time limit.
inline constexpr const char* praxilo_not_answering = "Praxilo non risponde.";

/// Why the session did not serve, kept beside the neutral answers of its operations.
struct SessionFailure {
  enum class Kind {
    /// init could not make the server object or have it answer "new" (the class not
    /// registered, the program missing, a failed start). Cleared by an init that can.
    start_failed,
    /// A text operation of the caller's own failed: the server refused the call (an SQL
    /// error, a locked database, a Null answer), could not be reached, or the call was
    /// abandoned for its time limit or a stopped run.
    call_failed,
    /// A text operation lost its answer to a server that went away: the session could
    /// not be rebuilt, or the call sent again on the rebuilt one failed too.
    session_lost,
  };
  Kind kind;
  std::string reason;  ///< as the server or the system gave it

  bool operator==(const SessionFailure&) const = default;
};

class Tpx_wrap_praxipat {
 public:
  /// Makes the automation object for a class name; throws platform::AutomationError.
  using ObjectFactory = std::function<std::unique_ptr<platform::AutomationObject>(const std::string& progid)>;

  /// create: starts the operation log in the log directory. factory defaults to
  /// platform::create_ole_object. host keeps the foreground window around the server
  /// calls and shows the log's debug boxes; it must outlive the wrapper.
  explicit Tpx_wrap_praxipat(ObjectFactory factory = {}, frontend::Host& host = frontend::headless_host());
  /// Disconnects, destroys and releases the server object, stops the log.
  virtual ~Tpx_wrap_praxipat();
  Tpx_wrap_praxipat(const Tpx_wrap_praxipat&) = delete;
  Tpx_wrap_praxipat& operator=(const Tpx_wrap_praxipat&) = delete;

  bool init(const std::string& name, const std::string& extra);
  bool connetti(const std::string& user_name, const std::string& password);
  bool disconnetti();
  bool is_on();
  bool _start();
  bool verifica_connessione();
  /// Ends the session with the server: disconnects, destroys and releases the server
  /// object. The credentials are kept, so the next operation starts a new session with
  /// them. Never throws.
  void termina_sessione();

  std::string leggi_attributo(const std::string& name);
  std::string utente_leggi_attributo(const std::string& name);
  std::string get_opzione(const std::string& scope, const std::string& path);
  std::string new_object(const std::string& name, const std::string& argument);
  std::string sql_into(const std::string& database, const std::string& sql);
  std::string sql_dump_file(const std::string& database, const std::string& sql);

  /// Prefixes text with the level's prefix and keeps it as last_message.
  void report_message(const std::string& text, int level);

  /// The time limit of the calls of every session started later (at init), in place of
  /// platform::call_time_limit(); past it the host is asked whether to wait longer.
  void set_call_time_limit(std::chrono::milliseconds limit) { time_limit_ = limit; }

  const std::string& last_message() const { return last_message_; }
  bool connected() const { return connected_; }

  /// What went wrong with the session, beyond the neutral answer the operation gave:
  /// nothing until something failed, then the first failure until clear_failure (a start
  /// failure is replaced by a failed call, a failed call becomes a lost session keeping
  /// its reason; an init of the caller's own records its start failure whatever was kept). Lets a caller tell a "" that
  /// is no answer from an empty one, and an incomplete report from a whole one.
  const std::optional<SessionFailure>& failure() const { return failure_; }
  /// True when failure() is one of that kind.
  bool failed_with(SessionFailure::Kind kind) const { return failure_ && failure_->kind == kind; }
  /// Forgets the failure, whatever it was.
  void clear_failure() { failure_.reset(); }

 private:
  // Members are the implementer's; keep the fields of the session (object, connected,
  // init_name, init_extra, user_name, password, log, last_message) among them.
  ObjectFactory factory_;
  frontend::Host& host_;
  std::unique_ptr<platform::AutomationObject> ole_praxipat;
  bool connected_ = false;
  std::string init_name;
  std::string init_extra;
  std::string user_name;
  std::string password;
  std::unique_ptr<Tpx_wrap_log> log;
  std::string last_message_;
  std::optional<SessionFailure> failure_;
  std::optional<std::chrono::milliseconds> time_limit_;  ///< set_call_time_limit's, if any

  class OperationScope;
  int operation_depth_ = 0;    ///< nesting of the public operations now running
  bool rebuild_used_ = false;  ///< the running operation has rebuilt the session once
  bool abandoned_ = false;     ///< the running operation gave up a call for its limits
  /// Why the last text operation gave no answer, whatever operation it ran in; nullopt
  /// after an answer.
  std::optional<std::string> text_failure_;

  /// Writes one line to the operation log; never throws.
  void trace(const std::string& line);
  /// Calls a method with text arguments, takes the answer as text and traces the call;
  /// throws on a failed call or a Null answer.
  std::string call_text(const std::string& method, const std::vector<std::string>& args);
  /// The shared frame of the six text operations: probe, call, and on a server that
  /// went away during the call, one rebuild and a second call.
  std::string text_operation(const std::string& method, const std::vector<std::string>& args);
  /// Marks the session as lost when the failing text operation is the caller's own.
  void mark_session_lost();
  /// A call abandoned for its time limit or a stopped run: records it as failed (whatever
  /// operation made it), ends the session and keeps the running operation from rebuilding it.
  void end_abandoned(const platform::CallAbandoned& abandoned, const std::string& failure);
  /// Records a failed call of the caller's own with its reason.
  void mark_call_failed(const std::string& reason);
  /// Records why init could not start the server, unless a failed call is already kept
  /// (an init of the caller's own always records it).
  void mark_start_failed(const std::string& reason);
};

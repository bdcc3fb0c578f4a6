#include "records/px_wrap_praxipat.hpp"

#include <utility>
#include <vector>

#include "app/host.hpp"
#include "records/px_tools.hpp"
#include "tools/tools.hpp"

namespace {

using platform::Argument;
using platform::AutomationError;
using platform::Variant;

constexpr const char* progid = "Praxilo.Server";
constexpr int error_level = 3;
constexpr const char* session_lost_reason = "connessione con Praxilo interrotta";

/// The server's answer as text: empty stays empty, integers in decimal; a Null answer
/// cannot be converted and fails like the call itself.
std::string variant_text(const Variant& answer) {
  switch (answer.kind) {
    case Variant::Kind::empty:
      return {};
    case Variant::Kind::text:
      return answer.text;
    case Variant::Kind::integer:
      return std::to_string(answer.integer);
    case Variant::Kind::null:
      break;
  }
  throw AutomationError("Null non convertibile in testo");
}

/// What a call abandoned for its limits leaves as the failure's reason.
std::string abandoned_reason(const platform::CallAbandoned& abandoned) {
  return abandoned.reason() == platform::CallAbandoned::Reason::timed_out ? praxilo_not_answering
                                                                          : "estrazione annullata";
}

/// Remembers the foreground window and makes it the foreground one again on leaving, so
/// that a server call that grabs the focus does not keep it. Never throws.
class ForegroundKeeper {
 public:
  explicit ForegroundKeeper(frontend::Host& host) : host_(host) {
    try {
      window_ = host_.foreground_window();
      known_ = true;
    } catch (const std::exception&) {
    }
  }
  ~ForegroundKeeper() {
    if (!known_) return;
    try {
      host_.set_foreground_window(window_);
    } catch (const std::exception&) {
    }
  }
  ForegroundKeeper(const ForegroundKeeper&) = delete;
  ForegroundKeeper& operator=(const ForegroundKeeper&) = delete;

 private:
  frontend::Host& host_;
  frontend::WindowHandle window_ = 0;
  bool known_ = false;
};

}  // namespace

/// Marks the span of one public operation. The outermost one grants a single session
/// rebuild, shared by everything that operation calls (the restart's own sign-in runs
/// new_object, which probes again), so a server that signs in but never answers the
/// probe cannot make the restart run round in circles.
class Tpx_wrap_praxipat::OperationScope {
 public:
  explicit OperationScope(Tpx_wrap_praxipat& owner) : owner_(owner) {
    if (owner_.operation_depth_++ == 0) owner_.rebuild_used_ = owner_.abandoned_ = false;
  }
  ~OperationScope() { --owner_.operation_depth_; }
  OperationScope(const OperationScope&) = delete;
  OperationScope& operator=(const OperationScope&) = delete;

 private:
  Tpx_wrap_praxipat& owner_;
};

Tpx_wrap_praxipat::Tpx_wrap_praxipat(ObjectFactory factory, frontend::Host& host)
    : factory_(std::move(factory)), host_(host) {
  if (!factory_) {
    factory_ = [](const std::string& name) { return platform::create_ole_object(name); };
  }
  try {
    const std::string directory = px_tools::log_directory();
    try {
      log = std::make_unique<Tpx_wrap_log>(host_);
    } catch (const std::exception&) {
      report_message("Tpx_wrap_praxipat.create(): eccezione - impossibile creare gestore log", error_level);
      return;
    }
    // Without the logging library the wrapper works the same, only without a trace; and
    // so it does when the installation's log directory is reached through a link, where
    // the library would write wherever the link leads.
    if (!px_tools::installation_found() || px_tools::log_directory_is_own())
      log->start("PRAXIPAT_", directory + "praxipat.log");
    last_message_.clear();
  } catch (const std::exception&) {
    report_message("Tpx_wrap_praxipat.create(): eccezione", error_level);
  }
}

Tpx_wrap_praxipat::~Tpx_wrap_praxipat() {
  termina_sessione();
  if (log) log->stop();  // never throws
  log.reset();
}

void Tpx_wrap_praxipat::termina_sessione() {
  disconnetti();  // never throws
  if (ole_praxipat) {
    try {
      ole_praxipat->call("Destroy", {Argument::missing()});
      trace("ole_praxipat.Destroy();");
      ole_praxipat->call("Free", {Argument::missing()});
      trace("ole_praxipat.Free();");
      ole_praxipat.reset();
      trace("ole_praxipat := Unassigned;");
    } catch (const std::exception&) {
      // A failure stops the sequence; the object is released all the same.
    }
    ole_praxipat.reset();
  }
  connected_ = false;
}

void Tpx_wrap_praxipat::trace(const std::string& line) {
  if (log) log->write_line(line);  // never throws
}

std::string Tpx_wrap_praxipat::call_text(const std::string& method, const std::vector<std::string>& args) {
  if (!ole_praxipat) throw AutomationError("nessun oggetto server");
  std::vector<Argument> arguments;
  arguments.reserve(args.size());
  for (const auto& arg : args) arguments.push_back(Argument::of(arg));
  std::string answer = variant_text(ole_praxipat->call(method, arguments));

  // The line, which holds the whole SQL text, is built only when the log will take it.
  if (!log || !log->writing()) return answer;
  std::string line = "ole_praxipat." + method + "(";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) line += ", ";
    line += args[i];
  }
  trace(line + ") = " + answer + ";");
  return answer;
}

bool Tpx_wrap_praxipat::init(const std::string& name, const std::string& extra) {
  OperationScope scope(*this);
  ForegroundKeeper foreground(host_);
  init_name = name;
  init_extra = extra;
  try {
    auto object = factory_(progid);
    if (!object) throw AutomationError("oggetto non creato");
    // No call waits for ever unless the user chooses to, each time its limit passes, and
    // a run the user stops does not wait for its call.
    object->limit_calls({time_limit_.value_or(platform::call_time_limit()), [this] { return host_.cancel_requested(); },
                         [this](std::chrono::seconds waited) {
                           // A question that cannot be asked gives the call up.
                           try {
                             return host_.keep_waiting(static_cast<int>(waited.count()));
                           } catch (const std::exception&) {
                             return false;
                           }
                         }});
    ole_praxipat = std::move(object);  // releases the object held before
    trace("ole_praxipat := CreateOleObject('Praxilo.Server');");
    ole_praxipat->call("new", {});
    trace("ole_praxipat.new();");
  } catch (const platform::CallAbandoned& abandoned) {
    // A server that does not answer "new" in time is not waited for again.
    end_abandoned(abandoned, "Tpx_wrap_praxipat.init(): eccezione");
    return false;
  } catch (const std::exception& error) {
    mark_start_failed(error.what());
    report_message("Tpx_wrap_praxipat.init(): eccezione", error_level);
    return false;
  }
  if (failed_with(SessionFailure::Kind::start_failed)) failure_.reset();
  return true;
}

bool Tpx_wrap_praxipat::connetti(const std::string& new_user_name, const std::string& new_password) {
  OperationScope scope(*this);
  ForegroundKeeper foreground(host_);
  user_name = new_user_name;
  password = new_password;
  std::string answer;
  try {
    if (!ole_praxipat) throw AutomationError("nessun oggetto server");
    answer = variant_text(ole_praxipat->call("connetti", {Argument::of(user_name), Argument::of(password)}));
    // The password is kept for the restart but never written to the trace.
    trace("ole_praxipat.connetti(" + user_name + ", ****) = " + answer + ";");
  } catch (const platform::CallAbandoned& abandoned) {
    end_abandoned(abandoned, "Tpx_wrap_praxipat.connetti(): eccezione");
    return false;
  } catch (const std::exception& error) {
    // A call that failed is no answer: the caller can tell it from refused credentials.
    report_message("Tpx_wrap_praxipat.connetti(): eccezione", error_level);
    mark_call_failed(error.what());
    return false;
  }
  if (!tools::is_empty(answer)) {
    connected_ = false;
    report_message("Tpx_wrap_praxipat.connetti(): errore in connessione", error_level);
    return false;
  }
  connected_ = true;
  // new_object never throws: a failure of it shows in text_failure_. It fails a sign-in of
  // the caller's own; a restart's sign-in goes on without it, so that a server whose probe
  // never answers still serves its calls after one restart.
  text_failure_.reset();
  new_object("i_professionista", "");
  if (text_failure_ && operation_depth_ == 1) {
    report_message("Tpx_wrap_praxipat.connetti(): eccezione in new_object()", error_level);
    mark_call_failed(*text_failure_);
    return false;
  }
  return true;
}

bool Tpx_wrap_praxipat::disconnetti() {
  ForegroundKeeper foreground(host_);
  if (connected_) {
    try {
      if (!ole_praxipat) throw AutomationError("nessun oggetto server");
      ole_praxipat->call("disconnetti", {Argument::missing()});
      trace("ole_praxipat.disconnetti();");
      connected_ = false;
    } catch (const std::exception&) {
      // Ignored: the session stays marked as connected.
    }
  }
  return true;
}

bool Tpx_wrap_praxipat::is_on() {
  try {
    if (!ole_praxipat) return false;
    ole_praxipat->call("get_error", {Argument::missing()});
    trace("ole_praxipat.get_error();");
    return true;
  } catch (const platform::CallAbandoned& abandoned) {
    end_abandoned(abandoned, "Tpx_wrap_praxipat.is_on(): eccezione");
    return false;
  } catch (const std::exception&) {
    return false;
  }
}

bool Tpx_wrap_praxipat::_start() {
  OperationScope scope(*this);
  try {
    if (tools::is_empty(user_name) || tools::is_empty(password)) {
      connected_ = false;
      report_message("Tpx_wrap_praxipat._start(): errore (1)", error_level);
      return false;
    }
  } catch (const std::exception&) {
    report_message("Tpx_wrap_praxipat._start(): eccezione (1)", error_level);
    return false;
  }
  if (rebuild_used_ || abandoned_) {
    // This operation has already rebuilt the session once; a second rebuild could only
    // repeat the first, so the operation goes on without a live session instead.
    report_message("Tpx_wrap_praxipat._start(): errore (3)", error_level);
    return false;
  }
  rebuild_used_ = true;
  try {
    if (!init(init_name, init_extra) || !connetti(user_name, password)) {
      connected_ = false;
      report_message("Tpx_wrap_praxipat._start(): errore (2)", error_level);
      return false;
    }
  } catch (const std::exception&) {
    report_message("Tpx_wrap_praxipat._start(): eccezione (2)", error_level);
    return false;
  }
  return true;
}

bool Tpx_wrap_praxipat::verifica_connessione() {
  OperationScope scope(*this);
  return is_on() || _start();
}

std::string Tpx_wrap_praxipat::text_operation(const std::string& method, const std::vector<std::string>& args) {
  OperationScope scope(*this);
  ForegroundKeeper foreground(host_);
  const auto failure = [&method] { return "Tpx_wrap_praxipat." + method + "(): eccezione"; };
  // Every way out that is no answer says why in text_failure_; an answer clears it.
  const auto no_answer = [this](std::string reason) {
    text_failure_ = std::move(reason);
    return std::string();
  };
  const auto answered = [this](std::string answer) {
    text_failure_.reset();
    return answer;
  };
  if (!verifica_connessione()) {
    if (abandoned_) return no_answer(failure_ ? failure_->reason : praxilo_not_answering);
    mark_session_lost();
    return no_answer(session_lost_reason);
  }
  try {
    return answered(call_text(method, args));
  } catch (const platform::CallAbandoned& abandoned) {
    end_abandoned(abandoned, failure());
    return no_answer(abandoned_reason(abandoned));
  } catch (const std::exception& error) {
    if (is_on()) {
      // The server is alive and refused this call (an SQL error, a Null answer).
      report_message(failure(), error_level);
      mark_call_failed(error.what());
      return no_answer(error.what());
    }
  }
  // The probe found no answer in time.
  if (abandoned_) return no_answer(failure_ ? failure_->reason : praxilo_not_answering);
  // The server went away during the call: rebuild the session and send the call once
  // more, so that a dead server does not pass for an empty answer.
  if (!_start()) {
    mark_session_lost();
    return no_answer(session_lost_reason);
  }
  try {
    return answered(call_text(method, args));
  } catch (const platform::CallAbandoned& abandoned) {
    end_abandoned(abandoned, failure());
    return no_answer(abandoned_reason(abandoned));
  } catch (const std::exception& error) {
    report_message(failure(), error_level);
    mark_call_failed(error.what());
    mark_session_lost();
    return no_answer(error.what());
  }
}

void Tpx_wrap_praxipat::end_abandoned(const platform::CallAbandoned& abandoned, const std::string& failure) {
  // A server that has not answered in time is neither waited for again nor started
  // again, and a stopped run wants no new session: the session ends and the call fails.
  // The operation that made the call fails whatever it was called from.
  abandoned_ = true;
  report_message(failure, error_level);
  if (!failure_ || failure_->kind == SessionFailure::Kind::start_failed) {
    failure_ = SessionFailure{SessionFailure::Kind::call_failed, abandoned_reason(abandoned)};
  }
  termina_sessione();
}

std::string Tpx_wrap_praxipat::leggi_attributo(const std::string& name) {
  return text_operation("leggi_attributo", {name});
}

std::string Tpx_wrap_praxipat::utente_leggi_attributo(const std::string& name) {
  return text_operation("utente_leggi_attributo", {name});
}

std::string Tpx_wrap_praxipat::get_opzione(const std::string& scope, const std::string& path) {
  return text_operation("get_opzione", {scope, path});
}

std::string Tpx_wrap_praxipat::new_object(const std::string& name, const std::string& argument) {
  return text_operation("new_object", {name, argument});
}

std::string Tpx_wrap_praxipat::sql_into(const std::string& database, const std::string& sql) {
  return text_operation("sql_into", {database, sql});
}

std::string Tpx_wrap_praxipat::sql_dump_file(const std::string& database, const std::string& sql) {
  return text_operation("sql_dump_file", {database, sql});
}

void Tpx_wrap_praxipat::mark_session_lost() {
  // A text operation run inside another one (new_object after the restart's sign-in)
  // loses nothing that a caller relies on.
  if (operation_depth_ != 1) return;
  mark_call_failed(session_lost_reason);
  failure_->kind = SessionFailure::Kind::session_lost;  // the first reason stays
}

void Tpx_wrap_praxipat::mark_call_failed(const std::string& reason) {
  if (operation_depth_ != 1) return;
  if (failure_ && failure_->kind != SessionFailure::Kind::start_failed) return;
  failure_ = SessionFailure{SessionFailure::Kind::call_failed, reason};
}

void Tpx_wrap_praxipat::mark_start_failed(const std::string& reason) {
  if (failure_ && failure_->kind != SessionFailure::Kind::start_failed && operation_depth_ != 1) return;
  failure_ = SessionFailure{SessionFailure::Kind::start_failed, reason};
}

void Tpx_wrap_praxipat::report_message(const std::string& text, int level) {
  try {
    last_message_ = px_tools::level_prefix(level) + text;
  } catch (const std::exception&) {
  }
}

#pragma once
// Late-bound automation objects, as COM's IDispatch offers them: a method is called by
// name with a list of arguments and answers a Variant, or fails with AutomationError.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/failure.hpp"

namespace platform {

/// A value answered by an automation call.
struct Variant {
  enum class Kind { empty, null, text, integer };
  Kind kind = Kind::empty;
  std::string text;          ///< UTF-8, when kind == text
  std::int64_t integer = 0;  ///< when kind == integer

  static Variant make_empty() { return {}; }
  static Variant make_null() { return {Kind::null, {}, 0}; }
  static Variant make_text(std::string t) { return {Kind::text, std::move(t), 0}; }
  static Variant make_integer(std::int64_t i) { return {Kind::integer, {}, i}; }
};

/// One argument of a call: a text passed by reference, or "omitted".
struct Argument {
  bool omitted = false;
  std::string text;

  static Argument missing() { return {true, {}}; }
  static Argument of(std::string t) { return {false, std::move(t)}; }
};

/// The failure of an automation call: no object, a dead or garbled server, a method
/// the server raised on. what() is the error's text.
class AutomationError : public Failure {
 public:
  using Failure::Failure;
};

/// What ends a call's wait for its answer besides the answer: a time limit, which the
/// caller may choose to extend each time it passes, and a check asked on the calling
/// thread about ten times a second while it waits.
struct CallLimits {
  /// The longest wait for one answer before keep_waiting is asked; zero for none.
  std::chrono::milliseconds time_limit{0};
  /// True ends the wait at once (the user has stopped the run); a call made while it is
  /// already true is not ended by it. May be empty.
  std::function<bool()> stop;
  /// Asked on the calling thread each time the call has waited time_limit more without
  /// its answer, with the whole wait since the call was sent: true waits time_limit once
  /// more (an answer that came meanwhile is taken at once), false gives the call up. Empty:
  /// the call is given up at the first limit.
  std::function<bool(std::chrono::seconds waited)> keep_waiting;
};

/// A call that ended without its answer because of its CallLimits. The server then counts
/// as gone: the object fails every later call at once. On POSIX the server process started
/// for the object is ended; on Windows the call is left to the object's own thread, which
/// releases the object once the call returns.
class CallAbandoned : public AutomationError {
 public:
  enum class Reason { timed_out, stopped };
  explicit CallAbandoned(Reason reason)
      : AutomationError(reason == Reason::timed_out ? "Il server non risponde" : "Chiamata annullata"),
        reason_(reason) {}
  Reason reason() const { return reason_; }

 private:
  Reason reason_;
};

/// A time limit for calls given as text: a whole number of seconds from 1 to 86400 (one
/// day), digits only; nullopt for anything else.
std::optional<std::chrono::seconds> parse_call_time_limit(const std::string& text);

/// The time limit for one call to the records product: PIVZONA12_CALL_TIMEOUT_S seconds
/// when that variable holds a limit parse_call_time_limit takes, else two minutes.
std::chrono::milliseconds call_time_limit();

/// A late-bound object. Releasing it (destroying the pointer) releases the server.
class AutomationObject {
 public:
  virtual ~AutomationObject() = default;
  /// Calls a method by name. Throws AutomationError on any failure, CallAbandoned when the
  /// wait for the answer ended by the object's limits.
  virtual Variant call(const std::string& method, const std::vector<Argument>& args) = 0;
  /// Sets the limits of every later call.
  void limit_calls(CallLimits limits) { limits_ = std::move(limits); }

 protected:
  const CallLimits& limits() const { return limits_; }

 private:
  CallLimits limits_;
};

/// The whole seconds (to the nearest) since sent, as keep_waiting is told them.
std::chrono::seconds waited_since(std::chrono::steady_clock::time_point sent);

/// Creates an object of a registered class. On POSIX the class is looked up at
/// HKEY_CLASSES_ROOT\<progid>\LocalServer32 (default value: the server's command line),
/// and that program is started as a child process that answers over stdin/stdout. On
/// Windows it is the object of a COM in-process or local server, reached through IDispatch
/// with its texts passed by reference. Throws AutomationError for an unregistered class or
/// a server that cannot start.
std::unique_ptr<AutomationObject> create_ole_object(const std::string& progid);

/// Automation for the calling thread while the object lives: on Windows COM, initialised
/// as a single-threaded apartment; nothing to do on POSIX. Each main creates one before
/// any object and keeps it until every object is released.
class AutomationScope {
 public:
  AutomationScope();
  ~AutomationScope();
  AutomationScope(const AutomationScope&) = delete;
  AutomationScope& operator=(const AutomationScope&) = delete;

 private:
  bool initialised_ = false;
};

}  // namespace platform

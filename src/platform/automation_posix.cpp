// Late-bound objects served by a local server process, as COM's LocalServer32 classes
// are: the class's command line comes from the registry, the process is started with
// its stdin on a socket and its stdout on a pipe, and every call is one request frame
// answered by one answer frame (automation_protocol.hpp) carrying the request's id. A
// frame that is not the answer to the call in progress (a stray frame, a late or early
// answer) means the server is out of step: the object counts as gone, as for a dead
// server, so that no answer can ever be taken for another call's.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <string_view>
#include <thread>

#include "platform/automation.hpp"
#include "platform/interrupt.hpp"
#include "platform/registry.hpp"
#include "protocol/automation_protocol.hpp"

extern char** environ;

namespace platform {

namespace {

constexpr const char* class_not_registered = "Classe non registrata";
constexpr const char* server_unavailable = "Il server RPC non è disponibile";
constexpr const char* server_garbled = "Risposta non valida dal server di automazione";
constexpr const char* server_not_started = "Impossibile avviare il server di automazione";

// How long a released server may take to end by itself before it is killed.
constexpr auto release_grace = std::chrono::milliseconds(1500);

class LocalServerObject : public AutomationObject {
 public:
  LocalServerObject(pid_t pid, int to_server, int from_server)
      : pid_(pid), to_server_(to_server), from_server_(from_server), answers_(from_server, protocol::frame_watch_ns) {}

  ~LocalServerObject() override { shut_down(release_grace); }

  Variant call(const std::string& method, const std::vector<Argument>& args) override {
    if (broken_) throw AutomationError(server_unavailable);
    // Nothing may be waiting before a request is sent: a frame there was never asked for,
    // and an end of input means the server has gone.
    if (const char* problem = waiting_input()) fail(problem);
    const std::uint64_t id = ++last_id_;
    const std::string request = protocol::encode_request({method, args, id});
    if (!protocol::write_frame(to_server_, request, true)) fail(server_unavailable);
    const auto sent = std::chrono::steady_clock::now();
    protocol::WaitEnd until = wait_end();
    std::optional<std::string_view> frame;
    // Each time the limit passes the caller may choose to wait once more as long: the
    // reader then goes on with the frame where it stood.
    while (!(frame = answers_.next(until)) && answers_.ended() == protocol::FrameReader::Ending::timed_out) {
      if (!limits().keep_waiting || !limits().keep_waiting(waited_since(sent)))
        abandon(CallAbandoned::Reason::timed_out);
      until.deadline = std::chrono::steady_clock::now() + limits().time_limit;
    }
    if (!frame) {
      if (answers_.ended() == protocol::FrameReader::Ending::stopped) abandon(CallAbandoned::Reason::stopped);
      fail(server_unavailable);
    }
    std::optional<protocol::Response> response = protocol::decode_response(*frame);
    if (!response || response->id != id) fail(server_garbled);
    if (!response->ok) throw AutomationError(response->error);
    return std::move(response->result);
  }

 private:
  // The server is gone or cannot be understood: every later call fails as well, and the
  // process, if it still runs, is ended now rather than at release.
  [[noreturn]] void fail(const char* text) {
    broken_ = true;
    shut_down(std::chrono::milliseconds(0));
    throw AutomationError(text);
  }

  // The wait for an answer ended by the object's limits: the server, busy or stuck, may
  // still answer later, so it is ended now and the object fails every later call.
  [[noreturn]] void abandon(CallAbandoned::Reason reason) {
    broken_ = true;
    shut_down(std::chrono::milliseconds(0));
    throw CallAbandoned(reason);
  }

  /// When the wait for the call now being made ends, from the object's limits.
  protocol::WaitEnd wait_end() const {
    protocol::WaitEnd until;
    if (limits().time_limit.count() > 0) until.deadline = std::chrono::steady_clock::now() + limits().time_limit;
    // A stop asked before the call was made does not end it: the caller knew, and makes
    // it all the same (the sign-out after a stopped run).
    if (limits().stop && !limits().stop()) until.stop = &limits().stop;
    return until;
  }

  // Closes both channels (a well-behaved server ends at end of input), waits up to grace
  // for the process to end, then kills it; always reaps it.
  void shut_down(std::chrono::milliseconds grace) {
    if (to_server_ >= 0) ::close(to_server_);
    if (from_server_ >= 0) ::close(from_server_);
    to_server_ = from_server_ = -1;
    if (pid_ <= 0) return;
    const auto deadline = std::chrono::steady_clock::now() + grace;
    for (;;) {
      int status = 0;
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_ || (r < 0 && errno != EINTR)) break;
      if (r == 0 && std::chrono::steady_clock::now() >= deadline) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        break;
      }
      if (r == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    unregister_child_at_interrupt(pid_);
    pid_ = -1;
  }

  /// What the server has written (already read past the last answer, or still in the
  /// pipe), or done to its end, while no call was waiting for it: nullptr when nothing,
  /// else the failure it stands for.
  const char* waiting_input() const {
    if (answers_.holds_input()) return server_garbled;
    pollfd p{from_server_, POLLIN, 0};
    int rc;
    while ((rc = ::poll(&p, 1, 0)) < 0 && errno == EINTR) {
    }
    if (rc <= 0) return nullptr;
    return (p.revents & POLLIN) ? server_garbled : server_unavailable;
  }

  pid_t pid_;
  int to_server_;
  int from_server_;
  protocol::FrameReader answers_;  ///< reads from from_server_
  bool broken_ = false;
  std::uint64_t last_id_ = 0;
};

/// The variable that may hold the doctor's password for the command-line program; the
/// server is a separate program and must not inherit it.
constexpr std::string_view password_variable = "PIVZONA12_PASSWORD=";

/// This process's environment without the password variable.
std::vector<char*> server_environment() {
  std::vector<char*> env;
  for (char** e = environ; e && *e; ++e)
    if (std::string_view(*e).substr(0, password_variable.size()) != password_variable) env.push_back(*e);
  env.push_back(nullptr);
  return env;
}

}  // namespace

std::unique_ptr<AutomationObject> create_ole_object(const std::string& progid) {
  const RegistryValue command = registry_read(RegistryRoot::classes_root, progid + "\\LocalServer32", "");
  if (progid.empty() || command.status != RegistryStatus::ok) throw AutomationError(class_not_registered);
  const std::vector<std::string> words = protocol::split_command_line(command.text);
  if (words.empty()) throw AutomationError(class_not_registered);

  // Requests go through a socket, which the client writes without ever raising SIGPIPE
  // (a pipe would need the signal held back around every write); answers come back
  // through a pipe.
  int in_socket[2];  // parent writes [1], server reads [0] as stdin
  int out_pipe[2];   // server writes [1] as stdout, parent reads [0]
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in_socket) != 0) throw AutomationError(server_not_started);
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
    ::close(in_socket[0]);
    ::close(in_socket[1]);
    throw AutomationError(server_not_started);
  }
  auto close_all = [&] {
    for (int fd : {in_socket[0], in_socket[1], out_pipe[0], out_pipe[1]}) ::close(fd);
  };

  // dup2 clears close-on-exec on the duplicates, so the server keeps exactly stdin,
  // stdout and the stderr it inherits; every other end closes at exec.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_socket[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  // The server starts with default signal handling whatever this process ignores.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  sigset_t no_mask;
  sigemptyset(&no_mask);
  posix_spawnattr_setsigmask(&attributes, &no_mask);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<char*> argv;
  for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  std::vector<char*> env = server_environment();
  const int rc = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    close_all();
    throw AutomationError(std::string(server_not_started) + ": " + words[0]);
  }
  ::close(in_socket[0]);
  ::close(out_pipe[1]);
  register_child_at_interrupt(pid);
  return std::make_unique<LocalServerObject>(pid, in_socket[1], out_pipe[0]);
}

}  // namespace platform

namespace platform {

// A socket and a pipe to a child process need no set-up per thread.
AutomationScope::AutomationScope() = default;
AutomationScope::~AutomationScope() = default;

}  // namespace platform

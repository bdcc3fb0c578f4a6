// Late-bound objects served by a local server process, as COM's LocalServer32 classes
// are: the class's command line comes from the registry, the process is started with
// its stdin and stdout on two pipes, and every call is one request frame answered by one
// answer frame (automation_protocol.hpp).
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/automation.hpp"
#include "platform/automation_protocol.hpp"
#include "platform/registry.hpp"

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
      : pid_(pid), to_server_(to_server), from_server_(from_server) {}

  ~LocalServerObject() override { shut_down(release_grace); }

  Variant call(const std::string& method, const std::vector<Argument>& args) override {
    if (broken_) throw AutomationError(server_unavailable);
    const std::string request = protocol::encode_request({method, args});
    if (!protocol::write_frame(to_server_, request)) fail(server_unavailable);
    const std::optional<std::string> frame = protocol::read_frame(from_server_);
    if (!frame) fail(server_unavailable);
    const std::optional<protocol::Response> response = protocol::decode_response(*frame);
    if (!response) fail(server_garbled);
    if (!response->ok) throw AutomationError(response->error);
    return response->result;
  }

 private:
  // The server is gone or cannot be understood: every later call fails as well, and the
  // process, if it still runs, is ended now rather than at release.
  [[noreturn]] void fail(const char* text) {
    broken_ = true;
    shut_down(std::chrono::milliseconds(0));
    throw AutomationError(text);
  }

  // Closes both pipes (a well-behaved server ends at end of input), waits up to grace
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
    pid_ = -1;
  }

  pid_t pid_;
  int to_server_;
  int from_server_;
  bool broken_ = false;
};

}  // namespace

std::unique_ptr<AutomationObject> create_ole_object(const std::string& progid) {
  const RegistryValue command =
      registry_read(RegistryRoot::classes_root, progid + "\\LocalServer32", "");
  if (progid.empty() || command.status != RegistryStatus::ok) throw AutomationError(class_not_registered);
  const std::vector<std::string> words = protocol::split_command_line(command.text);
  if (words.empty()) throw AutomationError(class_not_registered);

  int in_pipe[2];   // parent writes [1], server reads [0] as stdin
  int out_pipe[2];  // server writes [1] as stdout, parent reads [0]
  if (::pipe2(in_pipe, O_CLOEXEC) != 0) throw AutomationError(server_not_started);
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
    ::close(in_pipe[0]);
    ::close(in_pipe[1]);
    throw AutomationError(server_not_started);
  }
  auto close_all = [&] {
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1]}) ::close(fd);
  };

  // dup2 clears close-on-exec on the duplicates, so the server keeps exactly stdin,
  // stdout and the stderr it inherits; every other pipe end closes at exec.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], STDIN_FILENO);
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
  const int rc = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    close_all();
    throw AutomationError(std::string(server_not_started) + ": " + words[0]);
  }
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  return std::make_unique<LocalServerObject>(pid, in_pipe[1], out_pipe[0]);
}

}  // namespace platform

namespace platform {

// Pipes to a child process need no set-up per thread.
AutomationScope::AutomationScope() = default;
AutomationScope::~AutomationScope() = default;

}  // namespace platform

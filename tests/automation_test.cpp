// Late-bound objects served by a local server process: the registry lookup, the calls,
// and what happens when the server dies, garbles its answers or is released.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "child_processes.hpp"
#include "platform/automation.hpp"
#include "platform/automation_protocol.hpp"
#include "test_support.hpp"

using platform::Argument;
using platform::AutomationError;
using platform::Variant;
using test_support::Installation;
using test_support::ScopedEnv;

namespace {

std::string error_of(platform::AutomationObject& object, const std::string& method,
                     const std::vector<Argument>& args = {}) {
  try {
    object.call(method, args);
  } catch (const AutomationError& e) {
    return e.what();
  }
  return "(no error)";
}

using test_support::process_exists;
using test_support::ProcessId;
using test_support::wait_until_ended;

ProcessId server_pid(platform::AutomationObject& object) {
  const Variant pid = object.call("process_id", {});
  EXPECT_EQ(pid.kind, Variant::Kind::integer);
  return pid.integer;
}

// Local servers that stand for broken ones are shell scripts: pipe transport only.
const char* const pipe_transport_only =
    "a broken local server is a shell script on the pipe transport; COM starts servers itself";

// A registry entry for a class served by a shell script written into dir. The script
// can call read_request to take one request frame from its input.
std::string script_class(const std::string& progid, const std::filesystem::path& script, const std::string& body) {
  test_support::write_file(script,
                           "#!/bin/sh\n"
                           "read_request() {\n"
                           "  n=$(head -c 4 | od -An -tu1 | awk '{print $1*16777216+$2*65536+$3*256+$4}')\n"
                           "  head -c \"$n\" >/dev/null\n"
                           "}\n" +
                               body + "\n");
  return "[HKEY_CLASSES_ROOT\\" + progid + "\\LocalServer32]\r\n@=\"/bin/sh \\\"" + script.string() + "\\\"\"\r\n";
}

TEST(SplitCommandLine, FollowsTheWindowsRules) {
  struct Case {
    const char* name;
    std::string line;
    std::vector<std::string> words;
  };
  const std::vector<Case> cases = {
      {"blanks separate", "  a  b\tc ", {"a", "b", "c"}},
      {"quotes group", R"("/opt/my dir/server" "x y.db")", {"/opt/my dir/server", "x y.db"}},
      {"quotes inside a word", R"(a"b c"d)", {"ab cd"}},
      {"empty quoted word", R"(a "" b)", {"a", "", "b"}},
      {"backslashes kept", R"(C:\dir\sub\prog.exe)", {R"(C:\dir\sub\prog.exe)"}},
      {"escaped quote", R"(a\"b)", {"a\"b"}},
      {"even backslashes before a quote", R"("C:\dir\\" next)", {"C:\\dir\\", "next"}},
      {"doubled quote inside quotes", R"("say ""hi""")", {"say \"hi\""}},
      {"nothing", "   ", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(platform::protocol::split_command_line(c.line), c.words);
  }
}

TEST(SplitCommandLine, JoinedWordsSplitBack) {
  const std::vector<std::string> words = {"/tmp/a b/server", "C:\\dir\\", "quote \" inside", "", "tail\\\\"};
  EXPECT_EQ(platform::protocol::split_command_line(platform::protocol::join_command_line(words)), words);
}

TEST(Protocol, GarbledAnswersAreRejected) {
  using platform::protocol::decode_response;
  for (const char* text : {"", "hello", "[]", R"({"ok":true})", R"({"ok":true,"result":{"kind":"text"}})",
                           R"({"ok":false})", R"({"ok":"yes","result":{"kind":"empty"}})",
                           R"({"ok":true,"result":{"kind":"blob"}})"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(decode_response(text));
  }
  const auto ok = decode_response(R"({"id":7,"ok":true,"result":{"kind":"text","text":"Niccolò"}})");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->id, 7u);
  EXPECT_EQ(ok->result.text, "Niccolò");
}

// Depth counts arrays and objects, the message itself at depth 0.
std::string nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(Protocol, MessagesWithoutAGoodIdOrNestedTooDeepAreRejected) {
  using platform::protocol::decode_request;
  using platform::protocol::decode_response;
  const std::string answer_tail = R"("ok":true,"result":{"kind":"empty"})";
  struct Case {
    const char* name;
    std::string json;
    bool accepted;
  };
  const int limit = platform::protocol::max_nesting_depth;
  for (const Case& c : std::vector<Case>{
           {"no id", "{" + answer_tail + "}", false},
           {"negative id", R"({"id":-1,)" + answer_tail + "}", false},
           {"text id", R"({"id":"1",)" + answer_tail + "}", false},
           {"nested to the limit", R"({"id":1,"x":)" + nested(limit - 1) + "," + answer_tail + "}", true},
           {"nested one deeper", R"({"id":1,"x":)" + nested(limit) + "," + answer_tail + "}", false},
           {"nested far deeper", R"({"id":1,"x":)" + nested(100000) + "," + answer_tail + "}", false},
       }) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decode_response(c.json).has_value(), c.accepted);
  }
  EXPECT_TRUE(decode_request(R"({"id":3,"method":"new","args":[{"text":"a"},{"omitted":true}]})"));
  EXPECT_FALSE(decode_request(R"({"method":"new","args":[]})"));
  EXPECT_FALSE(decode_request(R"({"id":3,"method":"new","args":[)" + nested(limit) + "]}"));
}

// A scripted server: after each request it writes the bytes given for that call (none
// once the list is used up), then reads its input to the end.
struct FrameFaultCase {
  const char* name;
  std::vector<std::string> output;  ///< what the server writes after request 1, 2, ...
  std::vector<std::string> calls;   ///< per call: the text answered, or "!" for a failure
  friend void PrintTo(const FrameFaultCase& c, std::ostream* os) { *os << c.name; }
};

class FrameFaults : public testing::TestWithParam<FrameFaultCase> {};

std::string frame(const std::string& json) { return platform::protocol::encode_frame(json); }

std::string text_answer(int id, const std::string& text) {
  return frame(R"({"id":)" + std::to_string(id) + R"(,"ok":true,"result":{"kind":"text","text":")" + text + R"("}})");
}

TEST_P(FrameFaults, NeverShiftAnAnswerToAnotherCall) {
  if (test_support::windows) GTEST_SKIP() << pipe_transport_only;
  const auto& c = GetParam();
  test_support::TempDir dir;
  std::string body;
  for (std::size_t i = 0; i < c.output.size(); ++i) {
    const auto file = dir.path() / ("answer" + std::to_string(i));
    test_support::write_file(file, c.output[i]);
    body += "read_request\ncat '" + file.string() + "'\n";
  }
  Installation inst("", script_class("Fake.Frames", dir.path() / "frames.sh", body + "exec cat >/dev/null"));
  auto server = platform::create_ole_object("Fake.Frames");
  for (std::size_t i = 0; i < c.calls.size(); ++i) {
    SCOPED_TRACE("call " + std::to_string(i + 1));
    if (c.calls[i] == "!")
      EXPECT_THROW(server->call("get_error", {}), AutomationError);
    else
      EXPECT_EQ(server->call("get_error", {}).text, c.calls[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(
    CreateOleObject, FrameFaults,
    testing::Values(
        FrameFaultCase{"InStep", {text_answer(1, "uno"), text_answer(2, "due")}, {"uno", "due"}},
        FrameFaultCase{"ExtraFrameAfterAnAnswer",
                       {text_answer(1, "uno") + text_answer(1, "ancora"), text_answer(2, "due")},
                       {"uno", "!", "!"}},
        FrameFaultCase{"StaleFrameBeforeTheAnswer",
                       {text_answer(1, "uno"), text_answer(1, "vecchia") + text_answer(2, "due")},
                       {"uno", "!", "!"}},
        FrameFaultCase{"AnswerToAnotherRequest", {text_answer(2, "due"), text_answer(2, "due")}, {"!", "!"}},
        FrameFaultCase{"AnswerWithoutId", {frame(R"({"ok":true,"result":{"kind":"text","text":"uno"}})")}, {"!", "!"}},
        FrameFaultCase{"OversizeFrame", {std::string("\x04\x00\x00\x01", 4) + "{}"}, {"!", "!"}},
        FrameFaultCase{"TooDeepFrame",
                       {frame(R"({"id":1,"x":)" + nested(100000) + R"(,"ok":true,"result":{"kind":"empty"}})")},
                       {"!", "!"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CreateOleObject, ServerThatStopsReadingFailsTheCallWithoutASignal) {
  if (test_support::windows) GTEST_SKIP() << pipe_transport_only;
  // The request meets a pipe with no reader: the write must fail with EPIPE, not end this
  // process with SIGPIPE.
  test_support::TempDir dir;
  Installation inst("", script_class("Fake.Deaf", dir.path() / "deaf.sh", "exec 0<&-\nexec sleep 60"));
  auto server = platform::create_ole_object("Fake.Deaf");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let the script close its input
  EXPECT_THROW(server->call("get_error", {}), AutomationError);
  EXPECT_THROW(server->call("get_error", {}), AutomationError);
}

TEST(CreateOleObject, ServerStartsWithoutThePassword) {
  if (test_support::windows)
    GTEST_SKIP() << "COM starts the server itself, with an environment that is not the client's to choose";
  test_support::TempDir dir;
  const auto env_file = dir.path() / "env.txt";
  ScopedEnv password("PIVZONA12_PASSWORD", "segreta");
  ScopedEnv other("PIVZONA12_OTHER", "kept");
  Installation inst("", script_class("Fake.Env", dir.path() / "env.sh", "env > '" + env_file.string() + "'\n" +
                                                                            "exec cat >/dev/null"));
  { auto server = platform::create_ole_object("Fake.Env"); }
  const std::string env = test_support::read_file(env_file);
  EXPECT_NE(env.find("PIVZONA12_OTHER=kept"), std::string::npos);
  EXPECT_EQ(env.find("PIVZONA12_PASSWORD"), std::string::npos);
}

TEST(CreateOleObject, UnregisteredClassFails) {
  Installation inst;
  try {
    platform::create_ole_object("Praxilo.Inesistente");
    FAIL() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_STREQ(e.what(), "Classe non registrata");
  }
}

TEST(CreateOleObject, WithoutARegistryFileNoClassIsKnown) {
  if (test_support::windows) GTEST_SKIP() << "on Windows classes are registered in the system registry";
  Installation inst;
  ScopedEnv no_registry("PIVZONA12_REGISTRY", std::nullopt);
  EXPECT_THROW(platform::create_ole_object("Praxilo.Server"), AutomationError);
}

TEST(CreateOleObject, ServerThatCannotStartFails) {
  Installation inst("", "[HKEY_CLASSES_ROOT\\Praxilo.Server\\LocalServer32]\r\n@=\"/nonexistent/praxilo-server x\"");
  test_support::ServerClass missing_class("/nonexistent/praxilo-server x");
  EXPECT_THROW(platform::create_ole_object("Praxilo.Server"), AutomationError);
}

TEST(CreateOleObject, CallsTheRealServer) {
  Installation inst(test_support::demo_user_sql);
  auto server = platform::create_ole_object("Praxilo.Server");
  EXPECT_EQ(server->call("new", {}).kind, Variant::Kind::empty);
  const Variant accepted = server->call("connetti", {Argument::of("demo"), Argument::of("demo")});
  EXPECT_EQ(accepted.kind, Variant::Kind::text);
  EXPECT_EQ(accepted.text, "");
  EXPECT_EQ(server->call("utente_leggi_attributo", {Argument::of("cognome")}).text, "D'Alò");
  EXPECT_EQ(server->call("get_error", {Argument::missing()}).kind, Variant::Kind::text);

  // A method the server does not know raises, and the object stays usable.
  EXPECT_EQ(error_of(*server, "metodo_fantasma"), "Metodo sconosciuto: metodo_fantasma");
  EXPECT_EQ(server->call("leggi_attributo", {Argument::of("userid_utente")}).text, "7");
}

TEST(CreateOleObject, AnUnknownMethodIsTheServersLastError) {
  if (test_support::windows)
    GTEST_SKIP() << "COM rejects an unknown name in the client's lookup; the server never hears of it";
  Installation inst(test_support::demo_user_sql);
  auto server = platform::create_ole_object("Praxilo.Server");
  error_of(*server, "metodo_fantasma");
  EXPECT_EQ(server->call("get_error", {Argument::missing()}).text, "Metodo sconosciuto: metodo_fantasma");
}

TEST(CreateOleObject, ReleaseEndsTheServerProcess) {
  Installation inst;
  auto server = platform::create_ole_object("Praxilo.Server");
  const ProcessId pid = server_pid(*server);
  ASSERT_TRUE(process_exists(pid));
  server.reset();
  EXPECT_TRUE(wait_until_ended(pid));
}

TEST(CreateOleObject, ReleaseKillsAServerThatIgnoresTheEndOfItsInput) {
  if (test_support::windows) GTEST_SKIP() << pipe_transport_only;
  test_support::TempDir dir;
  // Answers one call with its process id, then sleeps without reading its input.
  const std::string registry = script_class("Fake.Stubborn", dir.path() / "stubborn.sh",
                                            "read_request\n"
                                            "len=$(printf '{\"id\":1,\"ok\":true,\"result\":{\"kind\":\"integer\",\"integer\":%d}}' $$ | wc -c)\n"
                                            "printf \"\\\\000\\\\000\\\\000\\\\$(printf '%03o' $len)\"\n"
                                            "printf '{\"id\":1,\"ok\":true,\"result\":{\"kind\":\"integer\",\"integer\":%d}}' $$\n"
                                            "exec sleep 60");
  Installation inst("", registry);
  auto server = platform::create_ole_object("Fake.Stubborn");
  const ProcessId pid = server_pid(*server);
  ASSERT_TRUE(process_exists(pid));
  server.reset();
  EXPECT_FALSE(process_exists(pid));
}

TEST(CreateOleObject, KilledServerFailsEveryLaterCall) {
  Installation inst;
  auto server = platform::create_ole_object("Praxilo.Server");
  const ProcessId pid = server_pid(*server);
  ASSERT_TRUE(test_support::end_process(pid));
  EXPECT_THROW(server->call("get_error", {Argument::missing()}), AutomationError);
  EXPECT_THROW(server->call("new", {}), AutomationError);
  EXPECT_TRUE(wait_until_ended(pid));

  // A new object starts a new process.
  auto again = platform::create_ole_object("Praxilo.Server");
  EXPECT_NE(server_pid(*again), pid);
}

TEST(CreateOleObject, GarbledAnswerFailsEveryLaterCall) {
  if (test_support::windows) GTEST_SKIP() << pipe_transport_only;
  test_support::TempDir dir;
  // Answers a well-framed text that is not a message, then waits.
  Installation inst("", script_class("Fake.Garbage", dir.path() / "garbage.sh",
                                     "read_request\nprintf '\\000\\000\\000\\005hello'\nexec sleep 60"));
  auto server = platform::create_ole_object("Fake.Garbage");
  try {
    server->call("new", {});
    FAIL() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_STREQ(e.what(), "Risposta non valida dal server di automazione");
  }
  EXPECT_THROW(server->call("new", {}), AutomationError);
}

TEST(CreateOleObject, ServerExitsOnItsNthCall) {
  Installation inst;
  ScopedEnv exit_after("PRAXILO_SERVER_EXIT_AFTER", "3");
  for (int round = 0; round < 2; ++round) {  // every new process meets the fault again
    SCOPED_TRACE(round);
    auto server = platform::create_ole_object("Praxilo.Server");
    EXPECT_NO_THROW(server->call("new", {}));
    const ProcessId pid = server_pid(*server);
    EXPECT_THROW(server->call("get_error", {Argument::missing()}), AutomationError);
    EXPECT_THROW(server->call("get_error", {Argument::missing()}), AutomationError);
    EXPECT_TRUE(wait_until_ended(pid));
  }
}

}  // namespace

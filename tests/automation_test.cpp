// Late-bound objects served by a local server process: the registry lookup, the calls,
// and what happens when the server dies, garbles its answers or is released.
#include "platform/automation.hpp"

#include <atomic>
#include <chrono>
#include <limits>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "child_processes.hpp"
#include "protocol/automation_protocol.hpp"
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

// Local servers that stand for broken ones are shell scripts: POSIX transport only.
const char* const pipe_transport_only =
    "a broken local server is a shell script on the POSIX transport; COM starts servers itself";

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

// The MessagePack bytes of a message written as JSON text, for readable cases.
std::string msgpack(const std::string& json_text) {
  std::string bytes;
  nlohmann::json::to_msgpack(nlohmann::json::parse(json_text), bytes);
  return bytes;
}

// A value nested depth arrays deep, in MessagePack: one-item arrays around a nil.
std::string nested(int depth) { return std::string(static_cast<std::size_t>(depth), '\x91') + '\xc0'; }

TEST(Protocol, EveryValueComesBackAsSent) {
  using platform::protocol::Response;
  const Response answers[] = {
      {true, Variant::make_empty(), "", 1},
      {true, Variant::make_null(), "", 2},
      {true, Variant::make_text(""), "", 3},
      {true, Variant::make_text("Niccolò\t\"a\\b\"\r\n{}"), "", 4},
      {true, Variant::make_integer(0), "", 5},
      {true, Variant::make_integer(-7), "", 6},
      {true, Variant::make_integer(std::numeric_limits<std::int64_t>::max()), "", 7},
      {true, Variant::make_integer(std::numeric_limits<std::int64_t>::min()), "", 8},
      {false, Variant::make_empty(), "Errore SQL: near \"FORM\"", std::numeric_limits<std::uint64_t>::max()},
  };
  for (const Response& sent : answers) {
    SCOPED_TRACE(sent.id);
    const auto got = platform::protocol::decode_response(platform::protocol::encode_response(sent));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->id, sent.id);
    EXPECT_EQ(got->ok, sent.ok);
    EXPECT_EQ(got->error, sent.error);
    EXPECT_EQ(got->result.kind, sent.result.kind);
    EXPECT_EQ(got->result.text, sent.result.text);
    EXPECT_EQ(got->result.integer, sent.result.integer);
  }

  const platform::protocol::Request sent{
      "sql_dump_file",
      {Argument::of("Praxilo2"), Argument::missing(), Argument::of(""), Argument::of("SELECT 'è'")},
      9};
  const auto got = platform::protocol::decode_request(platform::protocol::encode_request(sent));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->id, 9u);
  EXPECT_EQ(got->method, "sql_dump_file");
  ASSERT_EQ(got->args.size(), sent.args.size());
  for (std::size_t i = 0; i < sent.args.size(); ++i) {
    EXPECT_EQ(got->args[i].omitted, sent.args[i].omitted) << i;
    EXPECT_EQ(got->args[i].text, sent.args[i].text) << i;
  }
}

TEST(Protocol, GarbledAnswersAreRejected) {
  using platform::protocol::decode_response;
  struct Case {
    const char* name;
    std::string bytes;
  };
  for (const Case& c : std::vector<Case>{
           {"nothing", ""},
           {"not MessagePack", "hello"},
           {"not an array", msgpack(R"({"id":1,"ok":true,"result":[]})")},
           {"empty array", msgpack("[]")},
           {"no result", msgpack("[1,true]")},
           {"one item too many", msgpack(R"([1,true,[],"x"])")},
           {"no id", msgpack(R"([true,[],"x"])")},
           {"negative id", msgpack("[-1,true,[]]")},
           {"text id", msgpack(R"(["1",true,[]])")},
           {"ok not a boolean", msgpack(R"([1,"yes",[]])")},
           {"result not in its array", msgpack(R"([1,true,"uno"])")},
           {"two values in the result", msgpack(R"([1,true,["uno","due"]])")},
           {"a map as the value", msgpack(R"([1,true,[{"text":"uno"}]])")},
           {"a fraction as the value", msgpack("[1,true,[1.5]]")},
           {"a failure without its text", msgpack("[1,false,[]]")},
           {"bytes after the message", msgpack("[1,true,[]]") + '\xc0'},
           {"cut short", msgpack(R"([1,true,["uno"]])").substr(0, 6)},
           {"nested in the result", msgpack("[1,true,[]]").substr(0, 3) + nested(2)},
           {"nested far deeper", msgpack("[1,true,[]]").substr(0, 3) + nested(100000)},
       }) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(decode_response(c.bytes));
  }
  const auto ok = decode_response(msgpack(R"([7,true,["Niccolò"]])"));
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->id, 7u);
  EXPECT_EQ(ok->result.text, "Niccolò");
}

TEST(Protocol, GarbledRequestsAreRejected) {
  using platform::protocol::decode_request;
  for (const std::string& bytes : {msgpack(R"(["new",[]])"), msgpack(R"([3,"new"])"), msgpack(R"([3,"new",["a",1]])"),
                                   msgpack(R"([3,"new",[["a"]]])"), msgpack(R"([3,1,[]])"),
                                   msgpack(R"([3,"new",[]])").substr(0, 3) + nested(100000)}) {
    EXPECT_FALSE(decode_request(bytes));
  }
  const auto request = decode_request(msgpack(R"([3,"new",["a",null]])"));
  ASSERT_TRUE(request);
  ASSERT_EQ(request->args.size(), 2u);
  EXPECT_EQ(request->args[0].text, "a");
  EXPECT_TRUE(request->args[1].omitted);
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

std::string frame(const std::string& bytes) { return platform::protocol::encode_frame(bytes); }

std::string text_answer(int id, const std::string& text) {
  return frame(
      platform::protocol::encode_response({true, Variant::make_text(text), "", static_cast<std::uint64_t>(id)}));
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
        FrameFaultCase{"AnswerWithoutId", {frame(msgpack(R"([true,["uno"]])"))}, {"!", "!"}},
        FrameFaultCase{"OversizeFrame", {std::string("\x04\x00\x00\x01", 4) + "{}"}, {"!", "!"}},
        FrameFaultCase{"TooDeepFrame", {frame(msgpack("[1,true,[]]").substr(0, 3) + nested(100000))}, {"!", "!"}}),
    [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32
// A watching reader reads without blocking: frames that are already there, that come
// while it watches, that come only after it has gone to sleep, in pieces on either side of
// its watch, and the end of input while it sleeps.
TEST(FrameReader, WatchingReaderGetsEveryFrameHoweverLateItComes) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  platform::protocol::FrameReader reader(fds[0], platform::protocol::frame_watch_ns);
  using std::chrono::microseconds;
  const std::string late = frame("tardi");
  const struct {
    std::string piece;
    microseconds delay;  ///< before the piece is written
  } pieces[] = {
      {frame("subito"), microseconds(0)},      {frame("presto"), microseconds(20)},
      {frame("dopo"), microseconds(200'000)},  {late.substr(0, 3), microseconds(0)},
      {late.substr(3), microseconds(200'000)},
  };
  std::thread writer([&] {
    for (const auto& p : pieces) {
      std::this_thread::sleep_for(p.delay);
      ASSERT_EQ(::write(fds[1], p.piece.data(), p.piece.size()), static_cast<ssize_t>(p.piece.size()));
    }
    std::this_thread::sleep_for(microseconds(200'000));
    ::close(fds[1]);
  });
  for (const char* expected : {"subito", "presto", "dopo", "tardi"}) {
    const auto payload = reader.next();
    ASSERT_TRUE(payload) << expected;
    EXPECT_EQ(*payload, expected);
  }
  EXPECT_FALSE(reader.next()) << "the end of input while it sleeps";
  writer.join();
  ::close(fds[0]);
}
#endif

// A call past its time limit asks whether to wait once more, with the whole wait so far:
// an answer that comes in the longer wait is taken, even one whose first bytes came before
// the limit and the rest after it, and the next call is in step; declining gives the call
// up, as does the user's stop during the longer wait.
struct LongerWaitCase {
  const char* name;
  bool answers_late;               ///< the server's answer starts at once and ends once asked; else none
  std::vector<bool> keep_waiting;  ///< the answers to the questions in turn; none left: give up
  bool ask;                        ///< the limits hold keep_waiting at all
  bool stop_after_first_question;  ///< the user stops the run once the first question is answered
  const char* outcome;             ///< the answer's text, "timed out" or "stopped"
  std::vector<long> waited;        ///< the seconds each question was asked with
  friend void PrintTo(const LongerWaitCase& c, std::ostream* os) { *os << c.name; }
};

class LongerWait : public testing::TestWithParam<LongerWaitCase> {};

TEST_P(LongerWait, IsTheCallersChoiceEachTimeTheLimitPasses) {
  if (test_support::windows) GTEST_SKIP() << pipe_transport_only;
  const auto& c = GetParam();
  test_support::TempDir dir;
  const auto late = dir.path() / "late", next = dir.path() / "next", go_on = dir.path() / "go_on";
  test_support::write_file(late, text_answer(1, "tardi"));
  test_support::write_file(next, text_answer(2, "dopo"));
  // The answer's first bytes come at once; the rest once the first question is asked.
  const std::string body = c.answers_late
                               ? "read_request\nhead -c 3 '" + late.string() + "'\nwhile [ ! -e '" + go_on.string() +
                                     "' ]; do sleep 0.05; done\ntail -c +4 '" + late.string() +
                                     "'\nread_request\ncat '" + next.string() + "'\nexec cat >/dev/null"
                               : "read_request\nexec sleep 60";
  Installation inst("", script_class("Fake.Slow", dir.path() / "slow.sh", body));
  auto server = platform::create_ole_object("Fake.Slow");
  std::vector<long> waited;
  std::vector<bool> answers = c.keep_waiting;
  std::atomic<bool> stop{false};
  std::thread stopper;
  platform::CallLimits limits{std::chrono::seconds(1), [&stop] { return stop.load(); }, {}};
  if (c.ask) {
    limits.keep_waiting = [&](std::chrono::seconds seconds) {
      waited.push_back(static_cast<long>(seconds.count()));
      if (c.answers_late) test_support::write_file(go_on, "");
      if (c.stop_after_first_question && !stopper.joinable()) {
        stopper = std::thread([&stop] {
          std::this_thread::sleep_for(std::chrono::milliseconds(200));
          stop = true;
        });
      }
      if (answers.empty()) return false;
      const bool again = answers.front();
      answers.erase(answers.begin());
      return again;
    };
  }
  server->limit_calls(limits);
  std::string outcome;
  try {
    outcome = server->call("get_error", {}).text;
  } catch (const platform::CallAbandoned& abandoned) {
    outcome = abandoned.reason() == platform::CallAbandoned::Reason::timed_out ? "timed out" : "stopped";
  }
  if (stopper.joinable()) stopper.join();
  EXPECT_EQ(outcome, c.outcome);
  // The rest of an answer may take more than a limit to come on a busy machine: a question
  // more is no fault then.
  if (outcome == "tardi" && waited.size() > c.waited.size()) waited.resize(c.waited.size());
  EXPECT_EQ(waited, c.waited);
  if (outcome == "tardi")
    EXPECT_EQ(server->call("get_error", {}).text, "dopo") << "the next call is in step";
  else
    EXPECT_THROW(server->call("get_error", {}), AutomationError) << "a call given up ends its server";
}

INSTANTIATE_TEST_SUITE_P(
    CreateOleObject, LongerWait,
    testing::Values(
        LongerWaitCase{"GivenUpAtTheFirstLimit", true, {false}, true, false, "timed out", {1}},
        LongerWaitCase{"WithoutAQuestionGivenUpAtTheLimit", true, {}, false, false, "timed out", {}},
        LongerWaitCase{"AnswerSplitAcrossTheLimitTaken", true, {true, true, true}, true, false, "tardi", {1}},
        LongerWaitCase{"AskedAgainWithTheWholeWait", false, {true, true}, true, false, "timed out", {1, 2, 3}},
        LongerWaitCase{"UserStopsDuringTheLongerWait", false, {true}, true, true, "stopped", {1}}),
    [](const auto& info) { return std::string(info.param.name); });

// A limit given as text: whole seconds from 1 to a day, digits only.
struct LimitTextCase {
  const char* name;
  const char* text;
  long seconds;  ///< 0: refused
};

class LimitText : public testing::TestWithParam<LimitTextCase> {};

TEST_P(LimitText, IsWholeSecondsFromOneToADay) {
  const auto limit = platform::parse_call_time_limit(GetParam().text);
  if (GetParam().seconds == 0)
    EXPECT_FALSE(limit) << limit->count();
  else
    EXPECT_EQ(limit, std::chrono::seconds(GetParam().seconds));
}

INSTANTIATE_TEST_SUITE_P(CallTimeLimit, LimitText,
                         testing::Values(LimitTextCase{"One", "1", 1}, LimitTextCase{"ADay", "86400", 86400},
                                         LimitTextCase{"LeadingZeros", "000000300", 300}, LimitTextCase{"Zero", "0", 0},
                                         LimitTextCase{"OnlyZeros", "000", 0}, LimitTextCase{"PastADay", "86401", 0},
                                         LimitTextCase{"Huge", "99999999999999999999999", 0},
                                         LimitTextCase{"Empty", "", 0}, LimitTextCase{"Negative", "-5", 0},
                                         LimitTextCase{"Plus", "+5", 0}, LimitTextCase{"Blank", " 5", 0},
                                         LimitTextCase{"TrailingText", "5s", 0}, LimitTextCase{"Fraction", "1.5", 0},
                                         LimitTextCase{"Exponent", "1e3", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CreateOleObject, ServerThatStopsReadingFailsTheCallWithoutASignal) {
  if (test_support::windows) GTEST_SKIP() << pipe_transport_only;
  // The request meets a socket with no reader: the write must fail with EPIPE, not end this
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
  Installation inst("", script_class("Fake.Env", dir.path() / "env.sh",
                                     "env > '" + env_file.string() + "'\n" + "exec cat >/dev/null"));
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
  // Answers one call with its process id, then sleeps without reading its input. The
  // answer [1, true, [pid]] is 9 bytes: the pid goes as a 32-bit unsigned number.
  const std::string registry =
      script_class("Fake.Stubborn", dir.path() / "stubborn.sh",
                   "read_request\n"
                   "printf '\\000\\000\\000\\011\\223\\001\\303\\221\\316'\n"
                   "for s in 24 16 8 0; do printf \"\\\\$(printf '%03o' $(( ($$ >> s) & 255 )))\"; done\n"
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

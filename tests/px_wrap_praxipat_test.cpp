// The session wrapper against a scripted in-process server: what each operation sends,
// what it answers, which messages it keeps, what it traces, and how it rebuilds a
// session whose server has gone away.
#include "records/px_wrap_praxipat.hpp"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/host.hpp"
#include "platform/automation.hpp"
#include "px_fixture.hpp"
#include "recording_host.hpp"
#include "test_support.hpp"

namespace {

using platform::Argument;
using platform::AutomationError;
using platform::Variant;
namespace fs = std::filesystem;

/// One call that reached a fake server object.
struct FakeCall {
  int object;
  std::string method;
  std::vector<Argument> args;
};

/// The scripted server: hands out objects numbered from 1, answers each method as
/// scripted (an empty Variant when not scripted), records every call that reaches a
/// live object, and can make objects die, before or during a call.
class FakeServer {
 public:
  struct Answer {
    Variant value;
    bool raises = false;
  };
  static Answer value(Variant v) { return {std::move(v), false}; }
  static Answer raise() { return {{}, true}; }

  std::map<std::string, Answer> answers;
  /// Runs when a call reaches a live object, before it is answered; may kill it.
  std::function<void(int object, const std::string& method)> on_call;
  /// Number of objects that may still be made; negative: no limit.
  int creations_left = -1;
  int objects_made = 0;
  std::set<int> released;
  std::set<int> dead;
  std::vector<FakeCall> calls;

  Tpx_wrap_praxipat::ObjectFactory factory();

  /// The method names called, in order (all objects).
  std::vector<std::string> methods() const {
    std::vector<std::string> names;
    for (const auto& c : calls) names.push_back(c.method);
    return names;
  }
  /// How many calls of method reached any object.
  int count(const std::string& method) const {
    int n = 0;
    for (const auto& c : calls) n += c.method == method;
    return n;
  }
  const FakeCall* last_call(const std::string& method) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
      if (it->method == method) return &*it;
    return nullptr;
  }
};

class FakeObject : public platform::AutomationObject {
 public:
  FakeObject(FakeServer& server, int id) : server_(server), id_(id) {}
  ~FakeObject() override { server_.released.insert(id_); }

  Variant call(const std::string& method, const std::vector<Argument>& args) override {
    if (server_.dead.count(id_)) throw AutomationError("Il server RPC non è disponibile.");
    server_.calls.push_back({id_, method, args});
    if (server_.on_call) server_.on_call(id_, method);
    if (server_.dead.count(id_)) throw AutomationError("Il server RPC non è disponibile.");
    auto it = server_.answers.find(method);
    if (it == server_.answers.end()) return Variant::make_empty();
    if (it->second.raises) throw AutomationError("errore del server in " + method);
    return it->second.value;
  }

 private:
  FakeServer& server_;
  int id_;
};

Tpx_wrap_praxipat::ObjectFactory FakeServer::factory() {
  return [this](const std::string& progid) -> std::unique_ptr<platform::AutomationObject> {
    if (progid != "Praxilo.Server") throw AutomationError("Classe non registrata");
    if (creations_left == 0) throw AutomationError("Esecuzione del server non riuscita");
    if (creations_left > 0) --creations_left;
    return std::make_unique<FakeObject>(*this, ++objects_made);
  };
}

/// An installation with the logging library and the log switch on, so that the trace
/// can be read back from Temp/Log/praxipat.log.
class WrapperTest : public ::testing::Test {
 protected:
  WrapperTest() {
    registry_.write(test_support::app_paths_section(test_support::reg_string(dir_.dir() + ";")) +
                    test_support::switches_section("", "", "\"yes\""));
    test_support::install_logging_library(dir_.path());
  }

  std::unique_ptr<Tpx_wrap_praxipat> make_wrapper() { return std::make_unique<Tpx_wrap_praxipat>(server.factory()); }

  /// A wrapper made, initialised and signed in as "demo"; the script's calls so far
  /// are forgotten.
  std::unique_ptr<Tpx_wrap_praxipat> signed_in_wrapper() {
    auto w = make_wrapper();
    EXPECT_TRUE(w->init("ImportAnagrafiche", ""));
    EXPECT_TRUE(w->connetti("demo", "segreta"));
    server.calls.clear();
    trace_mark_ = trace().size();
    return w;
  }

  /// The trace lines written so far (the library's time stamp and tag cut off).
  std::vector<std::string> trace() const { return test_support::praxipat_trace(dir_.path()); }
  /// The trace lines written since signed_in_wrapper returned.
  std::vector<std::string> new_trace() const { return test_support::praxipat_trace(dir_.path(), trace_mark_); }

  test_support::TempDir dir_;
  test_support::RegistryFile registry_;
  FakeServer server;
  std::size_t trace_mark_ = 0;
};

std::vector<std::string> texts(const std::vector<Argument>& args) {
  std::vector<std::string> out;
  for (const auto& a : args) out.push_back(a.omitted ? "<omitted>" : a.text);
  return out;
}

using Lines = std::vector<std::string>;

TEST_F(WrapperTest, CreateStartsTheLogAndLeavesNoMessage) {
  auto w = make_wrapper();
  EXPECT_EQ(w->last_message(), "");
  EXPECT_TRUE(fs::is_directory(dir_.path() / "Temp" / "Log"));
  EXPECT_EQ(server.objects_made, 0);
  EXPECT_FALSE(w->connected());
  EXPECT_FALSE(w->failed_with(SessionFailure::Kind::session_lost));
}

TEST_F(WrapperTest, SignInSendsItsCallsAndTracesThemWithoutThePassword) {
  auto w = make_wrapper();
  ASSERT_TRUE(w->init("ImportAnagrafiche", ""));
  ASSERT_TRUE(w->connetti("Niccolò", "segreta"));
  EXPECT_TRUE(w->connected());
  EXPECT_EQ(w->last_message(), "");

  ASSERT_EQ(server.methods(), (Lines{"new", "connetti", "get_error", "new_object"}));
  EXPECT_EQ(texts(server.calls[0].args), Lines{});
  EXPECT_EQ(texts(server.calls[1].args), (Lines{"Niccolò", "segreta"}));
  EXPECT_EQ(texts(server.calls[2].args), (Lines{"<omitted>"}));
  EXPECT_EQ(texts(server.calls[3].args), (Lines{"i_professionista", ""}));

  EXPECT_EQ(trace(), (Lines{"ole_praxipat := CreateOleObject('Praxilo.Server');", "ole_praxipat.new();",
                            "ole_praxipat.connetti(Niccolò, ****) = ;", "ole_praxipat.get_error();",
                            "ole_praxipat.new_object(i_professionista, ) = ;"}));
  EXPECT_EQ(test_support::read_file(dir_.path() / "Temp" / "Log" / "praxipat.log").find("segreta"), std::string::npos);
}

struct SignInCase {
  const char* name;
  FakeServer::Answer answer;
  bool accepted;
  const char* message;     // last_message after the call
  const char* trace_line;  // the connetti line, or "" when none is written
};

class SignInAnswers : public WrapperTest, public ::testing::WithParamInterface<SignInCase> {};

TEST_P(SignInAnswers, DecideTheSession) {
  const SignInCase& c = GetParam();
  server.answers["connetti"] = c.answer;
  auto w = make_wrapper();
  ASSERT_TRUE(w->init("ImportAnagrafiche", ""));
  EXPECT_EQ(w->connetti("demo", "pw"), c.accepted);
  EXPECT_EQ(w->connected(), c.accepted);
  EXPECT_EQ(w->last_message(), c.message);
  EXPECT_EQ(server.count("new_object"), c.accepted ? 1 : 0);
  const Lines lines = trace();
  ASSERT_GE(lines.size(), 2u);
  if (*c.trace_line)
    EXPECT_EQ(lines.at(2), c.trace_line);
  else
    EXPECT_EQ(lines.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignInAnswers,
    ::testing::Values(SignInCase{"Empty", FakeServer::value(Variant::make_empty()), true, "",
                                 "ole_praxipat.connetti(demo, ****) = ;"},
                      SignInCase{"EmptyText", FakeServer::value(Variant::make_text("")), true, "",
                                 "ole_praxipat.connetti(demo, ****) = ;"},
                      SignInCase{"OnlyBlanks", FakeServer::value(Variant::make_text("   ")), true, "",
                                 "ole_praxipat.connetti(demo, ****) =    ;"},
                      SignInCase{"BlanksAndTab", FakeServer::value(Variant::make_text(" \t ")), true, "",
                                 "ole_praxipat.connetti(demo, ****) =  \t ;"},
                      SignInCase{"Refusal", FakeServer::value(Variant::make_text("Password errata")), false,
                                 "Error  -  Tpx_wrap_praxipat.connetti(): errore in connessione",
                                 "ole_praxipat.connetti(demo, ****) = Password errata;"},
                      SignInCase{"IntegerAnswer", FakeServer::value(Variant::make_integer(0)), false,
                                 "Error  -  Tpx_wrap_praxipat.connetti(): errore in connessione",
                                 "ole_praxipat.connetti(demo, ****) = 0;"},
                      SignInCase{"Null", FakeServer::value(Variant::make_null()), false,
                                 "Error  -  Tpx_wrap_praxipat.connetti(): eccezione", ""},
                      SignInCase{"Raises", FakeServer::raise(), false,
                                 "Error  -  Tpx_wrap_praxipat.connetti(): eccezione", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WrapperTest, FailedSignInCallKeepsTheEarlierSessionState) {
  auto w = signed_in_wrapper();
  server.answers["connetti"] = FakeServer::raise();
  EXPECT_FALSE(w->connetti("altro", "pw2"));
  EXPECT_TRUE(w->connected());
  server.answers["connetti"] = FakeServer::value(Variant::make_text("Utente sconosciuto"));
  EXPECT_FALSE(w->connetti("altro", "pw2"));
  EXPECT_FALSE(w->connected());
}

TEST_F(WrapperTest, ConnettiBeforeInitFailsWithoutCallingTheServer) {
  auto w = make_wrapper();
  EXPECT_FALSE(w->connetti("demo", "pw"));
  EXPECT_FALSE(w->connected());
  EXPECT_EQ(w->last_message(), "Error  -  Tpx_wrap_praxipat.connetti(): eccezione");
  EXPECT_TRUE(server.calls.empty());
  EXPECT_TRUE(trace().empty());
}

TEST_F(WrapperTest, InitFailures) {
  struct Case {
    const char* name;
    int creations;
    bool new_raises;
  };
  for (const Case& c : {Case{"ClassCannotBeMade", 0, false}, Case{"NewRaises", -1, true}}) {
    SCOPED_TRACE(c.name);
    server.creations_left = c.creations;
    server.answers.clear();
    if (c.new_raises) server.answers["new"] = FakeServer::raise();
    auto w = make_wrapper();
    EXPECT_FALSE(w->init("ImportAnagrafiche", ""));
    EXPECT_EQ(w->last_message(), "Error  -  Tpx_wrap_praxipat.init(): eccezione");
  }
  // A "new" that answers Null is not looked at.
  server.creations_left = -1;
  server.answers.clear();
  server.answers["new"] = FakeServer::value(Variant::make_null());
  auto w = make_wrapper();
  EXPECT_TRUE(w->init("ImportAnagrafiche", ""));
}

TEST_F(WrapperTest, InitReplacesAndReleasesTheObjectHeld) {
  auto w = make_wrapper();
  ASSERT_TRUE(w->init("a", ""));
  ASSERT_TRUE(w->init("b", ""));
  EXPECT_EQ(server.objects_made, 2);
  EXPECT_EQ(server.released, (std::set<int>{1}));
}

/// One of the six text operations, with what it sends and the start of its trace line.
struct TextOperation {
  const char* name;
  std::function<std::string(Tpx_wrap_praxipat&)> run;
  Lines args;
};

const TextOperation text_operations[] = {
    {"leggi_attributo", [](Tpx_wrap_praxipat& w) { return w.leggi_attributo("userid_utente"); }, {"userid_utente"}},
    {"utente_leggi_attributo",
     [](Tpx_wrap_praxipat& w) { return w.utente_leggi_attributo("tipo_praxi"); },
     {"tipo_praxi"}},
    {"get_opzione",
     [](Tpx_wrap_praxipat& w) { return w.get_opzione("macchina", "OPZIONI\\regione"); },
     {"macchina", "OPZIONI\\regione"}},
    {"new_object", [](Tpx_wrap_praxipat& w) { return w.new_object("i_professionista", ""); }, {"i_professionista", ""}},
    {"sql_into",
     [](Tpx_wrap_praxipat& w) { return w.sql_into("Praxilo", "select count(*) from PAZIENTI"); },
     {"Praxilo", "select count(*) from PAZIENTI"}},
    {"sql_dump_file",
     [](Tpx_wrap_praxipat& w) { return w.sql_dump_file("Praxilo2", "select codice, ac_val from cart_accert"); },
     {"Praxilo2", "select codice, ac_val from cart_accert"}},
};

std::string trace_line(const TextOperation& op, const std::string& answer) {
  std::string line = std::string("ole_praxipat.") + op.name + "(";
  for (std::size_t i = 0; i < op.args.size(); ++i) line += (i ? ", " : "") + op.args[i];
  return line + ") = " + answer + ";";
}

class TextOperations : public WrapperTest, public ::testing::WithParamInterface<TextOperation> {};

TEST_P(TextOperations, AnswerAsText) {
  const TextOperation& op = GetParam();
  struct Case {
    const char* name;
    FakeServer::Answer answer;
    std::string result;
  };
  const Case cases[] = {
      {"Text", FakeServer::value(Variant::make_text("Sant'Anna Mirò")), "Sant'Anna Mirò"},
      {"Blanks", FakeServer::value(Variant::make_text("   ")), "   "},
      {"Empty", FakeServer::value(Variant::make_empty()), ""},
      {"Integer", FakeServer::value(Variant::make_integer(-1234)), "-1234"},
  };
  auto w = signed_in_wrapper();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.answers[op.name] = c.answer;
    server.calls.clear();
    const auto before = trace().size();
    EXPECT_EQ(op.run(*w), c.result);
    ASSERT_EQ(server.methods(), (Lines{"get_error", op.name}));
    EXPECT_EQ(texts(server.calls[1].args), op.args);
    const Lines lines = trace();
    EXPECT_EQ(Lines(lines.begin() + static_cast<long>(before), lines.end()),
              (Lines{"ole_praxipat.get_error();", trace_line(op, c.result)}));
    EXPECT_EQ(w->last_message(), "");
  }
}

TEST_P(TextOperations, FailuresOfALiveServerAnswerEmpty) {
  const TextOperation& op = GetParam();
  const std::string message = std::string("Error  -  Tpx_wrap_praxipat.") + op.name + "(): eccezione";
  struct Case {
    const char* name;
    FakeServer::Answer answer;
  };
  for (const Case& c : {Case{"Null", FakeServer::value(Variant::make_null())}, Case{"Raises", FakeServer::raise()}}) {
    SCOPED_TRACE(c.name);
    server = FakeServer{};
    auto w = signed_in_wrapper();
    server.answers[op.name] = c.answer;
    EXPECT_EQ(op.run(*w), "");
    EXPECT_EQ(w->last_message(), message);
    // The failed call leaves no trace line; the probe after it finds the server alive,
    // so the call is not repeated and no new session is made.
    EXPECT_EQ(server.count(op.name), 1);
    EXPECT_EQ(server.objects_made, 1);
    EXPECT_EQ(new_trace(), (Lines{"ole_praxipat.get_error();", "ole_praxipat.get_error();"}));
    EXPECT_FALSE(w->failed_with(SessionFailure::Kind::session_lost));
    EXPECT_TRUE(w->connected());
  }
}

INSTANTIATE_TEST_SUITE_P(All, TextOperations, ::testing::ValuesIn(text_operations),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WrapperTest, TextOperationBeforeSignIn) {
  struct Case {
    const char* name;
    bool init_first;
    Lines calls;
    const char* message;
  };
  const Case cases[] = {
      // Nothing to probe and no credentials to rebuild from: no call at all.
      {"NoObject", false, {}, "Error  -  Tpx_wrap_praxipat._start(): errore (1)"},
      // A held object that answers the probe counts as on, signed in or not.
      {"AfterInit", true, {"new", "get_error", "sql_into"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.calls.clear();
    auto w = make_wrapper();
    if (c.init_first) {
      ASSERT_TRUE(w->init("ImportAnagrafiche", ""));
    }
    EXPECT_EQ(w->sql_into("Praxilo", "select 1"), "");
    EXPECT_EQ(w->last_message(), c.message);
    EXPECT_EQ(server.methods(), c.calls);
    EXPECT_FALSE(w->connected());
  }
}

TEST_F(WrapperTest, RestartAfterTheServerWentAwayBetweenCalls) {
  server.answers["sql_into"] = FakeServer::value(Variant::make_text("17"));
  auto w = signed_in_wrapper();
  server.dead.insert(1);

  EXPECT_EQ(w->sql_into("Praxilo", "select 17"), "17");
  EXPECT_EQ(server.objects_made, 2);
  EXPECT_TRUE(server.released.count(1));
  EXPECT_EQ(server.methods(), (Lines{"new", "connetti", "get_error", "new_object", "sql_into"}));
  EXPECT_EQ(texts(server.last_call("connetti")->args), (Lines{"demo", "segreta"}));
  EXPECT_EQ(server.calls.back().object, 2);
  EXPECT_EQ(new_trace(), (Lines{"ole_praxipat := CreateOleObject('Praxilo.Server');", "ole_praxipat.new();",
                                "ole_praxipat.connetti(demo, ****) = ;", "ole_praxipat.get_error();",
                                "ole_praxipat.new_object(i_professionista, ) = ;",
                                "ole_praxipat.sql_into(Praxilo, select 17) = 17;"}));
  EXPECT_TRUE(w->connected());
  EXPECT_FALSE(w->failed_with(SessionFailure::Kind::session_lost));
}

TEST_F(WrapperTest, FailedRestartLosesTheSession) {
  struct Case {
    const char* name;
    std::function<void(FakeServer&)> break_server;
  };
  const Case cases[] = {
      {"ObjectCannotBeMade", [](FakeServer& s) { s.creations_left = 0; }},
      {"SignInRefused",
       [](FakeServer& s) { s.answers["connetti"] = FakeServer::value(Variant::make_text("Password scaduta")); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server = FakeServer{};
    auto w = signed_in_wrapper();
    server.dead.insert(1);
    c.break_server(server);
    EXPECT_EQ(w->sql_into("Praxilo", "select 1"), "");
    EXPECT_EQ(w->last_message(), "Error  -  Tpx_wrap_praxipat._start(): errore (2)");
    EXPECT_FALSE(w->connected());
    EXPECT_TRUE(w->failed_with(SessionFailure::Kind::session_lost));
    EXPECT_EQ(server.count("sql_into"), 0);
    w->clear_failure();
    EXPECT_FALSE(w->failed_with(SessionFailure::Kind::session_lost));
  }
}

// One failure is kept at a time: a refused call, then a server lost for good, keep the
// refused call's reason; an init that works clears only a start failure, never a failed
// call that a run still has to see.
TEST_F(WrapperTest, TheKeptFailureMovesOnlyTowardsTheGraverKind) {
  using Kind = SessionFailure::Kind;
  auto w = signed_in_wrapper();
  EXPECT_EQ(w->failure(), std::nullopt);
  server.answers["sql_into"] = FakeServer::raise();
  EXPECT_EQ(w->sql_into("Praxilo", "select 1"), "");
  EXPECT_EQ(w->failure(), (SessionFailure{Kind::call_failed, "errore del server in sql_into"}));

  server.dead.insert(1);
  server.creations_left = 0;
  EXPECT_EQ(w->sql_into("Praxilo", "select 1"), "");
  EXPECT_EQ(w->failure(), (SessionFailure{Kind::session_lost, "errore del server in sql_into"}));

  server.creations_left = -1;
  EXPECT_TRUE(w->init("ImportAnagrafiche", ""));
  EXPECT_TRUE(w->failed_with(Kind::session_lost)) << "a working init hides no lost session";
  w->clear_failure();
  EXPECT_EQ(w->failure(), std::nullopt);

  server.creations_left = 0;
  EXPECT_FALSE(w->init("ImportAnagrafiche", ""));
  EXPECT_EQ(w->failure(), (SessionFailure{Kind::start_failed, "Esecuzione del server non riuscita"}));
  server.creations_left = -1;
  EXPECT_TRUE(w->init("ImportAnagrafiche", ""));
  EXPECT_EQ(w->failure(), std::nullopt);
}

TEST_F(WrapperTest, RestartIsBoundedWhenTheProbeNeverAnswers) {
  // A server that signs in but fails every probe: each operation rebuilds the session
  // once and then goes on with the call.
  server.answers["get_error"] = FakeServer::raise();
  server.answers["sql_into"] = FakeServer::value(Variant::make_text("5"));
  auto w = make_wrapper();
  ASSERT_TRUE(w->init("ImportAnagrafiche", ""));
  EXPECT_TRUE(w->connetti("demo", "pw"));
  EXPECT_EQ(server.objects_made, 2);

  server.objects_made = 0;
  EXPECT_EQ(w->sql_into("Praxilo", "select 5"), "5");
  EXPECT_EQ(server.objects_made, 1);
  EXPECT_EQ(server.count("sql_into"), 1);
  EXPECT_FALSE(w->failed_with(SessionFailure::Kind::session_lost));

  // A failing call cannot be told apart from a dead server here; the one rebuild was
  // already spent on the probe, so the operation gives up.
  server.objects_made = 0;
  server.answers["sql_into"] = FakeServer::raise();
  EXPECT_EQ(w->sql_into("Praxilo", "select 5"), "");
  EXPECT_EQ(server.objects_made, 1);
  EXPECT_TRUE(w->failed_with(SessionFailure::Kind::session_lost));
}

TEST_F(WrapperTest, ServerLostDuringTheCall) {
  struct Case {
    const char* name;
    bool retry_dies_too;
    int creations_after_death;  // -1: no limit
    std::string result;
    bool lost;
    const char* message;
  };
  const Case cases[] = {
      {"RetryAnswers", false, -1, "42", false, ""},
      {"RetryDiesToo", true, -1, "", true, "Error  -  Tpx_wrap_praxipat.sql_dump_file(): eccezione"},
      {"RebuildFails", false, 0, "", true, "Error  -  Tpx_wrap_praxipat._start(): errore (2)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server = FakeServer{};
    server.answers["sql_dump_file"] = FakeServer::value(Variant::make_text("42"));
    auto w = signed_in_wrapper();
    bool retry_dies_too = c.retry_dies_too;
    server.on_call = [this, retry_dies_too](int object, const std::string& method) {
      if (method == "sql_dump_file" && (object == 1 || retry_dies_too)) server.dead.insert(object);
    };
    server.creations_left = c.creations_after_death;

    EXPECT_EQ(w->sql_dump_file("Praxilo2", "select 42"), c.result);
    EXPECT_EQ(w->failed_with(SessionFailure::Kind::session_lost), c.lost);
    EXPECT_EQ(w->last_message(), c.message);
    EXPECT_LE(server.objects_made, 2);  // one rebuild at most
    EXPECT_EQ(server.count("sql_dump_file"), c.creations_after_death == 0 ? 1 : 2);
  }
}

TEST_F(WrapperTest, DisconnettiOnlyWhenConnected) {
  auto w = signed_in_wrapper();
  EXPECT_TRUE(w->disconnetti());
  EXPECT_FALSE(w->connected());
  EXPECT_TRUE(w->disconnetti());
  EXPECT_EQ(server.methods(), (Lines{"disconnetti"}));
  EXPECT_EQ(texts(server.calls[0].args), (Lines{"<omitted>"}));
  EXPECT_EQ(new_trace(), (Lines{"ole_praxipat.disconnetti();"}));

  // A failing disconnetti is ignored and leaves the session marked as connected.
  ASSERT_TRUE(w->connetti("demo", "segreta"));
  server.answers["disconnetti"] = FakeServer::raise();
  EXPECT_TRUE(w->disconnetti());
  EXPECT_TRUE(w->connected());
  EXPECT_EQ(w->last_message(), "");
}

TEST_F(WrapperTest, IsOnAsksTheHeldObjectEvenWithoutSignIn) {
  auto w = make_wrapper();
  EXPECT_FALSE(w->is_on());
  EXPECT_TRUE(server.calls.empty());
  ASSERT_TRUE(w->init("x", ""));
  EXPECT_TRUE(w->is_on());
  server.answers["get_error"] = FakeServer::raise();
  EXPECT_FALSE(w->is_on());
}

TEST_F(WrapperTest, DestructorSendsWhatTheSessionNeeds) {
  struct Case {
    const char* name;
    std::function<void(Tpx_wrap_praxipat&)> prepare;
    Lines calls;
    Lines trace_tail;
  };
  const Case cases[] = {
      {"NeverMadeAnObject", [](Tpx_wrap_praxipat&) {}, {}, {}},
      {"NeverSignedIn",
       [](Tpx_wrap_praxipat& w) { w.init("x", ""); },
       {"Destroy", "Free"},
       {"ole_praxipat.Destroy();", "ole_praxipat.Free();", "ole_praxipat := Unassigned;"}},
      {"SignInRefused",
       [this](Tpx_wrap_praxipat& w) {
         server.answers["connetti"] = FakeServer::value(Variant::make_text("no"));
         w.init("x", "");
         w.connetti("demo", "pw");
       },
       {"Destroy", "Free"},
       {"ole_praxipat.Destroy();", "ole_praxipat.Free();", "ole_praxipat := Unassigned;"}},
      {"SignedIn",
       [](Tpx_wrap_praxipat& w) {
         w.init("x", "");
         w.connetti("demo", "pw");
       },
       {"disconnetti", "Destroy", "Free"},
       {"ole_praxipat.disconnetti();", "ole_praxipat.Destroy();", "ole_praxipat.Free();",
        "ole_praxipat := Unassigned;"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server = FakeServer{};
    fs::remove(dir_.path() / "Temp" / "Log" / "praxipat.log");
    {
      auto w = make_wrapper();
      c.prepare(*w);
      server.calls.clear();
      const auto before = trace().size();
      w.reset();
      EXPECT_EQ(server.methods(), c.calls);
      const Lines lines = trace();
      EXPECT_EQ(Lines(lines.begin() + static_cast<long>(before), lines.end()), c.trace_tail);
    }
    EXPECT_EQ(server.released.size(), static_cast<std::size_t>(server.objects_made));
  }
}

TEST_F(WrapperTest, DestructorStopsAtAFailureAndStillReleases) {
  server.answers["Destroy"] = FakeServer::raise();
  auto w = make_wrapper();
  ASSERT_TRUE(w->init("x", ""));
  server.calls.clear();
  w.reset();
  EXPECT_EQ(server.methods(), (Lines{"Destroy"}));
  EXPECT_EQ(server.released, (std::set<int>{1}));
}

TEST_F(WrapperTest, ForegroundWindowIsRestoredAroundServerOperations) {
  test_support::RecordingHost host;
  host.foreground = 42;
  struct Case {
    const char* name;
    std::function<void(Tpx_wrap_praxipat&)> run;
  };
  const Case cases[] = {
      {"init", [](Tpx_wrap_praxipat& w) { w.init("x", ""); }},
      {"connetti", [](Tpx_wrap_praxipat& w) { w.connetti("demo", "segreta"); }},
      {"sql_into", [](Tpx_wrap_praxipat& w) { w.sql_into("Praxilo", "select 1"); }},
      {"failing get_opzione",
       [this](Tpx_wrap_praxipat& w) {
         server.answers["get_opzione"] = FakeServer::raise();
         w.get_opzione("macchina", "OPZIONI\\regione");
       }},
      {"disconnetti", [](Tpx_wrap_praxipat& w) { w.disconnetti(); }},
  };
  // The server takes the foreground at every call it answers.
  server.on_call = [&host](int, const std::string&) { host.foreground = 99; };
  auto w = std::make_unique<Tpx_wrap_praxipat>(server.factory(), host);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host.foreground = 42;
    host.restored.clear();
    c.run(*w);
    EXPECT_EQ(host.foreground, 42u);
    ASSERT_FALSE(host.restored.empty());
    EXPECT_EQ(host.restored.back(), 42u);
  }
}

TEST_F(WrapperTest, ReportMessagePrefixesTheLevel) {
  auto w = make_wrapper();
  struct Case {
    int level;
    const char* expected;
  };
  for (const Case& c : {Case{1, "Info  -  testo"}, Case{2, "Warning  -  testo"}, Case{3, "Error  -  testo"},
                        Case{7, "Error  -  testo"}}) {
    w->report_message("testo", c.level);
    EXPECT_EQ(w->last_message(), c.expected);
  }
}

}  // namespace

// The doctor's sign-in: the calls made on the session, the refusals and their order, the
// identity record filled, and the attempt with its busy cursor.
#include "app/login.hpp"

#include <algorithm>
#include <optional>

#include <gtest/gtest.h>

#include "fake_praxilo.hpp"
#include "px_fixture.hpp"

namespace {

using test_support::FakePraxilo;
using test_support::RecordingHost;
using Texts = std::vector<std::string>;

const std::string wrong_credentials = "ERRORE: Dati Utente o Password non riconosciuti.";
const std::string not_titolare = "ERRORE: Procedura riservata ai soli medici titolari.";
const std::string no_regional_code =
    "ERRORE: Il campo obbligatorio \"Codice Regionale\" medico non è stato valorizzato in Praxilo.";

/// A practice whose server knows the doctor "Mario Rossi".
class LoginTest : public ::testing::Test {
 protected:
  LoginTest() {
    fake.attributes = {{"userid_utente", "MED1"},       {"tipo_praxi", "T"}, {"codice_regionale", " 1234 "},
                       {"codice_fiscale", "RSSMRA"},    {"nome", "Mario"},   {"cognome", "Rossi"},
                       {"asl_di_convenzione", "ASL 12"}};
  }

  FakePraxilo fake;
  RecordingHost host;
  Tpx_wrap_praxipat session{fake.factory()};
};

TEST_F(LoginTest, AdmittedDoctorFillsTheRecordInOrderAndSeesNoMessage) {
  TUser user;
  EXPECT_TRUE(proceed("demo ", " pw", user, session, host));
  EXPECT_TRUE(host.boxes.empty());

  // The credentials go as typed; the attributes are read in the record's filling order.
  std::vector<std::string> calls;
  for (const auto& c : fake.calls) {
    if (c.method == "get_error") continue;  // the session's own liveness probe
    std::string line = c.method;
    for (const auto& a : c.args) line += " " + a;
    calls.push_back(line);
  }
  EXPECT_EQ(calls, (Texts{"new", "connetti demo   pw", "new_object i_professionista ", "leggi_attributo userid_utente",
                          "utente_leggi_attributo tipo_praxi", "utente_leggi_attributo codice_regionale",
                          "utente_leggi_attributo codice_fiscale", "utente_leggi_attributo nome",
                          "utente_leggi_attributo cognome", "utente_leggi_attributo asl_di_convenzione"}));

  EXPECT_EQ(user.get_userid_utente(), "MED1");
  EXPECT_EQ(user.get_tipo_praxi(), "T");
  EXPECT_EQ(user.get_codice_regionale(), " 1234 ");  // trimmed for the check only
  EXPECT_EQ(user.get_codice_fiscale(), "RSSMRA");
  EXPECT_EQ(user.get_nome(), "Mario");
  EXPECT_EQ(user.get_cognome(), "Rossi");
  EXPECT_EQ(user.get_asl_di_convenzione(), "ASL 12");
}

struct RefusalCase {
  const char* name;
  std::string connetti_answer;
  std::string tipo_praxi;
  std::string codice_regionale;
  Texts messages;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class LoginRefusal : public LoginTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(LoginRefusal, ShowsTheMessagesInOrderAndRefuses) {
  const RefusalCase& c = GetParam();
  fake.connetti_answer = c.connetti_answer;
  fake.attributes["tipo_praxi"] = c.tipo_praxi;
  fake.attributes["codice_regionale"] = c.codice_regionale;
  TUser user;
  EXPECT_FALSE(proceed("demo", "demo", user, session, host));
  EXPECT_EQ(host.texts(), c.messages);
  EXPECT_EQ(session.failure(), std::nullopt) << "a refusal, not a failure (exit 2)";
  for (const auto& box : host.boxes) {
    EXPECT_EQ(box.caption, "PIV ZONA12");
    EXPECT_EQ(box.flags, frontend::mb_ok | frontend::mb_iconerror);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoginRefusal,
    ::testing::Values(RefusalCase{"WrongCredentials", "Utente o password errati", "T", "1234", {wrong_credentials}},
                      RefusalCase{"LowerCaseKind", "", "t", "1234", {not_titolare}},
                      RefusalCase{"KindWithBlank", "", "T ", "1234", {not_titolare}},
                      RefusalCase{"EmptyKind", "", "", "1234", {not_titolare}},
                      RefusalCase{"BlankRegionalCode", "", "T", "   ", {no_regional_code}},
                      RefusalCase{"ControlCharsRegionalCode", "", "T", "\t\r\n", {no_regional_code}},
                      RefusalCase{"NeitherTitolareNorCode", "", "S", "", {not_titolare, no_regional_code}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoginTest, WrongCredentialsReadNoAttribute) {
  fake.connetti_answer = "rifiutato";
  TUser user;
  EXPECT_FALSE(proceed("demo", "x", user, session, host));
  for (const auto& c : fake.calls) EXPECT_NE(c.method, "leggi_attributo");
  EXPECT_EQ(user.get_userid_utente(), "");
}

TEST_F(LoginTest, AServerThatCannotBeCreatedIsNoRefusedSignIn) {
  const struct {
    const char* name;
    std::function<std::unique_ptr<platform::AutomationObject>(const std::string&)> factory;
    std::set<std::string> raising;
    const char* message;
  } cases[] = {
      {"class not registered",
       [](const std::string&) -> std::unique_ptr<platform::AutomationObject> {
         throw platform::AutomationError("Classe non registrata");
       },
       {},
       "Impossibile avviare Praxilo: Classe non registrata"},
      {"new fails", fake.factory(), {"new"}, "Impossibile avviare Praxilo: errore scriptato in new"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake.calls.clear();
    fake.raising = c.raising;
    RecordingHost boxes;
    Tpx_wrap_praxipat unstartable(c.factory);
    TUser user;
    EXPECT_FALSE(proceed("demo", "demo", user, unstartable, boxes));
    EXPECT_EQ(boxes.texts(), Texts{c.message});
    EXPECT_TRUE(unstartable.failed_with(SessionFailure::Kind::start_failed));
    EXPECT_NE(unstartable.failure().value_or(SessionFailure{}).reason, "");
    for (const auto& call : fake.calls) EXPECT_NE(call.method, "connetti");
  }
}

/// How a call of the sign-in fails: no answer within the time limit, a server that ends
/// there and cannot be started again, or a server that refuses that call.
enum class Fault { timeout, server_gone, failed_call };

struct SignInFaultCase {
  std::string name;
  std::string method;    ///< the call that fails
  std::string argument;  ///< its first argument, "" for any
  Fault fault;
  std::string message;  ///< the only box shown
};

void PrintTo(const SignInFaultCase& c, std::ostream* os) { *os << c.name; }

class SignInFault : public LoginTest, public ::testing::WithParamInterface<SignInFaultCase> {};

TEST_P(SignInFault, SaysPraxiloFailedNotThatTheDoctorIsRefused) {
  const SignInFaultCase& c = GetParam();
  // From the faulty call on, a gone or abandoned server answers nothing more, and no new
  // one can be started (a real object abandoned at its limit fails every later call).
  bool broken = false;
  fake.fault = [&](const test_support::RecordedCall& call) -> std::optional<platform::Variant> {
    if (broken) throw platform::AutomationError("server terminato");
    if (call.method != c.method || (!c.argument.empty() && call.args.at(0) != c.argument)) return std::nullopt;
    switch (c.fault) {
      case Fault::timeout:
        broken = true;
        throw platform::CallAbandoned(platform::CallAbandoned::Reason::timed_out);
      case Fault::server_gone:
        broken = true;
        throw platform::AutomationError("server terminato");
      case Fault::failed_call:
        break;
    }
    throw platform::AutomationError("errore scriptato in " + call.method);
  };
  int objects = 0;
  Tpx_wrap_praxipat faulty([&](const std::string& progid) {
    if (broken) throw platform::AutomationError("Praxilo non avviabile");
    ++objects;
    return fake.factory()(progid);
  });
  TUser user;
  EXPECT_FALSE(proceed("demo", "demo", user, faulty, host));
  EXPECT_EQ(host.texts(), Texts{c.message});
  // What the command line's exit status 4 rests on.
  EXPECT_TRUE(faulty.failure().has_value());
  // The sign-in stopped at the faulty call: no attribute after it was asked for, and a
  // server past its time limit was not started again.
  const auto failing = std::find_if(fake.calls.begin(), fake.calls.end(), [&](const auto& call) {
    return call.method == c.method && (c.argument.empty() || call.args.at(0) == c.argument);
  });
  ASSERT_NE(failing, fake.calls.end());
  for (auto later = failing + 1; later != fake.calls.end(); ++later) {
    EXPECT_TRUE(later->method != "leggi_attributo" && later->method != "utente_leggi_attributo")
        << later->method << " " << later->args.at(0);
  }
  if (c.fault == Fault::timeout) {
    EXPECT_EQ(objects, 1);
  }

  // The next attempt, on a server that answers again, signs the doctor in.
  broken = false;
  fake.fault = nullptr;
  RecordingHost next;
  EXPECT_TRUE(proceed("demo", "demo", user, faulty, next));
  EXPECT_TRUE(next.boxes.empty());
  EXPECT_EQ(faulty.failure(), std::nullopt);
  EXPECT_EQ(user.get_asl_di_convenzione(), "ASL 12");
}

/// The sign-in's calls, each failing in the three ways.
std::vector<SignInFaultCase> sign_in_fault_cases() {
  const std::string not_answering = "Praxilo non risponde.";
  const std::string cannot_start = "Impossibile avviare Praxilo: ";
  const std::string lost = cannot_start + "connessione con Praxilo interrotta";
  const struct {
    const char* name;
    const char* method;
    const char* argument;
    std::string gone;  ///< the message when the server is gone there
  } calls[] = {
      {"Init", "new", "", cannot_start + "server terminato"},
      {"Connetti", "connetti", "", cannot_start + "server terminato"},
      {"NewObject", "new_object", "", lost},
      {"UseridUtente", "leggi_attributo", "userid_utente", lost},
      {"TipoPraxi", "utente_leggi_attributo", "tipo_praxi", lost},
      {"CodiceRegionale", "utente_leggi_attributo", "codice_regionale", lost},
      {"CodiceFiscale", "utente_leggi_attributo", "codice_fiscale", lost},
      {"Nome", "utente_leggi_attributo", "nome", lost},
      {"Cognome", "utente_leggi_attributo", "cognome", lost},
      {"AslDiConvenzione", "utente_leggi_attributo", "asl_di_convenzione", lost},
  };
  std::vector<SignInFaultCase> cases;
  for (const auto& call : calls) {
    const std::pair<Fault, std::pair<const char*, std::string>> faults[] = {
        {Fault::timeout, {"Timeout", not_answering}},
        {Fault::server_gone, {"ServerGone", call.gone}},
        {Fault::failed_call, {"FailedCall", cannot_start + "errore scriptato in " + call.method}},
    };
    for (const auto& [fault, named] : faults)
      cases.push_back({std::string(call.name) + named.first, call.method, call.argument, fault, named.second});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Calls, SignInFault, ::testing::ValuesIn(sign_in_fault_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoginTest, AnErrorInsideTheProcedureIsShownWithItsText) {
  class ThrowingHost : public RecordingHost {
   public:
    int message_box(const std::string& text, const std::string& caption, unsigned flags) override {
      RecordingHost::message_box(text, caption, flags);
      if (boxes.size() == 1) throw std::runtime_error("finestra non disponibile");
      return frontend::id_ok;
    }
  } throwing_host;
  // The first refusal box raises: the procedure reports that error, skips the second
  // check and gives false.
  fake.attributes["tipo_praxi"] = "X";
  fake.attributes["codice_regionale"] = "";
  TUser user;
  EXPECT_FALSE(proceed("demo", "demo", user, session, throwing_host));
  EXPECT_EQ(throwing_host.texts(), (Texts{not_titolare, "sFunz: proceed - Eccezione:finestra non disponibile"}));
}

TEST_F(LoginTest, AttemptHasTheBusyCursorAroundItAndANewRecordEachTime) {
  fake.attributes["tipo_praxi"] = "S";
  EXPECT_EQ(sign_in_attempt("demo", "demo", session, host), nullptr);
  EXPECT_EQ(host.events, (Texts{"busy", "box", "idle"}));

  fake.attributes["tipo_praxi"] = "T";
  host.events.clear();
  std::unique_ptr<TUser> user = sign_in_attempt("demo", "demo", session, host);
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(user->get_tipo_praxi(), "T");
  EXPECT_EQ(user->get_nome(), "Mario");
  EXPECT_EQ(host.events, (Texts{"busy", "idle"}));
  // The refused attempt did not disconnect: the second one signed in on the same session.
  int disconnects = 0;
  for (const auto& c : fake.calls) disconnects += c.method == "disconnetti";
  EXPECT_EQ(disconnects, 0);
}

TEST(LastUserName, IsTheMakersUltimoUtente) {
  test_support::RegistryFile registry;
  EXPECT_EQ(last_user_name(), "");
  registry.write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvanta-Ferrix]\r\n\"ultimo_utente\"=\"Dell'Orto\"\r\n");
  EXPECT_EQ(last_user_name(), "Dell'Orto");
}

}  // namespace

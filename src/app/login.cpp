#include "app/login.hpp"

#include <exception>

#include "records/px_tools.hpp"
#include "tools/tools.hpp"

namespace {

/// A plain box with an OK button, captioned with the application title.
// Every message of the sign-in reports a refusal or a failure: an error box.
void show(frontend::Host& host, const std::string& text) {
  host.message_box(text, application_title, frontend::mb_ok | frontend::mb_iconerror);
}

/// The box that reports an error of the procedure; it must not raise in its turn.
void show_error(frontend::Host& host, const std::string& text) {
  try {
    show(host, "sFunz: proceed - Eccezione:" + text);
  } catch (...) {
  }
}

/// Turns the busy cursor on for its lifetime.
class BusyCursor {
 public:
  explicit BusyCursor(frontend::Host& host) : host_(host) { host_.set_busy_cursor(true); }
  ~BusyCursor() {
    try {
      host_.set_busy_cursor(false);
    } catch (...) {
    }
  }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  frontend::Host& host_;
};

}  // namespace

std::string last_user_name() {
  return tools::read_registry_string(tools::local_machine_root(), px_tools::maker_registry_folder(), "ultimo_utente");
}

bool proceed(const std::string& user_name, const std::string& password, TUser& user, Tpx_wrap_praxipat& session,
             frontend::Host& host) {
  try {
    // A server that cannot be created is no refused sign-in: the user is told why.
    if (!session.init("ImportAnagrafiche", "")) {
      const auto& failure = session.failure();
      show(host, "Impossibile avviare Praxilo: " + (failure ? failure->reason : std::string()));
      return false;
    }
    if (!session.connetti(user_name, password)) {
      show(host, "ERRORE: Dati Utente o Password non riconosciuti.");
      return false;
    }
    user.set_userid_utente(session.leggi_attributo("userid_utente"));
    user.set_tipo_praxi(session.utente_leggi_attributo("tipo_praxi"));
    user.set_codice_regionale(session.utente_leggi_attributo("codice_regionale"));
    user.set_codice_fiscale(session.utente_leggi_attributo("codice_fiscale"));
    user.set_nome(session.utente_leggi_attributo("nome"));
    user.set_cognome(session.utente_leggi_attributo("cognome"));
    user.set_asl_di_convenzione(session.utente_leggi_attributo("asl_di_convenzione"));

    // Both checks run, so that a user failing both sees both messages.
    bool admitted = true;
    if (user.get_tipo_praxi() != "T") {
      show(host, "ERRORE: Procedura riservata ai soli medici titolari.");
      admitted = false;
    }
    if (tools::is_empty(user.get_codice_regionale())) {
      show(host, "ERRORE: Il campo obbligatorio \"Codice Regionale\" medico non è stato valorizzato in Praxilo.");
      admitted = false;
    }
    return admitted;
  } catch (const std::exception& error) {
    show_error(host, error.what());
  } catch (...) {
    show_error(host, "errore sconosciuto");
  }
  return false;
}

std::unique_ptr<TUser> sign_in_attempt(const std::string& user_name, const std::string& password,
                                       Tpx_wrap_praxipat& session, frontend::Host& host) {
  BusyCursor busy(host);
  auto user = std::make_unique<TUser>();
  if (!proceed(user_name, password, *user, session, host)) return nullptr;
  return user;
}

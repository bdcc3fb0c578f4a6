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
    // Only this attempt's failures count: an earlier attempt's are its own.
    session.clear_failure();
    // A call that failed or found no answer in time is no answer of the records product's:
    // the doctor is told so, and nothing read after it is taken for the doctor's data.
    const auto failed = [&session, &host] {
      const auto& failure = session.failure();
      if (!failure) return false;
      show(host, failure->reason == praxilo_not_answering ? failure->reason
                                                          : "Impossibile avviare Praxilo: " + failure->reason);
      return true;
    };
    if (!session.init("ImportAnagrafiche", "")) {
      if (!failed()) show(host, "Impossibile avviare Praxilo: ");
      return false;
    }
    if (!session.connetti(user_name, password)) {
      if (!failed()) show(host, "ERRORE: Dati Utente o Password non riconosciuti.");
      return false;
    }
    using Reader = std::string (Tpx_wrap_praxipat::*)(const std::string&);
    const struct {
      Reader read;
      const char* name;
      void (TUser::*store)(const std::string&);
    } attributes[] = {
        {&Tpx_wrap_praxipat::leggi_attributo, "userid_utente", &TUser::set_userid_utente},
        {&Tpx_wrap_praxipat::utente_leggi_attributo, "tipo_praxi", &TUser::set_tipo_praxi},
        {&Tpx_wrap_praxipat::utente_leggi_attributo, "codice_regionale", &TUser::set_codice_regionale},
        {&Tpx_wrap_praxipat::utente_leggi_attributo, "codice_fiscale", &TUser::set_codice_fiscale},
        {&Tpx_wrap_praxipat::utente_leggi_attributo, "nome", &TUser::set_nome},
        {&Tpx_wrap_praxipat::utente_leggi_attributo, "cognome", &TUser::set_cognome},
        {&Tpx_wrap_praxipat::utente_leggi_attributo, "asl_di_convenzione", &TUser::set_asl_di_convenzione},
    };
    for (const auto& attribute : attributes) {
      (user.*attribute.store)((session.*attribute.read)(attribute.name));
      if (failed()) return false;
    }

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

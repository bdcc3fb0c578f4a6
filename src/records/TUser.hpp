#pragma once
// The identity of the signed-in doctor: seven texts filled once by the sign-in and
// read-only afterwards. The accessors store and return whatever they are given.
#include <string>

class TUser {
 public:
  const std::string& get_nome() const { return nome; }
  void set_nome(const std::string& v) { nome = v; }
  const std::string& get_cognome() const { return cognome; }
  void set_cognome(const std::string& v) { cognome = v; }
  const std::string& get_userid_utente() const { return userid_utente; }
  void set_userid_utente(const std::string& v) { userid_utente = v; }
  const std::string& get_tipo_praxi() const { return tipo_praxi; }
  void set_tipo_praxi(const std::string& v) { tipo_praxi = v; }
  const std::string& get_codice_fiscale() const { return codice_fiscale; }
  void set_codice_fiscale(const std::string& v) { codice_fiscale = v; }
  const std::string& get_codice_regionale() const { return codice_regionale; }
  void set_codice_regionale(const std::string& v) { codice_regionale = v; }
  const std::string& get_asl_di_convenzione() const { return asl_di_convenzione; }
  void set_asl_di_convenzione(const std::string& v) { asl_di_convenzione = v; }

 private:
  std::string nome;
  std::string cognome;
  std::string userid_utente;
  std::string tipo_praxi;
  std::string codice_fiscale;
  std::string codice_regionale;
  std::string asl_di_convenzione;
};

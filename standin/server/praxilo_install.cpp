#include "praxilo_install.hpp"

namespace praxilo_db {

std::string reg_string(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string registry_text(const RegistrySettings& s) {
  std::string out = "Windows Registry Editor Version 5.00\r\n\r\n";
  out += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\PRAXILO.EXE]\r\n";
  out += "\"Path\"=" + reg_string(s.app_path) + "\r\n\r\n";
  out += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvanta-Ferrix]\r\n";
  if (!s.last_user.empty()) out += "\"ultimo_utente\"=" + reg_string(s.last_user) + "\r\n";
  out += "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvanta-Ferrix\\px_gate]\r\n";
  if (s.log) out += "\"log\"=\"yes\"\r\n";
  out += "\r\n[HKEY_CLASSES_ROOT\\Praxilo.Server\\LocalServer32]\r\n";
  out += "@=" + reg_string(s.server_command) + "\r\n\r\n";
  return out;
}

}  // namespace praxilo_db

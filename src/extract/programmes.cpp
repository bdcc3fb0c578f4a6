#include "extract/programmes.hpp"

#include "extract/sections.hpp"

namespace {

const std::array<ProgrammeInfo, 3> programmes{{
    {Programme::diabete, "diabete", "Diabete", "File Diabete ZONA12.xml", false, "REG0027", "Diabete_to_HTML.xsl",
     "Estrazione diabete",
     "Nessun paziente estratto!\r\n\r\nCerca i pazienti nel registro Diabetico in gestione integrata\r\n"
     "con accertamento \"ARRUOLAMENTO PROGETTO DIABETE\" in stato Arruolato",
     "diabete", "/asl/diabete", "Diabetici.txt", true, &add_diabetes_monitoring},
    {Programme::tao, "tao", "TAO", "File TAO ZONA12.xml", true, "REG0002", "Tao_to_HTML.xsl", "Estrazione TAO",
     "Nessun paziente estratto!\r\n\r\nCerca i pazienti nel registro TAO (Terapia Anticoagulante orale)", "tao",
     "/asl/tao", "Tao.txt", false, &add_tao_monitoring},
    {Programme::vaccinazioni, "vaccinazioni", "Vaccinazioni", "File Vaccinazioni ZONA12.xml", false, nullptr,
     "Vac_to_HTML.xsl", "Estrazione Vaccinazioni AntiInfluenzali", "Nessun paziente estratto!", "vaccinazioni",
     "/asl/vaccinazioni", "Vac.txt", false, &add_vaccination_monitoring},
}};

const std::array<Programme, 3> ids{Programme::diabete, Programme::tao, Programme::vaccinazioni};

}  // namespace

const ProgrammeInfo& programme_info(Programme programme) { return programmes[static_cast<int>(programme)]; }

const std::array<Programme, 3>& all_programmes() { return ids; }

bool programme_from_key(const std::string& key, Programme& programme) {
  for (const auto& info : programmes) {
    if (key == info.key) {
      programme = info.id;
      return true;
    }
  }
  return false;
}

// The three report stylesheets (xsl/*.xsl): the sample reports as readable pages, the
// statements beyond the report, the pages with their blocks written out as they are made,
// and the golden reports' pages byte for byte.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "page_test_support.hpp"
#include "platform/codepage.hpp"
#include "render/render.hpp"
#include "test_support.hpp"
#include "xml/xslt.hpp"

namespace fs = std::filesystem;
using test_support::MadePage;
using test_support::make_page;
using test_support::read_file;
using test_support::ScopedEnv;
using test_support::TempDir;
using test_support::utf8_meta;
using test_support::with_unknown_instruction;
using test_support::write_file;

namespace {

// ---------------------------------------------------------------------------------
// The three report stylesheets on the sample reports, from an installation directory
// whose path has a blank in it (the stylesheets include their shared part from there).

struct StylesheetCase {
  std::string name;
  friend void PrintTo(const StylesheetCase& c, std::ostream* os) { *os << c.name; }
  std::string stylesheet;
  std::string sample;
  std::vector<std::string> expected;  ///< texts the page must hold
};

class ReportStylesheets : public ::testing::TestWithParam<StylesheetCase> {
 protected:
  ReportStylesheets() {
    fs::create_directories(appdir);
    test_support::copy_stylesheets(appdir);
  }
  std::string render(const std::string& xml) {
    const std::string html = (appdir / "ZONA12.html").string();
    const std::string message = tools::xml2html((appdir / GetParam().stylesheet).string(), xml, html);
    EXPECT_EQ(message, "");
    return read_file(html);
  }
  TempDir dir;
  fs::path appdir = dir.path() / "Program Files" / "Praxilo";
};

TEST_P(ReportStylesheets, SampleReportBecomesAReadablePage) {
  const StylesheetCase& c = GetParam();
  const std::string page = render(std::string(PZ_FIXTURES_DIR) + "/" + c.sample);
  for (const std::string& text : c.expected) EXPECT_NE(page.find(text), std::string::npos) << text;
  for (const std::string& text : {std::string("<!DOCTYPE html>"), std::string("<html lang=\"it\">"), utf8_meta,
                                  std::string("001234"), std::string("RSSMRA60A01H501U"), std::string("Niccolò"),
                                  std::string("D'Alò"), std::string("page-break-inside: avoid")})
    EXPECT_NE(page.find(text), std::string::npos) << text;
  EXPECT_EQ(page.find("NaN"), std::string::npos);
  EXPECT_EQ(page.find("xmlns"), std::string::npos) << "no report namespace leaks into the page";
}

TEST_P(ReportStylesheets, PageReadsTheSameInCp1252) {
  const std::string xml = std::string(PZ_FIXTURES_DIR) + "/" + GetParam().sample;
  const std::string utf8_page = render(xml);
  ScopedEnv codepage("PIVZONA12_CODEPAGE", "CP1252");
  std::string page = platform::from_ansi(render(xml));
  const std::string declared = "charset=windows-1252";
  ASSERT_NE(page.find(declared), std::string::npos);
  page.replace(page.find(declared), declared.size(), "charset=UTF-8");
  EXPECT_EQ(page, utf8_page) << "every character of the page exists in windows-1252";
}

TEST_P(ReportStylesheets, ReportWithoutPatientsSaysSo) {
  const StylesheetCase& c = GetParam();
  std::string xml = read_file(fs::path(PZ_FIXTURES_DIR) / c.sample);
  xml = xml.substr(0, xml.find("<assistito>")) + xml.substr(xml.rfind("</assistito>") + 12);
  write_file(dir.path() / "empty.xml", xml);
  const std::string page = render((dir.path() / "empty.xml").string());
  EXPECT_NE(page.find("Nessun assistito nel report."), std::string::npos);
  EXPECT_NE(page.find("<p class=\"riepilogo\">0 assistiti"), std::string::npos);
  EXPECT_EQ(page.find("NaN"), std::string::npos);
}

/// The text of the table row that holds label, markup removed.
std::string row_text(const std::string& page, const std::string& label) {
  const std::size_t at = page.find(label);
  if (at == std::string::npos) return "";
  const std::size_t start = page.rfind("<tr", at);
  const std::size_t end = page.find("</tr>", at);
  std::string text;
  bool in_tag = false;
  for (char c : page.substr(start, end - start)) {
    if (c == '<') in_tag = true;
    if (!in_tag && c != '\n' && c != '\r') text += c;
    if (c == '>') in_tag = false;
  }
  return text;
}

TEST(DiabetesStylesheet, SummaryCountsPatientsWithAtLeastOneRecordPerIndicator) {
  TempDir dir;
  const std::string html = dir.dir() + "ZONA12.html";
  ASSERT_EQ(tools::xml2html(std::string(PZ_SOURCE_DIR) + "/xsl/Diabete_to_HTML.xsl",
                            std::string(PZ_FIXTURES_DIR) + "/sample_diabete.xml", html),
            "");
  const std::string page = read_file(html);
  struct Case {
    std::string label;
    std::string shown;
  };
  // Four patients: two check-ups of one patient count once; one patient has no record.
  for (const Case& c : {Case{"Controllo clinico",
                             "3 su 4"
                             "75,0%"
                             "1 da richiamare"},
                        Case{"Esame dei piedi",
                             "2 su 4"
                             "50,0%"
                             "2 da richiamare"},
                        Case{"Microalbuminuria",
                             "1 su 4"
                             "25,0%"
                             "3 da richiamare"},
                        Case{"Abitudine al fumo",
                             "2 su 4"
                             "50,0%"
                             "2 da richiamare"}}) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(row_text(page, "<th>" + c.label + "</th>"), c.label + c.shown);
  }
  EXPECT_NE(page.find("style=\"width: 75.0%\""), std::string::npos) << "a CSS length keeps its decimal point";
  EXPECT_NE(page.find("0 indicatori su 14"), std::string::npos);
  EXPECT_NE(page.find("14 indicatori su 14"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Programmes, ReportStylesheets,
                         ::testing::Values(StylesheetCase{"diabete",
                                                          "Diabete_to_HTML.xsl",
                                                          "sample_diabete.xml",
                                                          {"Gestione integrata del diabete", "15/03/2024 14:35",
                                                           "Presa in carico dal", "10/05/2023", "DM2-001288",
                                                           "145/85 mmHg", "150/– mmHg", "Patologico", "fumatore",
                                                           "7,2%", "Maria Grazia", "nessuna rilevazione"}},
                                           StylesheetCase{"tao",
                                                          "Tao_to_HTML.xsl",
                                                          "sample_tao.xml",
                                                          {"Terapia anticoagulante orale", "16/03/2024 09:15",
                                                           "<span class=\"cifra\">2,6</span>", "05/03/2024",
                                                           "09/01/2024", "Nessuna consulenza nel periodo", "Marino"}},
                                           StylesheetCase{"vaccinazioni",
                                                          "Vac_to_HTML.xsl",
                                                          "sample_vaccinazioni.xml",
                                                          {"Vaccinazione antinfluenzale", "17/03/2024 18:02",
                                                           "18/10/2023", "12/01/2023", "05/11/2023", "Verdi"}}),
                         [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------------
// What the pages state beyond the report: the period, numbers as written in Italian,
// the shares, the recall list and the vaccinated by age.

/// A diabetes report of three patients: Rossi has a check-up, a glycated haemoglobin of
/// 7.2 and a BMI of 27.35; Verdi only a check-up; Bianchi nothing.
const std::string small_diabetes_report = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<diabete xmlns="http://www.zona12.asl.it/asl/diabete"><dataOraProduzione>20250110090000</dataOraProduzione>
<medico><codiceRegionale>001234</codiceRegionale><codiceFiscale>RSSMRA60A01H501U</codiceFiscale>
<assistito><codiceFiscale>A</codiceFiscale><cognome>Rossi</cognome><nome>Ada</nome><sesso>F</sesso>
<dataNascita>19500101</dataNascita><comuneNascita><codiceIstat>1</codiceIstat></comuneNascita>
<presaInCarico><data>20200101</data><codice></codice></presaInCarico><monitoraggio>
<controlloClinico><data>20240301</data></controlloClinico>
<emoglobinaGlicata><data>20240301</data><valore>7.2</valore></emoglobinaGlicata>
<bmi><data>20240301</data><valore>27.35</valore></bmi></monitoraggio></assistito>
<assistito><codiceFiscale>B</codiceFiscale><cognome>Verdi</cognome><nome>Bruno</nome><sesso>M</sesso>
<dataNascita>19600202</dataNascita><comuneNascita><codiceIstat>1</codiceIstat></comuneNascita>
<presaInCarico><data>20200101</data><codice></codice></presaInCarico><monitoraggio>
<controlloClinico><data>20240401</data></controlloClinico></monitoraggio></assistito>
<assistito><codiceFiscale>C</codiceFiscale><cognome>Bianchi</cognome><nome>Carla</nome><sesso>F</sesso>
<dataNascita>19700303</dataNascita><comuneNascita><codiceIstat>1</codiceIstat></comuneNascita>
<presaInCarico><data>20200101</data><codice></codice></presaInCarico><monitoraggio/></assistito>
</medico></diabete>)";

class PageStatements : public ::testing::Test {
 protected:
  std::string render(const std::string& stylesheet, const std::string& report,
                     const platform::XsltParameters& parameters) {
    write_file(dir.path() / "report.xml", report);
    const std::string html = dir.dir() + "ZONA12.html";
    EXPECT_EQ(
        tools::xml2html(std::string(PZ_SOURCE_DIR) + "/xsl/" + stylesheet, dir.dir() + "report.xml", html, parameters),
        "");
    return read_file(html);
  }
  /// The text of the recall block of an indicator, markup removed.
  static std::string recall_text(const std::string& page, const std::string& indicator) {
    const std::size_t id = page.find("id=\"richiamo-" + indicator + "\"");
    if (id == std::string::npos) return "";
    const std::size_t at = page.rfind("<div", id);
    return text_of(page.substr(at, page.find("</div>", at) - at));
  }
  static std::string text_of(const std::string& markup) {
    std::string text;
    bool in_tag = false;
    for (char c : markup) {
      if (c == '<') in_tag = true;
      if (!in_tag && c != '\n' && c != '\r') text += c;
      if (c == '>') in_tag = false;
    }
    return text;
  }
  TempDir dir;
  const platform::XsltParameters period{
      {"dal", "20240101"}, {"al", "20241231"}, {"nominativo", "Maria D'Alò"}, {"asl", "ASL 12 \"Zona\""}};
};

TEST_F(PageStatements, HeaderStatesThePeriodAndTheDoctorOnlyWhenGiven) {
  const std::string page = render("Diabete_to_HTML.xsl", small_diabetes_report, period);
  EXPECT_NE(page.find("<p class=\"periodo\">Periodo: dal 01/01/2024 al 31/12/2024</p>"), std::string::npos);
  EXPECT_NE(page.find("<dd>Maria D'Alò</dd>"), std::string::npos);
  EXPECT_NE(page.find("<dd>ASL 12 \"Zona\"</dd>"), std::string::npos);
  const std::size_t running = page.find("<div class=\"intestazione-stampa\">");
  ASSERT_NE(running, std::string::npos);
  EXPECT_EQ(text_of(page.substr(running, page.find("</div>", running) - running)),
            "Gestione integrata del diabete · Medico: Maria D'Alò (001234) · "
            "ASL: ASL 12 \"Zona\" · Periodo: dal 01/01/2024 al 31/12/2024")
      << "printed on every sheet";

  const std::string bare = render("Diabete_to_HTML.xsl", small_diabetes_report, {});
  EXPECT_EQ(bare.find("Periodo"), std::string::npos);
  EXPECT_EQ(bare.find("<dt>ASL</dt>"), std::string::npos);
}

TEST_F(PageStatements, ValuesHaveADecimalCommaAndTheirUnit) {
  const std::string page = render("Diabete_to_HTML.xsl", small_diabetes_report, period);
  EXPECT_NE(page.find("<strong>7,2%</strong>"), std::string::npos);
  EXPECT_NE(page.find("<strong>27,35 kg/m²</strong>"), std::string::npos);
  EXPECT_EQ(page.find("7.2"), std::string::npos);
}

TEST_F(PageStatements, RecordsThatAreBlankOrOddShowAsTheyStand) {
  const std::string report = R"(<diabete xmlns="http://www.zona12.asl.it/asl/diabete">
<dataOraProduzione>20250110090000</dataOraProduzione><medico><codiceRegionale>001234</codiceRegionale>
<codiceFiscale>C</codiceFiscale><assistito><codiceFiscale>A</codiceFiscale><cognome>Rossi</cognome><nome>Ada</nome>
<sesso>F</sesso><dataNascita>19500101</dataNascita><comuneNascita><codiceIstat>1</codiceIstat></comuneNascita>
<presaInCarico><data>20200101</data><codice></codice></presaInCarico><monitoraggio>
<controlloClinico><data>20240301</data></controlloClinico><controlloClinico><data>2024030</data></controlloClinico>
<pressioneArteriosa><data>20240301</data><min>80.5</min><max></max></pressioneArteriosa>
<esamePiedi><data>20240301</data><esito>Patologico</esito></esamePiedi>
<esamePiedi><data>20230301</data><esito>Normale</esito></esamePiedi>
<emoglobinaGlicata><data>20240301</data><valore> </valore></emoglobinaGlicata>
<emoglobinaGlicata><data>20230301</data><valore></valore></emoglobinaGlicata>
<abitudineFumo><data>20240301</data><booleano>No</booleano></abitudineFumo>
<abitudineFumo><data>20230301</data><booleano>x.y</booleano></abitudineFumo>
</monitoraggio></assistito></medico></diabete>)";
  const std::string page = render("Diabete_to_HTML.xsl", report, period);
  for (const std::string& shown :
       {// A date that is not eight digits stands as it is; only the newest record is "ultima".
        std::string("<span class=\"voce ultima \"><span class=\"quando\">01/03/2024</span></span>"
                    "<span class=\"voce \"><span class=\"quando\">2024030</span></span>"),
        // A pressure value not recorded is a dash.
        std::string("<span class=\"quando\">01/03/2024</span> <strong>–/80,5 mmHg</strong>"),
        std::string("<span class=\"voce ultima patologico\"><span class=\"quando\">01/03/2024</span> "
                    "<strong>Patologico</strong></span><span class=\"voce \">"),
        // A blank value is written without its unit, an empty one not at all.
        std::string("<span class=\"quando\">01/03/2024</span> <strong> </strong></span>"
                    "<span class=\"voce \"><span class=\"quando\">01/03/2023</span></span>"),
        std::string("<strong>non fumatore</strong>"), std::string("<strong>x,y</strong>"),
        std::string("<span class=\"distintivo\">5 indicatori su 14</span>")}) {
    EXPECT_NE(page.find(shown), std::string::npos) << shown;
  }
}

TEST_F(PageStatements, RecallListsThePatientsWithoutARecordAsTheSummaryCountsThem) {
  const std::string page = render("Diabete_to_HTML.xsl", small_diabetes_report, period);
  EXPECT_NE(page.find("<h2>Da richiamare</h2>"), std::string::npos);
  EXPECT_EQ(row_text(page, "<th>Controllo clinico</th>"), "Controllo clinico2 su 366,7%1 da richiamare");
  EXPECT_EQ(recall_text(page, "controlloClinico"), "Controllo clinico · 1 assistitoBianchi Carla 03/03/1970");
  EXPECT_EQ(row_text(page, "<th>Emoglobina glicata</th>"), "Emoglobina glicata1 su 333,3%2 da richiamare");
  EXPECT_EQ(recall_text(page, "emoglobinaGlicata"),
            "Emoglobina glicata · 2 assistitiVerdi Bruno 02/02/1960Bianchi Carla 03/03/1970");
  EXPECT_EQ(recall_text(page, "fondoOculare"),
            "Fondo oculare · 3 assistitiRossi Ada 01/01/1950Verdi Bruno 02/02/1960Bianchi Carla 03/03/1970");
  // Each name leads to the patient's block.
  const std::size_t link = page.find("href=\"#", page.find("id=\"richiamo-controlloClinico\""));
  const std::string target = page.substr(link + 7, page.find('"', link + 7) - link - 7);
  const std::size_t block = page.find("<article class=\"assistito\" id=\"" + target + "\">");
  ASSERT_NE(block, std::string::npos);
  EXPECT_LT(page.find("Bianchi", block), page.find("</article>", block));
}

TEST_F(PageStatements, NoRecallWhenEveryPatientHasTheRecord) {
  const std::string& report = small_diabetes_report;
  const std::string one_patient = report.substr(0, report.find("<assistito><codiceFiscale>B")) + "</medico></diabete>";
  const std::string page = render("Diabete_to_HTML.xsl", one_patient, period);
  EXPECT_EQ(row_text(page, "<th>Controllo clinico</th>"), "Controllo clinico1 su 1100,0%");
  EXPECT_EQ(recall_text(page, "controlloClinico"),
            "Controllo clinico · 0 assistitiNessuno: tutti gli assistiti hanno almeno una rilevazione.");
}

TEST_F(PageStatements, RecallByPatientListsEachPatientOnceMostMissingFirst) {
  // Amato, with nothing recorded like Bianchi, follows Bianchi as the report does.
  std::string report = small_diabetes_report;
  const std::string bianchi = report.substr(report.find("<assistito><codiceFiscale>C"),
                                            report.find("</medico>") - report.find("<assistito><codiceFiscale>C"));
  std::string amato = bianchi;
  amato.replace(amato.find("Bianchi"), 7, "Amato");
  report.insert(report.find("</medico>"), amato);
  const std::string page = render("Diabete_to_HTML.xsl", report, period);
  const std::size_t view = page.find("<section class=\"richiami-per-assistito\" id=\"richiamo-per-assistito\">");
  ASSERT_NE(view, std::string::npos);
  EXPECT_LT(page.find("href=\"#richiamo-per-assistito\""), view) << "linked from the recall lists";
  const std::size_t body = page.find("<tbody id=\"righe-richiamo\">", view);
  const std::string rows = page.substr(body, page.find("</tbody>", body) - body);
  std::vector<std::string> names;
  for (std::size_t at = rows.find("<tr"); at != std::string::npos; at = rows.find("<tr", at + 1))
    names.push_back(text_of(rows.substr(at, rows.find("</td>", at) - at)));
  EXPECT_EQ(names, (std::vector<std::string>{"Bianchi Carla", "Amato Carla", "Verdi Bruno", "Rossi Ada"}));
  // Rossi lacks all but the check-up, the glycated haemoglobin and the BMI.
  const std::size_t rossi = rows.find("Rossi");
  const std::string rossi_row = rows.substr(rossi, rows.find("</tr>", rossi) - rossi);
  EXPECT_EQ(text_of(rossi_row.substr(rossi_row.find("<td class=\"numero\">"))),
            "11 su 14Pressione arteriosaEsame dei piediFondo oculareMicroalbuminuriaColesterolo totale"
            "Colesterolo HDLColesterolo LDLTrigliceridiVaccinazione antinfluenzaleCirconferenza addominale"
            "Abitudine al fumo");
  EXPECT_NE(rows.find("data-mancanti=\"14\""), std::string::npos);
  // The rows carry what the page's script sorts them by: their place in the report.
  EXPECT_NE(rows.find("<tr data-ordine=\"3\" data-mancanti=\"14\">"), std::string::npos) << rows;
}

// ---------------------------------------------------------------------------------
// The section "Qualità dei dati": what the health authority cannot read, per patient.

/// A diabetes patient with the given fiscal code, ISTAT code of the place of birth and
/// records (the children of monitoraggio).
std::string diabetes_patient(const std::string& surname, const std::string& cf, const std::string& istat,
                             const std::string& records) {
  return "<assistito><codiceFiscale>" + cf + "</codiceFiscale><cognome>" + surname +
         "</cognome><nome>Ada</nome><sesso>F</sesso><dataNascita>19500101</dataNascita><comuneNascita><codiceIstat>" +
         istat +
         "</codiceIstat></comuneNascita><presaInCarico><data>20200101</data><codice></codice></presaInCarico>"
         "<monitoraggio>" +
         records + "</monitoraggio></assistito>";
}

std::string diabetes_report(const std::string& patients) {
  return R"(<diabete xmlns="http://www.zona12.asl.it/asl/diabete"><dataOraProduzione>20250110090000</dataOraProduzione>
<medico><codiceRegionale>001234</codiceRegionale><codiceFiscale>RSSMRA80A01H501U</codiceFiscale>)" +
         patients + "</medico></diabete>";
}

/// The problems listed for one patient, markup removed, "" when the patient is not listed.
std::string quality_text(const std::string& page, const std::string& surname) {
  const std::size_t section = page.find("<section class=\"qualita\" id=\"qualita-dati\">");
  const std::size_t name = page.find("<span class=\"cognome\">" + surname + "</span>", section);
  if (section == std::string::npos || name == std::string::npos) return "";
  const std::size_t list = page.find("<ul class=\"qualita-problemi\">", name);
  std::string text;
  bool in_tag = false;
  for (char c : page.substr(list, page.find("</ul>", list) - list)) {
    if (c == '<') in_tag = true;
    if (!in_tag && c != '\n' && c != '\r') text += c;
    if (c == '>') in_tag = false;
  }
  return text;
}

struct QualityCase {
  std::string name;
  std::string cf;
  std::string istat;
  std::string records;
  std::string listed;  ///< the patient's problems as the page lists them; "" when none
};

const std::vector<QualityCase> quality_cases = {
    {"ValueInQuotes", "RSSMRA80A01H501U", "058091",
     "<emoglobinaGlicata><data>20240301</data><valore>\"8.2\"</valore></emoglobinaGlicata>",
     "Emoglobina glicata del 01/03/2024: \"8.2\" – non è un numero (tra virgolette)"},
    {"ValueOutOfRange", "RSSMRA80A01H501U", "058091",
     "<pressioneArteriosa><data>20240301</data><min></min><max>400</max></pressioneArteriosa>"
     "<colesteroloTotale><data>20240301</data><valore>5.2</valore></colesteroloTotale>",
     "Pressione massima (sistolica) del 01/03/2024: 400 – fuori dall'intervallo plausibile 60–300 mmHg"
     "Colesterolo totale del 01/03/2024: 5.2 – fuori dall'intervallo plausibile 50–1000 mg/dL"},
    {"GlycatedHaemoglobinInEitherUnit", "RSSMRA80A01H501U", "058091",
     "<emoglobinaGlicata><data>20240301</data><valore>64</valore></emoglobinaGlicata>"
     "<emoglobinaGlicata><data>20230301</data><valore>7.2</valore></emoglobinaGlicata>"
     "<emoglobinaGlicata><data>20220301</data><valore>2</valore></emoglobinaGlicata>",
     "Emoglobina glicata del 01/03/2022: 2 – fuori dagli intervalli plausibili 3–20% o 9–195 mmol/mol"},
    {"EmptyValue", "RSSMRA80A01H501U", "058091", "<bmi><data>20240301</data><valore></valore></bmi>",
     "Indice di massa corporea (BMI) del 01/03/2024: (vuoto) – valore vuoto"},
    // One patient's values of two fields, rejected for three reasons: listed in the
    // order of the report, not by field or reason.
    {"SeveralReasonsInReportOrder", "RSSMRA80A01H501U", "058091",
     "<bmi><data>20240301</data><valore>abc</valore></bmi>"
     "<emoglobinaGlicata><data>20240302</data><valore>\"8.2\"</valore></emoglobinaGlicata>"
     "<bmi><data>20240303</data><valore></valore></bmi>"
     "<bmi><data>20240304</data><valore>900</valore></bmi>",
     "Indice di massa corporea (BMI) del 01/03/2024: abc – non è un numero"
     "Emoglobina glicata del 02/03/2024: \"8.2\" – non è un numero (tra virgolette)"
     "Indice di massa corporea (BMI) del 03/03/2024: (vuoto) – valore vuoto"
     "Indice di massa corporea (BMI) del 04/03/2024: 900 – fuori dall'intervallo plausibile 10–100 kg/m²"},
    {"WrongCheckCharacter", "RSSMRA80A01H501X", "058091", "",
     "Codice fiscale: RSSMRA80A01H501X – carattere di controllo errato: con questi 15 caratteri sarebbe U"},
    {"Omocodia", "RSSMRA80A01H50MM", "058091", "", ""},
    // Letters in every place a digit may hold, in odd and in even places: each counts as
    // its own table says.
    {"CheckCharacterOfLetters", "XYZWVUTQSRLMNPQG", "058091", "", ""},
    {"WrongCheckCharacterOfLetters", "ZXWKJYLMPRSTUVNA", "058091", "",
     "Codice fiscale: ZXWKJYLMPRSTUVNA – carattere di controllo errato: con questi 15 caratteri sarebbe N"},
    {"TemporaryCode", "12345678901", "058091", "", ""},
    {"ForeignerStp", "STP1234567890123", "058091", "", ""},
    {"ForeignerEni", "ENI1234567890123", "058091", "", ""},
    {"MissingFiscalCode", "", "058091", "", "Codice fiscale: (vuoto) – codice fiscale mancante"},
    {"ShortFiscalCode", "RSSMRA80A01H501", "058091", "",
     "Codice fiscale: RSSMRA80A01H501 – di 15 caratteri: attesi 16, o 11 cifre per un codice provvisorio, o STP/ENI "
     "e 13 cifre"},
    {"MalformedFiscalCode", "RSSMRA8XA01H501U", "058091", "",
     "Codice fiscale: RSSMRA8XA01H501U – non ha la forma di un codice fiscale (lettere maiuscole e cifre nelle "
     "posizioni previste)"},
    {"MissingBirthPlace", "RSSMRA80A01H501U", " ", "",
     "Comune di nascita:   – codice ISTAT del comune di nascita mancante"},
    {"ReadableValues", "RSSMRA80A01H501U", "058091",
     "<pressioneArteriosa><data>20240301</data><min>80</min><max></max></pressioneArteriosa>"
     "<microalbuminuria><data>20240301</data><valore>0</valore></microalbuminuria>"
     "<esamePiedi><data>20240301</data><esito>Patologico</esito></esamePiedi>"
     "<abitudineFumo><data>20240301</data><booleano>Sì</booleano></abitudineFumo>",
     ""},
};

TEST_F(PageStatements, DataQualityListsWhatTheAuthorityCannotRead) {
  std::string patients;
  for (const QualityCase& c : quality_cases) patients += diabetes_patient(c.name, c.cf, c.istat, c.records);
  const std::string page = render("Diabete_to_HTML.xsl", diabetes_report(patients), period);
  const std::size_t summary = page.find("<p class=\"qualita-riepilogo\">");
  EXPECT_EQ(page.substr(summary, page.find("</p>", summary) - summary),
            "<p class=\"qualita-riepilogo\">15 problemi in 11 assistiti");
  for (const QualityCase& c : quality_cases) EXPECT_EQ(quality_text(page, c.name), c.listed) << c.name;
  // The section closes the page, after the patients' blocks.
  EXPECT_LT(page.rfind("<article class=\"assistito\""), page.find("id=\"qualita-dati\""));
}

TEST_F(PageStatements, DataQualityOfTheTaoAndVaccinationPages) {
  const std::string tao =
      R"(<tao xmlns="http://www.zona12.asl.it/asl/tao"><dataOraProduzione>20250110090000</dataOraProduzione>
<medico><codiceRegionale>001234</codiceRegionale><codiceFiscale>C</codiceFiscale>
<assistito><codiceFiscale>RSSMRA80A01H501U</codiceFiscale><cognome>Rossi</cognome><nome>Ada</nome><sesso>F</sesso>
<dataNascita>19500101</dataNascita><comuneNascita><codiceIstat>058091</codiceIstat></comuneNascita><monitoraggio>
<consulenza><data>20240301</data><valore>25</valore></consulenza><consulenza><data>20240201</data><valore>2.5</valore></consulenza>
</monitoraggio></assistito></medico></tao>)";
  const std::string tao_page = render("Tao_to_HTML.xsl", tao, period);
  EXPECT_NE(tao_page.find("<p class=\"qualita-riepilogo\">1 problema in 1 assistito</p>"), std::string::npos);
  EXPECT_EQ(quality_text(tao_page, "Rossi"), "INR del 01/03/2024: 25 – fuori dall'intervallo plausibile 0,5–10");

  std::string vaccination = tao;
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"<tao ", "<vaccinazioni "},
                                 {"asl/tao", "asl/vaccinazioni"},
                                 {"</tao>", "</vaccinazioni>"},
                                 {"RSSMRA80A01H501U", "RSSMRA80A01H501"}}) {
    vaccination.replace(vaccination.find(from), from.size(), to);
  }
  const std::string begin = "<consulenza>", end = "</monitoraggio>";
  vaccination.replace(vaccination.find(begin), vaccination.find(end) - vaccination.find(begin),
                      "<antiInfluenzale><data>20241020</data></antiInfluenzale>");
  const std::string vaccination_page = render("Vac_to_HTML.xsl", vaccination, period);
  EXPECT_NE(vaccination_page.find("<p class=\"qualita-riepilogo\">1 problema in 1 assistito</p>"), std::string::npos);
  EXPECT_EQ(quality_text(vaccination_page, "Rossi").rfind("Codice fiscale: RSSMRA80A01H501 – di 15 caratteri", 0), 0u);
}

TEST_F(PageStatements, DataQualitySaysNoProblemOnACleanReport) {
  const std::string page =
      render("Diabete_to_HTML.xsl",
             diabetes_report(
                 diabetes_patient("Rossi", "RSSMRA80A01H501U", "058091",
                                  "<emoglobinaGlicata><data>20240301</data><valore>7.2</valore></emoglobinaGlicata>")),
             period);
  EXPECT_NE(page.find("<p class=\"qualita-riepilogo\">Nessun problema</p>"), std::string::npos);
  EXPECT_EQ(page.find("<div class=\"qualita-assistito\">"), std::string::npos);
  EXPECT_EQ(page.find("<p class=\"qualita-avviso\">"), std::string::npos);
}

TEST(DataQuality, WithoutTheTableOfRangesThePageSaysValuesWereNotChecked) {
  TempDir dir;
  test_support::copy_stylesheets(dir.path());
  fs::remove(dir.path() / "intervalli_plausibili.xml");
  write_file(dir.path() / "report.xml",
             diabetes_report(diabetes_patient(
                 "Rossi", "RSSMRA80A01H501U", "058091",
                 "<emoglobinaGlicata><data>20240301</data><valore>\"8.2\"</valore></emoglobinaGlicata>")));
  const std::string html = dir.dir() + "ZONA12.html";
  ASSERT_EQ(tools::xml2html(dir.dir() + "Diabete_to_HTML.xsl", dir.dir() + "report.xml", html), "");
  const std::string page = read_file(html);
  EXPECT_NE(page.find("<p class=\"qualita-avviso\">Tabella degli intervalli plausibili (intervalli_plausibili.xml) "
                      "non trovata"),
            std::string::npos);
}

struct ShareCase {
  std::string name;
  friend void PrintTo(const ShareCase& c, std::ostream* os) { *os << c.name; }
  int part;
  int total;
  std::string shown;
};

class PageShares : public ::testing::TestWithParam<ShareCase> {};

/// What a template of the shared part writes when a stylesheet that imports the shared
/// part does nothing else than call it (call: the xsl:call-template element).
std::string shared_template_text(const std::string& call) {
  TempDir dir;
  test_support::copy_stylesheets(dir.path());
  write_file(dir.path() / "chiamata.xsl",
             "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
             "<xsl:import href=\"ZONA12_comune.xsl\"/>"
             "<xsl:output method=\"text\"/><xsl:template match=\"/\">" +
                 call + "</xsl:template></xsl:stylesheet>");
  write_file(dir.path() / "in.xml", "<r/>");
  platform::XsltProcessor processor;
  EXPECT_NO_THROW(processor.load_stylesheet(dir.dir() + "chiamata.xsl"));
  EXPECT_NO_THROW(processor.load_input(dir.dir() + "in.xml"));
  return processor.transform();
}

TEST_P(PageShares, NeverShowAllOrNoneUnlessSo) {
  const ShareCase& c = GetParam();
  EXPECT_EQ(shared_template_text("<xsl:call-template name=\"percentuale\">"
                                 "<xsl:with-param name=\"parte\" select=\"" +
                                 std::to_string(c.part) +
                                 "\"/>"
                                 "<xsl:with-param name=\"totale\" select=\"" +
                                 std::to_string(c.total) +
                                 "\"/>"
                                 "</xsl:call-template>"),
            c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PageShares,
    ::testing::Values(ShareCase{"one_missing_of_255_is_not_all", 254, 255, "99,6%"},
                      ShareCase{"one_missing_of_3000_rounds_to_all_but_shows_less", 2999, 3000, "99,9%"},
                      ShareCase{"all", 255, 255, "100,0%"},
                      ShareCase{"one_of_3000_rounds_to_none_but_shows_some", 1, 3000, "0,1%"},
                      ShareCase{"none", 0, 255, "0,0%"}, ShareCase{"two_thirds_rounded", 2, 3, "66,7%"},
                      ShareCase{"no_patients", 0, 0, "0,0%"}),
    [](const auto& info) { return info.param.name; });

TEST(PageDates, OnlyEightDigitsBecomeADate) {
  struct Case {
    std::string value;
    std::string shown;
  };
  for (const Case& c : {Case{"20240301", "01/03/2024"}, Case{"00000000", "00/00/0000"}, Case{"", "—"}, Case{"   ", "—"},
                        Case{"2024030", "2024030"}, Case{"202403011", "202403011"}, Case{"2024.301", "2024.301"},
                        Case{" 2024030", " 2024030"}, Case{"2024-3-1", "2024-3-1"}, Case{"abcdefgh", "abcdefgh"},
                        Case{"２０２４０３０１", "２０２４０３０１"}}) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(shared_template_text("<xsl:call-template name=\"data\"><xsl:with-param name=\"valore\" select=\"'" +
                                   c.value + "'\"/></xsl:call-template>"),
              c.shown);
  }
}

TEST_F(PageStatements, VaccinatedByAgeOnThePeriodsLastDay) {
  auto patient = [](const std::string& surname, const std::string& birth) {
    return "<assistito><codiceFiscale>X</codiceFiscale><cognome>" + surname +
           "</cognome><nome>N</nome><sesso>F</sesso>"
           "<dataNascita>" +
           birth +
           "</dataNascita><comuneNascita><codiceIstat>1</codiceIstat></comuneNascita>"
           "<monitoraggio><antiInfluenzale><data>20241020</data></antiInfluenzale></monitoraggio></assistito>";
  };
  const std::string report =
      "<vaccinazioni xmlns=\"http://www.zona12.asl.it/asl/vaccinazioni\"><dataOraProduzione>20250301090000"
      "</dataOraProduzione><medico><codiceRegionale>001234</codiceRegionale><codiceFiscale>C</codiceFiscale>" +
      patient("Sessantacinque", "19591231") + patient("Sessantaquattro", "19600101") + patient("Anziana", "19300615") +
      patient("Ignota", "") + "</medico></vaccinazioni>";
  const std::string page = render("Vac_to_HTML.xsl", report, period);
  const std::size_t from = page.find("<div class=\"cifre\">");
  std::string figures;
  for (char c : text_of(page.substr(from, page.find("<h2>Assistiti vaccinati</h2>") - from)))
    if (c != ' ' || (!figures.empty() && figures.back() != ' ')) figures += c;
  // Born 31/12/1959: 65 on 31/12/2024; born a day later: 64.
  EXPECT_NE(figures.find("2 di 65 anni e più (50,0%)"), std::string::npos) << figures;
  EXPECT_NE(figures.find("1 sotto i 65 anni (25,0%)"), std::string::npos) << figures;
  EXPECT_NE(figures.find("1età non nota"), std::string::npos) << figures;
  EXPECT_NE(figures.find("Età al 31/12/2024"), std::string::npos) << figures;
  EXPECT_NE(row_text(page, "Sessantaquattro").find("01/01/196064"), std::string::npos)
      << row_text(page, "Sessantaquattro");
}

// ---------------------------------------------------------------------------------
// The page's blocks written out as they are made (the processor's block instruction):
// the page must be byte for byte the one xsl:apply-templates gives, which the same
// stylesheet gives when the instruction is unknown and its fallback runs.

/// A report of the programme with `count` patients, taken in turn from the sample.
std::string report_with_patients(const std::string& sample, int count) {
  const std::string text = read_file(fs::path(PZ_FIXTURES_DIR) / sample);
  const std::size_t first = text.find("<assistito>");
  const std::size_t end = text.rfind("</assistito>") + std::string("</assistito>").size();
  std::vector<std::string> patients;
  for (std::size_t at = first; at < end;) {
    const std::size_t close = text.find("</assistito>", at) + std::string("</assistito>").size();
    patients.push_back(text.substr(at, close - at));
    at = text.find("<assistito>", close);
  }
  std::string body;
  for (int i = 0; i < count; ++i) body += patients[static_cast<std::size_t>(i) % patients.size()] + "\n";
  return text.substr(0, first) + body + text.substr(end);
}

struct ProgrammePage {
  std::string name;
  friend void PrintTo(const ProgrammePage& c, std::ostream* os) { *os << c.name; }
  std::string stylesheet;
  std::string sample;
  bool recall_lists;  ///< the page also writes out its lists of patients to recall
};

class ProgrammePages : public ::testing::TestWithParam<std::tuple<ProgrammePage, int>> {};

TEST_P(ProgrammePages, BlocksWrittenOutGiveTheSamePage) {
  const auto& [programme, patients] = GetParam();
  TempDir dir;
  const fs::path own = dir.path() / "propri", fallback = dir.path() / "ripiego";
  fs::create_directories(own);
  fs::create_directories(fallback);
  test_support::copy_stylesheets(own);
  test_support::copy_stylesheets(fallback);
  write_file(fallback / programme.stylesheet, with_unknown_instruction(read_file(own / programme.stylesheet)));
  write_file(dir.path() / "report.xml", report_with_patients(programme.sample, patients));
  const platform::XsltParameters parameters{
      {"dal", "20230101"}, {"al", "20231231"}, {"nominativo", "Maria D'Alò"}, {"asl", "ASL 12"}};

  const MadePage made = make_page((own / programme.stylesheet).string(), dir.dir() + "report.xml", parameters);
  const MadePage expected = make_page((fallback / programme.stylesheet).string(), dir.dir() + "report.xml", parameters);
  EXPECT_EQ(expected.written_out, 0u) << "the fallback holds the whole page";
  // One block per patient; the last one stays in the page until it is written whole.
  const auto blocks_written_out = static_cast<std::size_t>(std::max(patients - 1, 0));
  if (programme.recall_lists)
    EXPECT_GE(made.written_out, blocks_written_out);
  else
    EXPECT_EQ(made.written_out, blocks_written_out);
  EXPECT_EQ(made.page, expected.page);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ProgrammePages,
    ::testing::Combine(::testing::Values(ProgrammePage{"diabete", "Diabete_to_HTML.xsl", "sample_diabete.xml", true},
                                         ProgrammePage{"tao", "Tao_to_HTML.xsl", "sample_tao.xml", false},
                                         ProgrammePage{"vaccinazioni", "Vac_to_HTML.xsl", "sample_vaccinazioni.xml",
                                                       false}),
                       ::testing::Values(0, 1, 2, 3, 7)),
    [](const auto& info) {
      return std::get<0>(info.param).name + "_" + std::to_string(std::get<1>(info.param)) + "_assistiti";
    });

/// The page of each golden report, as the program wrote it before its blocks were
/// written out as they are made: the same report must keep giving the same bytes.
TEST(GoldenPages, TheSameReportGivesTheSamePage) {
  ScopedEnv codepage("PIVZONA12_CODEPAGE", "UTF-8");
  TempDir dir;
  const platform::XsltParameters parameters{
      {"dal", "20150101"}, {"al", "20261231"}, {"nominativo", "Mario Rossi"}, {"asl", "ASL 12"}};
  for (const auto& [key, stylesheet] : {std::pair<std::string, std::string>{"diabete", "Diabete_to_HTML.xsl"},
                                        {"tao", "Tao_to_HTML.xsl"},
                                        {"vaccinazioni", "Vac_to_HTML.xsl"}}) {
    SCOPED_TRACE(key);
    const std::string html = dir.dir() + "ZONA12.html";
    ASSERT_EQ(tools::xml2html(std::string(PZ_SOURCE_DIR) + "/xsl/" + stylesheet,
                              std::string(PZ_FIXTURES_DIR) + "/golden_" + key + ".xml", html, parameters),
              "");
    const std::string expected = read_file(fs::path(PZ_FIXTURES_DIR) / ("golden_" + key + ".html"));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(read_file(html), expected);
  }
}

}  // namespace

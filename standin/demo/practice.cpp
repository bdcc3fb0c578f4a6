#include "practice.hpp"

#include <array>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string_view>
#include <variant>
#include <vector>

namespace praxilo_demo {

namespace {

using namespace std::chrono;

// A deterministic source of choices: std::mt19937_64's sequence is fixed by the standard,
// and every draw below is made from its raw output (the standard distributions are not
// the same on every library).
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : engine_(seed) {}
  std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : engine_() % n; }
  int between(int lo, int hi) { return lo + static_cast<int>(below(static_cast<std::uint64_t>(hi - lo + 1))); }
  bool chance(double p) { return static_cast<double>(engine_() >> 11) * 0x1.0p-53 < p; }
  template <typename T, std::size_t N>
  const T& pick(const std::array<T, N>& items) {
    return items[below(N)];
  }

 private:
  std::mt19937_64 engine_;
};

std::string iso(sys_days day) {
  const year_month_day d{day};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(d.year()), static_cast<unsigned>(d.month()),
                static_cast<unsigned>(d.day()));
  return text;
}

std::string iso_time(sys_days day, int seconds_of_day) {
  char text[16];
  std::snprintf(text, sizeof text, " %02d:%02d:%02d", seconds_of_day / 3600, seconds_of_day / 60 % 60,
                seconds_of_day % 60);
  return iso(day) + text;
}

// A value bound to a statement parameter: NULL, text or integer.
using Value = std::variant<std::monostate, std::string, std::int64_t>;

class Insert {
 public:
  Insert(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db));
  }
  ~Insert() { sqlite3_finalize(stmt_); }
  Insert(const Insert&) = delete;
  Insert& operator=(const Insert&) = delete;

  void operator()(std::initializer_list<Value> values) {
    int i = 1;
    for (const Value& v : values) {
      if (const auto* text = std::get_if<std::string>(&v))
        sqlite3_bind_text(stmt_, i, text->c_str(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
      else if (const auto* number = std::get_if<std::int64_t>(&v))
        sqlite3_bind_int64(stmt_, i, *number);
      else
        sqlite3_bind_null(stmt_, i);
      ++i;
    }
    if (sqlite3_step(stmt_) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
    sqlite3_reset(stmt_);
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

struct Comune {
  const char* name;
  const char* istat;
  const char* belfiore;
};

constexpr std::array<Comune, 12> comuni{{{"Roma", "058091", "H501"},
                                         {"Milano", "015146", "F205"},
                                         {"Napoli", "063049", "F839"},
                                         {"Torino", "001272", "L219"},
                                         {"Palermo", "082053", "G273"},
                                         {"Bari", "072006", "A662"},
                                         {"Firenze", "048017", "D612"},
                                         {"Bologna", "037006", "A944"},
                                         {"Forlì", "040012", "D704"},
                                         {"Cantù", "013041", "B639"},
                                         {"Cefalù", "082027", "C421"},
                                         {"Sant'Elia Fiumerapido", "060068", "I321"}}};

constexpr std::array<const char*, 30> surnames{
    "Rossi",    "Russo",    "Ferrari",  "Esposito", "Bianchi",   "Romano",     "Colombo",   "Ricci",
    "Marino",   "Greco",    "Bruno",    "Gallo",    "Conti",     "De Luca",    "Mancini",   "Costa",
    "Giordano", "Lombardi", "Moretti",  "D'Alò",    "D'Angelo",  "Dell'Acqua", "Dell'Orto", "D'Amico",
    "Pitrè",    "Mirò",     "Brugnolò", "Lo Russo", "de Santis", "Sant'Elia"};

constexpr std::array<const char*, 16> male_names{"Niccolò",  "Nicolò",    "Andrea",  "Marco",   "Giuseppe", "Giovanni",
                                                 "Luca",     "Francesco", "Antonio", "Mattia",  "Noè",      "Elia",
                                                 "Gianluca", "Salvatore", "Pietro",  "Gesualdo"};

constexpr std::array<const char*, 16> female_names{
    "Lucia",    "Maria",   "Giulia",       "Chiara",   "Francesca",  "Anna",  "Zoè",     "Noemi",
    "Beatrice", "Rosalìa", "Maria Grazia", "Annalisa", "Giuseppina", "Elisa", "Letizia", "Désirée"};

// The six influenza vaccine codes, and others that the reports leave out.
constexpr std::array<const char*, 6> flu_codes{"0005", "IADV", "IDRM", "ISPL", "ISUB", "IVRS"};
constexpr std::array<const char*, 5> other_vaccines{"PNEU", "DTPA", "HZV ", "COV1", "MENB"};
constexpr std::array<const char*, 6> flu_types{"ANTINFLUENZALE", "Influvac S", "Fluad Tetra",
                                               "Vaxigrip Tetra", "Flucelvax",  "antinfluenzale adiuvato"};

// The incentive codes: diabetes, TAO and others.
constexpr const char* diabetes_incentive = "REG0027";
constexpr const char* tao_incentive = "REG0002";
constexpr std::array<const char*, 4> other_incentives{"REG0001", "REG0010", "REG0031", "REG0045"};

constexpr std::array<const char*, 8> long_memos{"PDTA 2016/0042 gestione integrata",   "Arruolamento progetto diabete",
                                                "GI-DM2-000123 ambulatorio",           "Progetto diabete ASL - rinnovo",
                                                "DM tipo 2 in gestione integrata",     "ARR2019000777 centro diab.",
                                                "Gestione integrata: presa in carico", "Codice 1234567890ABC"};
constexpr std::array<const char*, 5> short_memos{"ARR 12", "GI", "DM2-07", "", "123456789"};

// Letters of a name for the fiscal code: capitals A-Z only, accented vowels as plain ones.
std::string plain_letters(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 'a' && c <= 'z') {
      out += static_cast<char>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
      out += static_cast<char>(c);
    } else if (c == 0xC3 && i + 1 < text.size()) {                           // Latin-1 supplement letters
      const unsigned char d = static_cast<unsigned char>(text[++i]) | 0x20;  // fold to lower case
      if (d >= 0xA0 && d <= 0xA5)
        out += 'A';
      else if (d >= 0xA8 && d <= 0xAB)
        out += 'E';
      else if (d >= 0xAC && d <= 0xAF)
        out += 'I';
      else if (d >= 0xB2 && d <= 0xB6)
        out += 'O';
      else if (d >= 0xB9 && d <= 0xBC)
        out += 'U';
    }
  }
  return out;
}

bool vowel(char c) { return c == 'A' || c == 'E' || c == 'I' || c == 'O' || c == 'U'; }

std::string code_part(const std::string& text, bool is_name) {
  const std::string letters = plain_letters(text);
  std::string consonants, vowels;
  for (char c : letters) (vowel(c) ? vowels : consonants) += c;
  if (is_name && consonants.size() >= 4) return {consonants[0], consonants[2], consonants[3]};
  std::string out = consonants + vowels + "XXX";
  return out.substr(0, 3);
}

}  // namespace

std::string fiscal_code(const std::string& surname, const std::string& name, bool female, year_month_day birth,
                        const std::string& belfiore) {
  static constexpr std::string_view months = "ABCDEHLMPRST";
  char date[8];
  std::snprintf(date, sizeof date, "%02d%c%02u", static_cast<int>(birth.year()) % 100,
                months[static_cast<unsigned>(birth.month()) - 1],
                static_cast<unsigned>(birth.day()) + (female ? 40 : 0));
  std::string code = code_part(surname, false) + code_part(name, true) + date + belfiore;
  static constexpr int odd[26] = {1,  0,  5, 7, 9, 13, 15, 17, 19, 21, 2,  4,  18,
                                  20, 11, 3, 6, 8, 12, 14, 16, 10, 22, 25, 24, 23};
  int sum = 0;
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    const int index = c >= '0' && c <= '9' ? c - '0' : c - 'A';
    sum += i % 2 == 0 ? odd[index] : index;  // positions counted from 1: odd ones first
  }
  code += static_cast<char>('A' + sum % 26);
  return code;
}

namespace {

class Generator {
 public:
  Generator(sqlite3* db, const PracticeOptions& options)
      : options_(options),
        rng_(options.seed),
        first_day_(options.today - days(3652)),
        paziente_(db,
                  "INSERT INTO PAZIENTI (CODICE, COGNOME, NOME, SESSO, CODICE_FISCALE, nascita, codice_comune_nasc,"
                  " DECESSO, PA_CONVENZIONE) VALUES (?,?,?,?,?,?,?,?,?)"),
        nos_(db, "INSERT INTO NOS_002 (CODICE, pa_medi, PA_DREVOCA) VALUES (?,?,?)"),
        concessione_(db, "INSERT INTO CART_CONCESSIONI_PIP (CODICE, incent_code) VALUES (?,?)"),
        accert_(db,
                "INSERT INTO cart_accert (codice, ac_code, ac_val, ac_mem, data_open, time_last)"
                " VALUES (?,?,?,?,?,?)"),
        press_(db, "INSERT INTO cart_press (codice, p_min, p_max, data_open) VALUES (?,?,?,?)"),
        vaccino_(db, "INSERT INTO cart_vaccini (codice, va_tipo, va_code, va_data) VALUES (?,?,?,?)") {}

  void run() {
    for (int code = 1; code <= options_.patients; ++code) patient(code);
  }

 private:
  sys_days random_day(sys_days from, sys_days to) {
    if (to <= from) return from;
    return from + days(rng_.below(static_cast<std::uint64_t>((to - from).count()) + 1));
  }

  void exam(std::int64_t code, const char* ac_code, Value value, sys_days day) {
    accert_(
        {code, std::string(ac_code), std::move(value), Value{}, iso(day), iso_time(day, rng_.between(28800, 68400))});
  }

  // A blank value in one of its forms: blanks, empty text or NULL.
  Value blank() {
    switch (rng_.below(3)) {
      case 0:
        return std::string(" ");
      case 1:
        return std::string();
      default:
        return {};
    }
  }

  // A decimal number as the product records it: with a comma, sometimes with a period.
  std::string decimal(int tenths) {
    const char separator = rng_.chance(0.8) ? ',' : '.';
    return std::to_string(tenths / 10) + separator + std::to_string(tenths % 10);
  }

  void patient(std::int64_t code) {
    const bool female = rng_.chance(0.52);
    const std::string surname = rng_.pick(surnames);
    const std::string name = female ? rng_.pick(female_names) : rng_.pick(male_names);
    const Comune& comune = rng_.pick(comuni);
    const sys_days birth = random_day(options_.today - days(365 * 95), options_.today - days(365 * 18));
    const int age = static_cast<int>((options_.today - birth).count() / 365);
    const std::string cf = fiscal_code(surname, name, female, year_month_day{birth}, comune.belfiore);

    Value death;
    if (rng_.chance(age > 70 ? 0.08 : 0.01)) death = iso(random_day(options_.today - days(5 * 365), options_.today));
    const char* convenzione = rng_.chance(0.95) ? "S" : "N";
    paziente_({code, surname, name, std::string(female ? "F" : "M"), cf, iso(birth), std::string(comune.istat), death,
               std::string(convenzione)});

    // Three doctors share the practice: the demo titolare, the sostituto, the one
    // without a regional code; some registrations are revoked.
    const std::uint64_t d = rng_.below(20);
    const std::int64_t doctor = d < 14 ? 1 : d < 17 ? 2 : 3;
    Value revoked;
    if (rng_.chance(0.05)) revoked = iso(random_day(options_.today - days(5 * 365), options_.today));
    nos_({code, doctor, revoked});

    const bool diabetic = rng_.chance(age > 50 ? 0.35 : 0.08);
    const bool tao = rng_.chance(age > 60 ? 0.12 : 0.02);
    if (diabetic) concessione_({code, std::string(diabetes_incentive)});
    if (tao) concessione_({code, std::string(tao_incentive)});
    if (rng_.chance(0.2)) concessione_({code, std::string(rng_.pick(other_incentives))});

    if (diabetic || rng_.chance(0.03)) enrolment(code, diabetic);
    if (diabetic)
      diabetes_follow_up(code);
    else
      occasional_checks(code);
    if (tao) inr_follow_up(code);
    vaccinations(code, age, diabetic);
  }

  // Records "4250" of the diabetes project, with distinct time_last: mostly ending in
  // state "A"; some later closed or suspended; a few whose older visit was edited last.
  void enrolment(std::int64_t code, bool diabetic) {
    const int records = rng_.between(1, 3);
    sys_days day = random_day(first_day_, options_.today - days(400));
    int seconds = rng_.between(28800, 64800);
    std::vector<std::pair<sys_days, std::string>> rows;
    for (int i = 0; i < records && day <= options_.today; ++i) {
      std::string state = "A";
      if (i == records - 1 && (!diabetic || rng_.chance(0.15))) state = rng_.chance(0.5) ? "C" : "S";
      if (i < records - 1 && rng_.chance(0.2)) state = "S";
      if (rng_.chance(0.03)) state = "a";  // not the state "A": compared exactly
      const std::string memo = rng_.chance(0.6) ? rng_.pick(long_memos) : rng_.pick(short_memos);
      std::string time_last = iso_time(day + days(rng_.between(0, 3)), seconds);
      accert_({code, std::string("4250"), state, memo, iso(day), time_last});
      rows.emplace_back(day, state);
      day = random_day(day + days(30), std::min(day + days(900), options_.today));
      seconds = rng_.between(28800, 64800);
    }
    if (records > 1 && rng_.chance(0.1)) {
      // The first visit's record edited after all others: newest time_last, oldest date.
      accert_({code, std::string("4250"), std::string("A"), std::string("Rettifica arruolamento"), iso(rows[0].first),
               iso_time(options_.today, 70000)});
    }
  }

  void diabetes_follow_up(std::int64_t code) {
    for (sys_days day = random_day(first_day_, first_day_ + days(120)); day <= options_.today;
         day = random_day(day + days(70), day + days(150))) {
      exam(code, "1940", rng_.chance(0.85) ? Value(std::string("Controllo diabetologico")) : blank(), day);
      blood_pressure(code, day);
      if (rng_.chance(0.9)) {
        const int tenths = rng_.between(55, 95);
        Value v = decimal(tenths);
        if (rng_.chance(0.05)) v = "\"" + decimal(tenths) + "\"";  // a value that looks quoted
        if (rng_.chance(0.05)) v = blank();
        exam(code, " 703", v, day);
      }
      if (rng_.chance(0.35)) yearly_exams(code, day);
    }
  }

  void yearly_exams(std::int64_t code, sys_days day) {
    static constexpr std::array<const char*, 5> foot{"N", "N", "n", "P", "\"N\""};
    static constexpr std::array<const char*, 4> fundus{"NRNL", "NRNL", "RDNP", "nrnl"};
    static constexpr std::array<const char*, 6> smoke{"N", "X", "S", "N", "10 sig/die", "ex fumatore"};
    exam(code, "1942", rng_.chance(0.9) ? Value(std::string(rng_.pick(foot))) : blank(), day);
    exam(code, "1534", rng_.chance(0.9) ? Value(std::string(rng_.pick(fundus))) : blank(), day);
    exam(code, rng_.chance(0.5) ? " 731" : "3682", std::to_string(rng_.between(3, 300)), day);
    exam(code, " 618", std::to_string(rng_.between(140, 290)), day);
    exam(code, " 616", std::to_string(rng_.between(30, 90)), day);
    exam(code, " 617", rng_.chance(0.9) ? Value(decimal(rng_.between(600, 2000))) : blank(), day);
    exam(code, " 785", std::to_string(rng_.between(50, 400)), day);
    exam(code, "3560", std::to_string(rng_.between(70, 130)), day);
    exam(code, "2609", decimal(rng_.between(190, 420)), day);
    exam(code, "2832", rng_.chance(0.95) ? Value(std::string(rng_.pick(smoke))) : blank(), day);
    if (rng_.chance(0.1)) exam(code, " 703", decimal(rng_.between(55, 95)), day);  // two on one day
  }

  void blood_pressure(std::int64_t code, sys_days day) {
    Value low = std::to_string(rng_.between(60, 100));
    Value high = std::to_string(rng_.between(110, 180));
    const std::uint64_t r = rng_.below(20);
    if (r == 0) low = blank();   // only the maximum
    if (r == 1) high = blank();  // only the minimum
    if (r == 2) low = high = blank();
    press_({code, low, high, iso(day)});
  }

  void occasional_checks(std::int64_t code) {
    const int visits = rng_.between(0, 6);
    for (int i = 0; i < visits; ++i) {
      const sys_days day = random_day(first_day_, options_.today);
      if (rng_.chance(0.5)) exam(code, "1940", std::string("Visita"), day);
      if (rng_.chance(0.6)) blood_pressure(code, day);
      if (rng_.chance(0.2)) exam(code, " 618", std::to_string(rng_.between(140, 290)), day);
    }
  }

  // INR checks about every four weeks, under either TAO code.
  void inr_follow_up(std::int64_t code) {
    for (sys_days day = random_day(first_day_, options_.today - days(200)); day <= options_.today;
         day = random_day(day + days(14), day + days(42))) {
      Value value = decimal(rng_.between(12, 45));
      if (rng_.chance(0.05)) value = blank();
      exam(code, rng_.chance(0.8) ? " 961" : "2631", value, day);
    }
  }

  void vaccinations(std::int64_t code, int age, bool diabetic) {
    const int today_year = static_cast<int>(year_month_day{options_.today}.year());
    const double p = age >= 65 || diabetic ? 0.65 : 0.12;
    for (int y = today_year - 10; y <= today_year; ++y) {
      if (!rng_.chance(p)) continue;
      const sys_days start = sys_days{year{y} / October / 10};
      const sys_days day = random_day(start, start + days(70));
      if (day > options_.today) continue;
      vaccino_({code, std::string(rng_.pick(flu_types)), std::string(rng_.pick(flu_codes)), iso(day)});
    }
    if (rng_.chance(0.15)) {
      vaccino_({code, std::string("altro vaccino"), std::string(rng_.pick(other_vaccines)),
                iso(random_day(first_day_, options_.today))});
    }
  }

  const PracticeOptions& options_;
  Rng rng_;
  sys_days first_day_;
  Insert paziente_, nos_, concessione_, accert_, press_, vaccino_;
};

// The practice's users: a titolare with a regional code, a sostituto, and a titolare
// whose regional code is blanks. Every password is "demo".
void insert_users_and_options(sqlite3* db) {
  Insert user(db,
              "INSERT INTO utenti (nome_utente, password, userid_utente, tipo_praxi, codice_regionale,"
              " codice_fiscale, nome, cognome, asl_di_convenzione) VALUES (?,?,?,?,?,?,?,?,?)");
  struct Doctor {
    const char* user;
    std::int64_t id;
    const char* kind;
    const char* regional_code;
    const char* name;
    const char* surname;
    year_month_day birth;
    const char* belfiore;
    const char* asl;
  };
  const Doctor doctors[] = {
      {"demo", 1, "T", "90412", "Niccolò", "D'Alò", 1968y / March / 14d, "H501", "ASL Roma 1"},
      {"sostituto", 2, "S", "90588", "Nicolò", "Cantù", 1982y / August / 12d, "B639", "ASL Roma 1"},
      {"senzacodice", 3, "T", "   ", "Noè", "Dell'Orto", 1975y / March / 3d, "D704", "ASL Roma 2"},
  };
  for (const Doctor& d : doctors) {
    user({std::string(d.user), std::string("demo"), d.id, std::string(d.kind), std::string(d.regional_code),
          fiscal_code(d.surname, d.name, false, d.birth, d.belfiore), std::string(d.name), std::string(d.surname),
          std::string(d.asl)});
  }
  Insert option(db, "INSERT INTO opzioni (ambito, percorso, valore) VALUES (?,?,?)");
  option({std::string("macchina"), std::string("OPZIONI\\regione"), std::string("LAZIO")});
  option({std::string("macchina"), std::string("OPZIONI\\asl"), std::string("RM1")});
  option({std::string("studio"), std::string("OPZIONI\\intestazione"), std::string("Studio medico associato Forlì")});
}

bool exec(sqlite3* db, const char* sql, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  return false;
}

}  // namespace

std::string generate_practice(sqlite3* db, const PracticeOptions& options) {
  std::string error;
  if (!exec(db, "BEGIN", error)) return error;
  try {
    insert_users_and_options(db);
    Generator(db, options).run();
  } catch (const std::exception& e) {
    exec(db, "ROLLBACK", error);
    return e.what();
  }
  if (!exec(db, "COMMIT", error)) return error;
  return {};
}

}  // namespace praxilo_demo

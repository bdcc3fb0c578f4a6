#include "extract/extraction.hpp"

std::string sql_date_expression(TDateTime date) {
  return "cast('" + tools::date2string(date, "yyyy-mm-dd") + "' as date)";
}

namespace {

std::string checked(const Tpx_wrap_praxipat& session, std::string answer) {
  if (session.call_failed()) throw ExtractionInterrupted(session.call_failure());
  return answer;
}

}  // namespace

std::string checked_sql_into(Tpx_wrap_praxipat& session, const std::string& database, const std::string& sql) {
  return checked(session, session.sql_into(database, sql));
}

std::string checked_sql_dump_file(Tpx_wrap_praxipat& session, const std::string& database, const std::string& sql) {
  return checked(session, session.sql_dump_file(database, sql));
}

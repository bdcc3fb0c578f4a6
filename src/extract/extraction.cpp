#include "extract/extraction.hpp"

std::string sql_date_expression(TDateTime date) {
  return "cast('" + tools::date2string(date, "yyyy-mm-dd") + "' as date)";
}

namespace {

std::string checked(const Tpx_wrap_praxipat& session, std::string answer) {
  // A start failure alone is no failed call: the call answered.
  if (session.failure() && !session.failed_with(SessionFailure::Kind::start_failed))
    throw platform::Failure(session.failure()->reason);
  return answer;
}

}  // namespace

std::string checked_sql_into(Tpx_wrap_praxipat& session, const std::string& database, const std::string& sql) {
  return checked(session, session.sql_into(database, sql));
}

std::string checked_sql_dump_file(Tpx_wrap_praxipat& session, const std::string& database, const std::string& sql) {
  return checked(session, session.sql_dump_file(database, sql));
}

#include "extract/extraction.hpp"

std::string sql_date_expression(TDateTime date) {
  return "cast('" + tools::date2string(date, "yyyy-mm-dd") + "' as date)";
}

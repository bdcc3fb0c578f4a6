#pragma once
// What a builder and its sections work with: the session, the doctor, the report
// document, the date range and the patient count of the run.
#include <cstdint>
#include <string>

#include "app/host.hpp"
#include "platform/failure.hpp"
#include "records/TUser.hpp"
#include "records/px_wrap_praxipat.hpp"
#include "tools/tools.hpp"
#include "xml/xmldoc.hpp"

/// The report's page, written in the installation folder by every run that has patients.
inline constexpr const char* report_page_name = "ZONA12.html";

struct ExtractionContext {
  Tpx_wrap_praxipat& session;
  const TUser& user;
  platform::XmlDocument& xml_doc;  ///< the report document (the window's XMLDoc)
  TDateTime date_from = 0;         ///< DTDal; only the date part is used
  TDateTime date_to = 0;           ///< DTAl; only the date part is used
  std::int32_t patient_count = 0;  ///< raised once per assistito written
  frontend::Host& host;            ///< receives progress (done of total patients)
};

/// "cast('yyyy-mm-dd' as date)" for the date part of date.
std::string sql_date_expression(TDateTime date);

/// session.sql_into and session.sql_dump_file for a build: the answer, or
/// platform::Failure with the server's reason when the call (or any earlier one since
/// the session's clear_failure) failed, so that a failed call never reads as "no rows".
std::string checked_sql_into(Tpx_wrap_praxipat& session, const std::string& database, const std::string& sql);
std::string checked_sql_dump_file(Tpx_wrap_praxipat& session, const std::string& database, const std::string& sql);

// XML Schema validation on libxml2.
#include "xml/xmlschema.hpp"

#include <memory>

#include <libxml/parser.h>
#include <libxml/xmlschemas.h>

#include "xml/xml_errors.hpp"

namespace platform {

namespace {
struct ParserFree {
  void operator()(xmlSchemaParserCtxt* context) const { xmlSchemaFreeParserCtxt(context); }
};
struct SchemaFree {
  void operator()(xmlSchema* schema) const { xmlSchemaFree(schema); }
};
struct ValidFree {
  void operator()(xmlSchemaValidCtxt* context) const { xmlSchemaFreeValidCtxt(context); }
};

std::string or_reason(const ErrorCollector& errors, const std::string& reason) {
  return errors.text().empty() ? reason : errors.text();
}
}  // namespace

std::optional<std::string> validate_xml_file(const std::string& xml_path, const std::string& xsd_path) {
  xmlInitParser();
  ErrorCollector errors;
  std::unique_ptr<xmlSchemaParserCtxt, ParserFree> parser(xmlSchemaNewParserCtxt(xsd_path.c_str()));
  if (!parser) throw Failure("schema non leggibile: " + xsd_path);
  std::unique_ptr<xmlSchema, SchemaFree> schema(xmlSchemaParse(parser.get()));
  if (!schema) throw Failure(or_reason(errors, "schema non valido: " + xsd_path));
  std::unique_ptr<xmlSchemaValidCtxt, ValidFree> validator(xmlSchemaNewValidCtxt(schema.get()));
  if (!validator) throw Failure("memoria insufficiente per la validazione");
  const int outcome = xmlSchemaValidateFile(validator.get(), xml_path.c_str(), XML_PARSE_NONET);
  if (outcome == 0) return std::nullopt;
  return or_reason(errors, "file non valido: " + xml_path);
}

}  // namespace platform

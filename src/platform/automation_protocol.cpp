#include "platform/automation_protocol.hpp"

#include <nlohmann/json.hpp>

namespace platform::protocol {

using nlohmann::json;

std::string encode_frame(std::string_view payload) {
  const auto n = static_cast<std::uint32_t>(payload.size());
  std::string frame;
  frame.reserve(payload.size() + 4);
  frame.push_back(static_cast<char>((n >> 24) & 0xff));
  frame.push_back(static_cast<char>((n >> 16) & 0xff));
  frame.push_back(static_cast<char>((n >> 8) & 0xff));
  frame.push_back(static_cast<char>(n & 0xff));
  frame.append(payload);
  return frame;
}

namespace {

json encode_variant(const Variant& v) {
  switch (v.kind) {
    case Variant::Kind::empty:
      return {{"kind", "empty"}};
    case Variant::Kind::null:
      return {{"kind", "null"}};
    case Variant::Kind::text:
      return {{"kind", "text"}, {"text", v.text}};
    case Variant::Kind::integer:
      return {{"kind", "integer"}, {"integer", v.integer}};
  }
  return {{"kind", "empty"}};
}

std::optional<Variant> decode_variant(const json& j) {
  if (!j.is_object()) return std::nullopt;
  const auto kind = j.find("kind");
  if (kind == j.end() || !kind->is_string()) return std::nullopt;
  const std::string& k = kind->get_ref<const std::string&>();
  if (k == "empty") return Variant::make_empty();
  if (k == "null") return Variant::make_null();
  if (k == "text") {
    const auto text = j.find("text");
    if (text == j.end() || !text->is_string()) return std::nullopt;
    return Variant::make_text(text->get<std::string>());
  }
  if (k == "integer") {
    const auto value = j.find("integer");
    if (value == j.end() || !value->is_number_integer()) return std::nullopt;
    return Variant::make_integer(value->get<std::int64_t>());
  }
  return std::nullopt;
}

std::string dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

struct TooDeep {};

/// The JSON value of text; discarded (not an object) when it is not well formed or nests
/// deeper than max_nesting_depth. The parse stops at the first container too deep, so a
/// hostile frame costs no more than its bytes.
json parse_message(std::string_view text) {
  const json::parser_callback_t limit = [](int depth, json::parse_event_t event, json&) {
    if ((event == json::parse_event_t::object_start || event == json::parse_event_t::array_start) &&
        depth >= max_nesting_depth)
      throw TooDeep{};
    return true;
  };
  try {
    return json::parse(text, limit, false);
  } catch (const TooDeep&) {
    return json::value_t::discarded;
  }
}

/// The message's id; nullopt when it has none or it is not an unsigned integer.
std::optional<std::uint64_t> message_id(const json& j) {
  const auto id = j.find("id");
  if (id == j.end() || !id->is_number_unsigned()) return std::nullopt;
  return id->get<std::uint64_t>();
}

}  // namespace

std::string encode_request(const Request& request) {
  json args = json::array();
  for (const Argument& a : request.args) {
    if (a.omitted)
      args.push_back({{"omitted", true}});
    else
      args.push_back({{"text", a.text}});
  }
  return dump({{"id", request.id}, {"method", request.method}, {"args", std::move(args)}});
}

std::string encode_response(const Response& response) {
  if (response.ok) return dump({{"id", response.id}, {"ok", true}, {"result", encode_variant(response.result)}});
  return dump({{"id", response.id}, {"ok", false}, {"error", response.error}});
}

std::optional<Request> decode_request(std::string_view text) {
  const json j = parse_message(text);
  if (!j.is_object()) return std::nullopt;
  const auto id = message_id(j);
  const auto method = j.find("method");
  const auto args = j.find("args");
  if (!id || method == j.end() || !method->is_string()) return std::nullopt;
  Request request;
  request.id = *id;
  request.method = method->get<std::string>();
  if (args == j.end()) return request;
  if (!args->is_array()) return std::nullopt;
  for (const json& a : *args) {
    if (!a.is_object()) return std::nullopt;
    const auto omitted = a.find("omitted");
    const auto value = a.find("text");
    if (omitted != a.end() && omitted->is_boolean() && omitted->get<bool>())
      request.args.push_back(Argument::missing());
    else if (value != a.end() && value->is_string())
      request.args.push_back(Argument::of(value->get<std::string>()));
    else
      return std::nullopt;
  }
  return request;
}

std::optional<Response> decode_response(std::string_view text) {
  const json j = parse_message(text);
  if (!j.is_object()) return std::nullopt;
  const auto id = message_id(j);
  const auto ok = j.find("ok");
  if (!id || ok == j.end() || !ok->is_boolean()) return std::nullopt;
  Response response;
  response.id = *id;
  response.ok = ok->get<bool>();
  if (response.ok) {
    const auto result = j.find("result");
    if (result == j.end()) return std::nullopt;
    auto value = decode_variant(*result);
    if (!value) return std::nullopt;
    response.result = std::move(*value);
  } else {
    const auto error = j.find("error");
    if (error == j.end() || !error->is_string()) return std::nullopt;
    response.error = error->get<std::string>();
  }
  return response;
}

std::vector<std::string> split_command_line(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '\\') {
      std::size_t slashes = 0;
      while (i < line.size() && line[i] == '\\') {
        ++slashes;
        ++i;
      }
      in_word = true;
      if (i < line.size() && line[i] == '"') {
        word.append(slashes / 2, '\\');
        if (slashes % 2 == 1) {
          word.push_back('"');
          ++i;
        }
      } else {
        word.append(slashes, '\\');
      }
      continue;
    }
    if (c == '"') {
      in_word = true;
      // Inside quotes, a doubled quote stands for one literal quote.
      if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
        word.push_back('"');
        i += 2;
        continue;
      }
      quoted = !quoted;
      ++i;
      continue;
    }
    if ((c == ' ' || c == '\t') && !quoted) {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
      ++i;
      continue;
    }
    word.push_back(c);
    in_word = true;
    ++i;
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

std::string join_command_line(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    line += '"';
    std::size_t slashes = 0;
    for (char c : word) {
      if (c == '\\') {
        ++slashes;
        continue;
      }
      line.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
      slashes = 0;
      line += c;
    }
    line.append(2 * slashes, '\\');  // the closing quote must stay a quote
    line += '"';
  }
  return line;
}

}  // namespace platform::protocol

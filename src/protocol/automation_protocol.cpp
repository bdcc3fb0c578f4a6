#include "protocol/automation_protocol.hpp"

#include <limits>

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

/// A Variant as the array that holds its value: [] empty, [nil] Null, [text], [integer].
json encode_variant(const Variant& v) {
  switch (v.kind) {
    case Variant::Kind::empty:
      break;
    case Variant::Kind::null:
      return json::array({nullptr});
    case Variant::Kind::text:
      return json::array({v.text});
    case Variant::Kind::integer:
      return json::array({v.integer});
  }
  return json::array();
}

std::string to_bytes(const json& message) {
  std::string bytes;
  json::to_msgpack(message, bytes);
  return bytes;
}

/// A reader of one message's events, which refuses every event but those that stand
/// where the message has them (the readers of the two messages below accept them).
template <typename Message>
class MessageReader : public nlohmann::json_sax<json> {
 public:
  Message message;

  /// The message read; nullopt when the parse failed or the message is not whole.
  std::optional<Message> result(bool parsed) {
    if (!parsed || !complete) return std::nullopt;
    return std::move(message);
  }

  bool null() override { return false; }
  bool boolean(bool) override { return false; }
  bool number_integer(number_integer_t) override { return false; }
  bool number_unsigned(number_unsigned_t) override { return false; }
  bool number_float(number_float_t, const string_t&) override { return false; }
  bool string(string_t&) override { return false; }
  bool binary(binary_t&) override { return false; }
  bool start_object(std::size_t) override { return false; }
  bool key(string_t&) override { return false; }
  bool end_object() override { return false; }
  bool start_array(std::size_t) override { return false; }
  bool end_array() override { return close_array(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 protected:
  /// Where the parse stands: depth 0 outside the message, 1 in its array, 2 in the
  /// array it holds last; item is the position in the message's array.
  int depth = 0;
  int item = 0;
  bool complete = false;

  /// The message's own array, of three items, or (when inner_allowed) its third item's.
  bool open_array(std::size_t length, bool inner_allowed) {
    if (depth == 1 && item == 2 && inner_allowed) {
      depth = 2;
      return true;
    }
    if (depth != 0 || complete || length != 3) return false;
    depth = 1;
    return true;
  }
  bool take_id(std::uint64_t& id, number_unsigned_t value) {
    if (depth != 1 || item != 0) return false;
    id = value;
    ++item;
    return true;
  }
  /// The end of the inner array (the third item) or of the message.
  bool close_array() {
    if (depth == 2) {
      depth = 1;
      ++item;
      return true;
    }
    if (depth != 1 || item != 3) return false;
    depth = 0;
    complete = true;
    return true;
  }
};

/// [id, method, [text | nil, ...]]
class RequestReader : public MessageReader<Request> {
 public:
  bool start_array(std::size_t length) override { return open_array(length, true); }
  bool number_unsigned(number_unsigned_t value) override { return take_id(message.id, value); }
  bool string(string_t& text) override {
    if (depth == 1 && item == 1) {
      message.method = std::move(text);
      ++item;
      return true;
    }
    if (depth != 2) return false;
    message.args.push_back(Argument::of(std::move(text)));
    return true;
  }
  bool null() override {
    if (depth != 2) return false;
    message.args.push_back(Argument::missing());
    return true;
  }
};

/// [id, true, [] | [nil] | [text] | [integer]] or [id, false, error text]
class ResponseReader : public MessageReader<Response> {
 public:
  bool start_array(std::size_t length) override {
    if (!open_array(length, message.ok && length <= 1)) return false;
    if (depth == 2) message.result = Variant::make_empty();
    return true;
  }
  bool number_unsigned(number_unsigned_t value) override {
    if (depth == 2) {
      if (value > static_cast<number_unsigned_t>(std::numeric_limits<std::int64_t>::max())) return false;
      return number_integer(static_cast<number_integer_t>(value));
    }
    return take_id(message.id, value);
  }
  bool number_integer(number_integer_t value) override {
    if (!value_expected()) return false;
    message.result = Variant::make_integer(value);
    return true;
  }
  bool boolean(bool ok) override {
    if (depth != 1 || item != 1) return false;
    message.ok = ok;
    ++item;
    return true;
  }
  bool string(string_t& text) override {
    if (depth == 1 && item == 2 && !message.ok) {
      message.error = std::move(text);
      ++item;
      return true;
    }
    if (!value_expected()) return false;
    message.result = Variant::make_text(std::move(text));
    return true;
  }
  bool null() override {
    if (!value_expected()) return false;
    message.result = Variant::make_null();
    return true;
  }

 private:
  /// In the result's array, before its one value.
  bool value_expected() const { return depth == 2 && message.result.kind == Variant::Kind::empty; }
};

template <typename Reader>
auto decode(std::string_view bytes) {
  Reader reader;
  const bool parsed = json::sax_parse(bytes.begin(), bytes.end(), &reader, json::input_format_t::msgpack, true);
  return reader.result(parsed);
}

}  // namespace

std::string encode_request(const Request& request) {
  json args = json::array();
  for (const Argument& a : request.args) {
    if (a.omitted)
      args.push_back(nullptr);
    else
      args.push_back(a.text);
  }
  return to_bytes(json::array({request.id, request.method, std::move(args)}));
}

std::string encode_response(const Response& response) {
  if (response.ok) return to_bytes(json::array({response.id, true, encode_variant(response.result)}));
  return to_bytes(json::array({response.id, false, response.error}));
}

std::optional<Request> decode_request(std::string_view bytes) { return decode<RequestReader>(bytes); }

std::optional<Response> decode_response(std::string_view bytes) { return decode<ResponseReader>(bytes); }

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

#include "outside/zabbix/zabbix_request.hpp"

#include <nlohmann/json.hpp>

#include "console/value_text.hpp"
#include "core/failure.hpp"

namespace sonda {

namespace {

using Json = nlohmann::ordered_json;

Json wire_value(const FieldValue& value) {
  struct Visitor {
    Json operator()(const Absent&) const { return nullptr; }
    Json operator()(std::int64_t v) const { return value_text(v); }
    Json operator()(double v) const { return real_text(v); }
    Json operator()(std::string_view v) const { return std::string(v); }
    Json operator()(DateTime) const {
      throw InternalError("uma data não tem forma de valor do Zabbix");
    }
  };
  return std::visit(Visitor{}, value);
}

void add_item(Json& data, std::string_view host, std::string_view key, Json&& value) {
  Json& item = data.emplace_back();
  item["host"] = std::string(host);
  item["key"] = std::string(key);
  item["value"] = std::move(value);
}

// A JSON text as nlohmann's dump() writes it, with bytes that are not UTF-8 replaced.
std::string json_text(const Json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string dumped(Json&& data) {
  Json request;
  request["request"] = "sender data";
  request["data"] = std::move(data);
  return json_text(request);
}

constexpr char kHex[] = "0123456789abcdef";

}  // namespace

std::string sender_data_body(std::string_view host, std::span<const ZabbixItemValue> values) {
  Json data = Json::array();
  for (const ZabbixItemValue& item : values) add_item(data, host, item.key, wire_value(item.value));
  return dumped(std::move(data));
}

std::string sender_data_body(std::string_view host, std::string_view key, std::string&& text) {
  Json data = Json::array();
  add_item(data, host, key, Json(std::move(text)));
  return dumped(std::move(data));
}

SenderTextRequest::SenderTextRequest(std::string_view host, std::string_view key) : key_(key) {
  // The members before the value's text, as the whole body's dump() writes them.
  add(R"({"request":"sender data","data":[{"host":)");
  add(json_text(std::string(host)));
  add(R"(,"key":)");
  add(json_text(key_));
  add(R"(,"value":")");
}

void SenderTextRequest::add(std::string_view bytes) {
  try {
    frame_.append(bytes);
  } catch (const ZabbixFrameError& error) {
    throw ZabbixError("o envio de " + key_ + " ao servidor Zabbix: " + error.what());
  }
}

void SenderTextRequest::append(std::string_view text) {
  // dump()'s escaping of an ASCII string: the quote, the backslash and control characters.
  escaped_.clear();
  for (const char c : text) {
    switch (c) {
      case '"':
        escaped_ += "\\\"";
        break;
      case '\\':
        escaped_ += "\\\\";
        break;
      case '\b':
        escaped_ += "\\b";
        break;
      case '\t':
        escaped_ += "\\t";
        break;
      case '\n':
        escaped_ += "\\n";
        break;
      case '\f':
        escaped_ += "\\f";
        break;
      case '\r':
        escaped_ += "\\r";
        break;
      default: {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) throw InternalError("texto de envio ao Zabbix fora do ASCII");
        if (byte < 0x20) {
          escaped_ += "\\u00";
          escaped_.push_back(kHex[byte >> 4]);
          escaped_.push_back(kHex[byte & 0xF]);
        } else {
          escaped_.push_back(c);
        }
      }
    }
  }
  add(escaped_);
}

ZabbixFrame SenderTextRequest::finish() {
  add(R"("}]})");
  try {
    return frame_.finish();
  } catch (const ZabbixFrameError& error) {
    throw ZabbixError("o envio de " + key_ + " ao servidor Zabbix: " + error.what());
  }
}

}  // namespace sonda

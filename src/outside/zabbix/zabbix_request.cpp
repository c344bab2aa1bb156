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
    fail(error);
  }
}

void SenderTextRequest::fail(const ZabbixFrameError& error) const {
  throw ZabbixError("o envio de " + key_ + " ao servidor Zabbix: " + error.what());
}

void SenderTextRequest::append(std::string_view text) {
  // Only ASCII escapes piece by piece as it does whole: a piece could end inside a character.
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      throw InternalError("texto de envio ao Zabbix fora do ASCII");
    }
  }
  // dump()'s own escaping, without the quotes around the string.
  const std::string quoted = json_text(std::string(text));
  add(std::string_view(quoted).substr(1, quoted.size() - 2));
}

ZabbixFrame SenderTextRequest::finish() {
  add(R"("}]})");
  try {
    return frame_.finish();
  } catch (const ZabbixFrameError& error) {
    fail(error);
  }
}

}  // namespace sonda

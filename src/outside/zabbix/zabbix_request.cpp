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

std::string dumped(Json&& data) {
  Json request;
  request["request"] = "sender data";
  request["data"] = std::move(data);
  return request.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
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

}  // namespace sonda

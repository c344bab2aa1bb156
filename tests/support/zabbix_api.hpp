#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace sonda::test {

// The Zabbix server of the tests, its configuration and its frontend's JSON-RPC API.
struct ZabbixServer {
  std::string address, conf, host, api;
};
const ZabbixServer& zabbix_server();

// A logged-in session of the Zabbix API (as Admin).
class ZabbixApi {
 public:
  ZabbixApi();
  // Calls `method` and returns its result; raises std::runtime_error with the API's error.
  nlohmann::json call(const std::string& method, const nlohmann::json& params);

 private:
  std::string token_;
};

// Reloads the Zabbix server's configuration cache and waits until the trapper item `key` of
// `host` takes values sent unencrypted (the value sent to find out is `value`), or with
// `taken` false until it refuses them. Wait on the item created last: a sync between two API
// calls can hold the first item and not yet the rest.
void reload_zabbix_configuration(const std::string& host, const std::string& key,
                                 const std::string& value = "0", bool taken = true);

}  // namespace sonda::test

#pragma once

#include <array>
#include <string>

#include <nlohmann/json.hpp>

namespace sonda::test {

// A Zabbix server of the tests: its trapper, its configuration, the command that sends it
// runtime control (-R), the host of tests/fixtures/zabbix_host.sql, its frontend's JSON-RPC API,
// its database and the folder where its external checks' background runs write their logs.
struct ZabbixServer {
  std::string version;  // "6.0" or "7.0"
  std::string address, conf, control, host, api, database, log_dir;
};

// The servers the end-to-end Zabbix tests run against, by version, for test parameters: they
// are named at test discovery, when the servers' descriptions are not read yet.
inline const std::array<std::string, 2> kZabbixVersions = {"6.0", "7.0"};

// The server of `version` ("6.0": Debian 12's, "7.0": Debian 13's Zabbix 7.0 LTS), as
// build/test-servers.env describes it.
const ZabbixServer& zabbix_server(const std::string& version = "6.0");

// A test name part for a version: "6.0" -> "Zabbix6_0".
std::string zabbix_version_name(const std::string& version);

// A logged-in session of a server's Zabbix API (as Admin).
class ZabbixApi {
 public:
  explicit ZabbixApi(const ZabbixServer& server = zabbix_server());
  // Calls `method` and returns its result; raises std::runtime_error with the API's error.
  nlohmann::json call(const std::string& method, const nlohmann::json& params);
  // The API's version ("6.0.14", "7.0.22").
  const std::string& version() const { return version_; }
  // The server whose API this is.
  const ZabbixServer& server() const { return server_; }

 private:
  const ZabbixServer& server_;
  std::string url_, token_, version_;
};

// Reloads the Zabbix server's configuration cache and waits until the trapper item `key` of
// `host` takes values sent unencrypted (the value sent to find out is `value`), or with `taken`
// false until it refuses them. Wait on the item created last: a sync between two API calls can
// hold the first item and not yet the rest.
void reload_zabbix_configuration(const ZabbixServer& server, const std::string& host,
                                 const std::string& key, const std::string& value = "0",
                                 bool taken = true);

// Sends one value to the trapper at `address` and returns the whole answer's JSON.
nlohmann::json trapper_answer(const std::string& address, const std::string& host,
                              const std::string& key, const std::string& value);

}  // namespace sonda::test

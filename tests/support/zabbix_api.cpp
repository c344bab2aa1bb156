#include "support/zabbix_api.hpp"

#include <stdexcept>

#include "outside/http_client.hpp"
#include "support/process.hpp"
#include "support/servers.hpp"

namespace sonda::test {

const ZabbixServer& zabbix_server() {
  static const ZabbixServer server{
      server_setting("SONDA_TEST_ZBX_SERVER"), server_setting("SONDA_TEST_ZBX_CONF"),
      server_setting("SONDA_TEST_ZBX_HOST"), server_setting("SONDA_TEST_ZBX_API")};
  return server;
}

ZabbixApi::ZabbixApi() {
  token_ = call("user.login", {{"username", "Admin"}, {"password", "zabbix"}}).get<std::string>();
}

nlohmann::json ZabbixApi::call(const std::string& method, const nlohmann::json& params) {
  nlohmann::json request = {{"jsonrpc", "2.0"}, {"method", method}, {"params", params}, {"id", 1}};
  if (!token_.empty()) request["auth"] = token_;
  const std::string body = request.dump();
  HttpClient http;
  HttpPost post;
  post.url = zabbix_server().api;
  post.body = body;
  post.content_type = "application/json-rpc";
  post.timeout = std::chrono::seconds(60);
  const HttpOutcome outcome = http.post(post);
  if (!outcome.answered || outcome.status != 200) {
    throw std::runtime_error("Zabbix API " + method + ": " + outcome.failure + " " +
                             std::to_string(outcome.status) + " " + outcome.body);
  }
  const auto answer = nlohmann::json::parse(outcome.body);
  if (answer.contains("error")) {
    throw std::runtime_error("Zabbix API " + method + ": " + answer["error"].dump());
  }
  return answer["result"];
}

void reload_zabbix_configuration() {
  const auto result = run_process("/usr/sbin/zabbix_server",
                                  {"-c", zabbix_server().conf, "-R", "config_cache_reload"});
  if (result.status != 0) throw std::runtime_error("config_cache_reload: " + result.err);
}

}  // namespace sonda::test

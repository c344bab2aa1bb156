#include "support/zabbix_api.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "core/host_port.hpp"
#include "core/unique_fd.hpp"
#include "outside/questdb/http_client.hpp"
#include "outside/zabbix/zabbix_sender.hpp"
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

namespace {

// Sends one value to the trapper and returns the answer's "info" text ("processed: 1; ...").
std::string trapper_info(const std::string& host, const std::string& key,
                         const std::string& value) {
  const auto address = parse_host_port(zabbix_server().address, kZabbixTrapperPort);
  if (!address) throw std::runtime_error("bad Zabbix address " + zabbix_server().address);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(address->port);
  if (inet_pton(AF_INET, address->host.c_str(), &peer.sin_addr) != 1) {
    throw std::runtime_error("the test Zabbix server is not at an IPv4 address");
  }
  const UniqueFd socket(::socket(AF_INET, SOCK_STREAM, 0));
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    throw std::runtime_error("cannot connect to the test Zabbix server");
  }
  const std::string frame = sender_data_frame(host, key, std::string_view(value));
  if (::send(socket.get(), frame.data(), frame.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(frame.size())) {
    throw std::runtime_error("cannot send to the test Zabbix server");
  }
  std::string answer;
  char chunk[4096];
  for (ssize_t got; (got = ::recv(socket.get(), chunk, sizeof chunk, 0)) > 0;) {
    answer.append(chunk, static_cast<std::size_t>(got));
  }
  constexpr std::size_t kHeader = 13;  // "ZBXD", flags, length, reserved
  if (answer.size() <= kHeader) return "";
  return nlohmann::json::parse(answer.substr(kHeader)).value("info", "");
}

}  // namespace

void reload_zabbix_configuration(const std::string& host, const std::string& key,
                                 const std::string& value, bool taken) {
  const auto result = run_process("/usr/sbin/zabbix_server",
                                  {"-c", zabbix_server().conf, "-R", "config_cache_reload"});
  if (result.status != 0) throw std::runtime_error("config_cache_reload: " + result.err);
  // The reload runs in the background and says nothing when it is done; the trapper taking a
  // value for the item is the sign.
  for (int i = 0; i < 200; ++i) {
    if (trapper_info(host, key, value).starts_with(taken ? "processed: 1;" : "processed: 0;")) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  throw std::runtime_error(std::string("the Zabbix server never ") +
                           (taken ? "took " : "refused ") + key + " of " + host);
}

}  // namespace sonda::test

#include "support/zabbix_api.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "core/host_port.hpp"
#include "core/unique_fd.hpp"
#include "outside/questdb/http_client.hpp"
#include "outside/zabbix/zabbix_settings.hpp"
#include "support/fake_zabbix.hpp"
#include "support/process.hpp"
#include "support/servers.hpp"

namespace sonda::test {

const ZabbixServer& zabbix_server(const std::string& version) {
  const auto described = [](const std::string& version, const std::string& prefix) {
    const auto setting = [&](const std::string& name) { return server_setting(prefix + name); };
    return ZabbixServer{
        version,
        setting("SERVER"),
        setting("CONF"),
        setting("CONTROL"),
        server_setting("SONDA_TEST_ZBX_HOST"),
        setting("API"),
        setting("DATABASE"),
        version == "6.0" ? server_setting("SONDA_TEST_LOG_DIR") : setting("LOG_DIR")};
  };
  if (version == "6.0") {
    static const ZabbixServer server = described(version, "SONDA_TEST_ZBX_");
    return server;
  }
  if (version == "7.0") {
    static const ZabbixServer server = described(version, "SONDA_TEST_ZBX7_");
    return server;
  }
  throw std::runtime_error("no test Zabbix server of version " + version);
}

std::string zabbix_version_name(const std::string& version) {
  std::string name = "Zabbix" + version;
  std::replace(name.begin(), name.end(), '.', '_');
  return name;
}

ZabbixApi::ZabbixApi(const ZabbixServer& server) : server_(server), url_(server.api) {
  version_ = call("apiinfo.version", nlohmann::json::array()).get<std::string>();
  token_ = call("user.login", {{"username", "Admin"}, {"password", "zabbix"}}).get<std::string>();
}

nlohmann::json ZabbixApi::call(const std::string& method, const nlohmann::json& params) {
  nlohmann::json request = {{"jsonrpc", "2.0"}, {"method", method}, {"params", params}, {"id", 1}};
  if (!token_.empty()) request["auth"] = token_;
  const std::string body = request.dump();
  HttpClient http;
  HttpPost post;
  post.url = url_;
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
std::string trapper_info(const std::string& address, const std::string& host,
                         const std::string& key, const std::string& value) {
  const auto answer = trapper_answer(address, host, key, value);
  return answer.is_object() ? answer.value("info", "") : "";
}

}  // namespace

nlohmann::json trapper_answer(const std::string& address_text, const std::string& host,
                              const std::string& key, const std::string& value) {
  const auto address = parse_host_port(address_text, kZabbixTrapperPort);
  if (!address) throw std::runtime_error("bad Zabbix address " + address_text);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(address->port);
  if (inet_pton(AF_INET, address->host.c_str(), &peer.sin_addr) != 1) {
    throw std::runtime_error("the test Zabbix server is not at an IPv4 address");
  }
  const UniqueFd socket(::socket(AF_INET, SOCK_STREAM, 0));
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    throw std::runtime_error("cannot connect to the test Zabbix server at " + address_text);
  }
  const std::string frame = sender_data_frame(host, key, std::string_view(value));
  if (::send(socket.get(), frame.data(), frame.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(frame.size())) {
    throw std::runtime_error("cannot send to the test Zabbix server at " + address_text);
  }
  std::string answer;
  char chunk[4096];
  for (ssize_t got; (got = ::recv(socket.get(), chunk, sizeof chunk, 0)) > 0;) {
    answer.append(chunk, static_cast<std::size_t>(got));
  }
  constexpr std::size_t kHeader = 13;  // "ZBXD", flags, length, reserved
  if (answer.size() <= kHeader) return nullptr;
  return nlohmann::json::parse(answer.substr(kHeader));
}

void reload_zabbix_configuration(const ZabbixServer& server, const std::string& host,
                                 const std::string& key, const std::string& value, bool taken) {
  const auto result = run_process(server.control, {"-c", server.conf, "-R", "config_cache_reload"});
  if (result.status != 0) throw std::runtime_error("config_cache_reload: " + result.err);
  // The reload runs in the background and says nothing when it is done; the trapper taking a
  // value for the item is the sign.
  for (int i = 0; i < 200; ++i) {
    if (trapper_info(server.address, host, key, value)
            .starts_with(taken ? "processed: 1;" : "processed: 0;")) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  throw std::runtime_error("the Zabbix " + server.version + " server never " +
                           (taken ? "took " : "refused ") + key + " of " + host);
}

}  // namespace sonda::test

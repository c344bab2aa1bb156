// What an operator meets when the database is wrong or slow, through the real binary.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "outside/unique_fd.hpp"
#include "support/fake_server.hpp"
#include "support/fake_zabbix.hpp"
#include "support/process.hpp"
#include "support/servers.hpp"
#include "support/temp_dir.hpp"

namespace sonda::test {
namespace {

using namespace std::chrono_literals;

const std::string kTimeout2 =
    "Tempo limite de execução excedido: a execução passou de 2 segundos e foi interrompida.\n";

ProcessOptions options_with(const FakeZabbix& trapper, const std::string& limit = "") {
  ProcessOptions options;
  options.env["SONDA_ZABBIX_SERVER"] = trapper.address();
  if (!limit.empty()) options.env["SONDA_TEST_RUNTIME_LIMIT"] = limit;
  return options;
}

TEST(ProbeFailures, DatabaseProblemsAreDiagnosedWithoutThePassword) {
  FakeZabbix trapper;
  const std::string secret = "segredo-nao-mostrar";
  const std::pair<std::map<int, std::string>, std::string> cases[] = {
      {{{7, secret}}, "password authentication failed for user \"sonda\""},
      {{{5, "banco_que_nao_existe"}}, "database \"banco_que_nao_existe\" does not exist"},
      {{{4, std::to_string(closed_port())}}, "Connection refused"},
  };
  for (const auto& [overrides, expected] : cases) {
    RunSettings settings = fixture_settings();
    settings.db_password.assign(secret);
    for (const auto& [position, value] : overrides) {
      if (position == 4) settings.db_port.assign(value);
      if (position == 5) settings.db_name.assign(value);
    }
    if (!overrides.contains(7)) settings.db_password.assign(pg_server().password);
    const auto result = run_probe(full_form_arguments(settings), options_with(trapper));
    EXPECT_EQ(result.status, 1) << expected;
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(result.err.starts_with(
        "sonda-cobranca: erro inesperado: DatabaseError: não foi possível conectar ao PostgreSQL"))
        << result.err;
    EXPECT_NE(result.err.find(expected), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find(secret), std::string::npos);
    EXPECT_EQ(result.err.find(pg_server().password), std::string::npos);
  }
  EXPECT_EQ(trapper.connections(), 0);
}

// Settings whose database accepts the connection and never answers.
RunSettings with_silent_database(const FakeServer& silent) {
  RunSettings settings = fixture_settings();
  settings.db_port.assign(std::to_string(silent.port()));
  return settings;
}

TEST(ProbeFailures, DatabaseThatNeverAnswersEndsAtTheLimitWithStatusZero) {
  FakeServer silent(hold_silently);
  FakeZabbix trapper;
  RunSettings settings = with_silent_database(silent);
  settings.zabbix_host.assign("qualquer");
  const auto result = run_probe(full_form_arguments(settings), options_with(trapper, "2"));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kTimeout2);
  EXPECT_EQ(result.err, "");
  EXPECT_GE(result.elapsed, 2s);
  EXPECT_LT(result.elapsed, 3s);
  EXPECT_EQ(trapper.connections(), 0);

  ProcessOptions full = options_with(trapper, "1");
  full.stdout_path = "/dev/full";
  EXPECT_EQ(run_probe(full_form_arguments(settings), full).status, 2);
}

TEST(ProbeFailures, PasswordsAreGoneFromTheProcessArguments) {
  FakeServer silent(hold_silently);
  FakeZabbix trapper;
  RunSettings settings = with_silent_database(silent);
  settings.db_password.assign("senha-do-banco");
  settings.quest_db_password.assign("senha-do-quest");
  settings.quest_db_password_chat.assign("senha-do-chat");
  const auto probe = start_probe(full_form_arguments(settings), options_with(trapper, "2"));
  std::string cmdline;
  for (int i = 0; i < 50 && silent.connections() == 0; ++i) std::this_thread::sleep_for(20ms);
  cmdline = read_file("/proc/" + std::to_string(probe->pid()) + "/cmdline");
  probe->wait();
  EXPECT_NE(cmdline.find("discovery_clientes"), std::string::npos);
  EXPECT_NE(cmdline.find(pg_server().user), std::string::npos);
  EXPECT_EQ(cmdline.find("senha-do-"), std::string::npos);
}

TEST(ProbeFailures, LaunchReturnsAtOnceWhileTheBackgroundRunGoesOn) {
  FakeServer silent(hold_silently);
  FakeZabbix trapper;
  TempDir logs;
  RunSettings settings = with_silent_database(silent);
  settings.mode = "launch_discovery_clientes";
  settings.zabbix_host.assign("fundo");
  ProcessOptions options = options_with(trapper, "2");
  options.env["SONDA_LOG_DIR"] = logs.path().string();
  const auto result = run_probe(full_form_arguments(settings), options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out + result.err, "");
  // Nothing of the background run holds the launcher's output open.
  EXPECT_LT(result.elapsed, 1s);

  const auto log = logs.path() / "sonda-cobranca-fundo-discovery_clientes.log";
  std::string content;
  for (int i = 0; i < 100 && content.find("status 0") == std::string::npos; ++i) {
    std::this_thread::sleep_for(50ms);
    content = read_file(log);
  }
  EXPECT_NE(content.find(kTimeout2), std::string::npos) << content;
  EXPECT_NE(content.find("fim de \"discovery_clientes\" para fundo: status 0"), std::string::npos);
}

// A name server that takes queries and never answers, at a loopback address of its own.
constexpr const char* kSilentNameServer = "127.83.83.83";

UniqueFd silent_name_server() {
  UniqueFd socket(::socket(AF_INET, SOCK_DGRAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(53);
  ::inet_pton(AF_INET, kSilentNameServer, &address.sin_addr);
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    socket.reset();
  }
  return socket;
}

TEST(ProbeFailures, ZabbixNameServerThatNeverAnswersEndsAtTheLimit) {
  // The probe runs in a mount namespace of its own, where /etc/resolv.conf names the silent
  // server and lets each query wait for half a minute.
  const UniqueFd name_server = silent_name_server();
  if (!name_server || run_process("/usr/bin/unshare", {"--mount", "true"}).status != 0) {
    GTEST_SKIP() << "needs root: a name server on port 53 and a mount namespace";
  }
  TempDir files;
  const std::string resolv_conf = files.write(
      "resolv.conf", std::string("nameserver ") + kSilentNameServer + "\noptions timeout:30\n");
  RunSettings settings = fixture_settings();
  settings.zabbix_host.assign("qualquer");
  std::vector<std::string> arguments = {
      "--mount",   "sh",        "-c", "mount --bind \"$0\" /etc/resolv.conf && exec \"$@\"",
      resolv_conf, probe_path()};
  for (const std::string& argument : full_form_arguments(settings)) arguments.push_back(argument);
  ProcessOptions options;
  options.env["SONDA_ZABBIX_SERVER"] = "zabbix.sonda-teste.invalid:10051";
  options.env["SONDA_TEST_RUNTIME_LIMIT"] = "2";

  const auto result = run_process("/usr/bin/unshare", arguments, options);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, kTimeout2);
  EXPECT_EQ(result.err, "");
  EXPECT_LT(result.elapsed, 3s);  // at the limit, not by the backstop two seconds later
}

}  // namespace
}  // namespace sonda::test

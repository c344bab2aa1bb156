// What an operator meets when the database is wrong or slow, through the real binary.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>
#include <net/if.h>

#include "app/run_settings.hpp"
#include "core/unique_fd.hpp"
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

// In the child about to become the probe: a user, network and mount namespace of its own (no
// root needed), its loopback up with a name server at 127.0.0.1:53 that takes queries and never
// answers (a bound socket that nobody reads, which the probe inherits), and `resolv_conf` in
// place of /etc/resolv.conf. The database stays within reach through its Unix socket.
void enter_silent_resolver(const std::string& resolv_conf) {
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  auto put = [](const char* path, const std::string& text) {
    const UniqueFd fd(::open(path, O_WRONLY));
    return fd && ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
  };
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWNS) != 0) ::_exit(125);
  if (!put("/proc/self/setgroups", "deny") ||
      !put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
      !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
    ::_exit(125);
  }
  const int name_server = ::socket(AF_INET, SOCK_DGRAM, 0);
  ifreq loopback{};
  std::strcpy(loopback.ifr_name, "lo");
  if (::ioctl(name_server, SIOCGIFFLAGS, &loopback) != 0) ::_exit(125);
  loopback.ifr_flags = static_cast<short>(loopback.ifr_flags | IFF_UP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(53);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::ioctl(name_server, SIOCSIFFLAGS, &loopback) != 0 ||
      ::bind(name_server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount(resolv_conf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) {
    ::_exit(125);
  }
}

TEST(ProbeFailures, ZabbixNameServerThatNeverAnswersEndsAtTheLimit) {
  TempDir files;
  const std::string resolv_conf =
      files.write("resolv.conf", "nameserver 127.0.0.1\noptions timeout:30\n");
  RunSettings settings = fixture_settings();
  settings.db_ip.assign(server_setting("SONDA_TEST_PG_SOCKET_DIR"));
  settings.zabbix_host.assign("qualquer");
  ProcessOptions options;
  options.env["SONDA_ZABBIX_SERVER"] = "zabbix.sonda-teste.invalid:10051";
  options.env["SONDA_TEST_RUNTIME_LIMIT"] = "2";
  options.prepare_child = [&] { enter_silent_resolver(resolv_conf); };

  const auto result = run_probe(full_form_arguments(settings), options);
  if (result.status == 125) GTEST_SKIP() << "this system allows no user namespaces";
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, kTimeout2);
  EXPECT_EQ(result.err, "");
  EXPECT_LT(result.elapsed, 3s);  // at the limit, not by the backstop two seconds later
}

}  // namespace
}  // namespace sonda::test

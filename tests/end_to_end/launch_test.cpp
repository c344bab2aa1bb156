#include "app/launch.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "support/fake_server.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

namespace sonda::test {
namespace {

using namespace std::chrono_literals;

TEST(Launch, ModeIsTheTextAfterTheFirstMarker) {
  EXPECT_EQ(launched_mode("launch_discovery_clientes"), "discovery_clientes");
  EXPECT_EQ(launched_mode("xlaunch_launch_y"), "launch_y");
  EXPECT_EQ(launched_mode("discovery_launch_"), "");
}

TEST(Launch, LogFileNameCannotLeaveItsFolder) {
  EXPECT_EQ(launch_log_path("/var/tmp/logs", "../../etc/passwd", "discovery_clientes"),
            "/var/tmp/logs/sonda-cobranca-.._.._etc_passwd-discovery_clientes.log");
  EXPECT_EQ(launch_log_path("/var/tmp/logs", "..", ""), "/var/tmp/logs/sonda-cobranca-_..-_.log");
}

// Waits until the file holds `text`, for at most ten seconds.
std::string wait_for(const std::filesystem::path& file, const std::string& text) {
  std::string content;
  for (int i = 0; i < 200 && content.find(text) == std::string::npos; ++i) {
    std::this_thread::sleep_for(50ms);
    content = read_file(file);
  }
  return content;
}

TEST(Launch, StartsADetachedRunWhoseOutputGoesToItsLog) {
  TempDir logs;
  ProcessOptions options;
  options.env["SONDA_LOG_DIR"] = logs.path().string();
  options.env["SONDA_ZABBIX_SERVER"] = "127.0.0.1";
  options.env["SONDA_ZABBIX_BATCH"] = "abc";  // no concern of the launcher, nor of "version"
  options.argv0 = "./probe";
  const auto result = run_probe(full_arguments("xlaunch_version", {{17, "host 1"}}), options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");

  const auto log = logs.path() / "sonda-cobranca-host_1-version.log";
  const std::string content = wait_for(log, "status 0");
  EXPECT_NE(content.find("início de \"version\" para host 1"), std::string::npos) << content;
  EXPECT_NE(content.find(" probe  2.3.0\n"), std::string::npos) << content;
  EXPECT_NE(content.find("fim de \"version\" para host 1: status 0"), std::string::npos);
  EXPECT_EQ(content.find("senha"), std::string::npos);
  EXPECT_EQ(std::filesystem::status(log).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(Launch, UnwritableLogFolderIsAnUnexpectedFailure) {
  ProcessOptions options;
  options.env["SONDA_LOG_DIR"] = "/nonexistent/folder";
  options.env["SONDA_ZABBIX_SERVER"] = "127.0.0.1";
  const auto result = run_probe(full_arguments("launch_version"), options);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("LaunchError: não foi possível abrir o registro /nonexistent/folder/"),
            std::string::npos)
      << result.err;
}

// A PostgreSQL server that takes the startup message and the password of the first connection,
// then never answers: a background run that reaches it stays there until its time limit.
class HangingDatabase {
 public:
  HangingDatabase()
      : server_([this](int fd, const std::atomic<bool>& stopping) { serve(fd, stopping); }) {}

  std::string port() const { return std::to_string(server_.port()); }
  // The startup message and the password message, as received.
  std::string seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
  }

 private:
  void serve(int fd, const std::atomic<bool>& stopping) {
    for (;;) {
      std::string head;
      if (!read_exactly(fd, 8, head, stopping)) return;
      const auto byte = [&](int i) { return static_cast<unsigned char>(head[i]); };
      const std::uint32_t length = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
      const std::uint32_t code = byte(4) << 24 | byte(5) << 16 | byte(6) << 8 | byte(7);
      if (length == 8 && (code == 80877103 || code == 80877104)) {  // SSL or GSS encryption
        write_all_to(fd, "N");
        continue;
      }
      std::string startup;
      if (!read_exactly(fd, length - 8, startup, stopping)) return;
      write_all_to(fd, std::string("R\0\0\0\x08\0\0\0\x03", 9));  // a clear-text password, please
      std::string password;
      if (read_exactly(fd, 5, password, stopping)) {
        const auto at = [&](int i) { return static_cast<unsigned char>(password[i]); };
        const std::uint32_t size = at(1) << 24 | at(2) << 16 | at(3) << 8 | at(4);
        std::string body;
        read_exactly(fd, size - 4, body, stopping);
        password += body;
      }
      {
        std::lock_guard lock(mutex_);
        seen_ = startup + password;
      }
      hold_silently(fd, stopping);
      return;
    }
  }

  mutable std::mutex mutex_;
  std::string seen_;
  FakeServer server_;
};

struct Launched {
  TempDir logs;
  HangingDatabase database;
  ProcessOptions options;
  std::vector<std::string> arguments;
  std::filesystem::path log;

  Launched() {
    options.env["SONDA_LOG_DIR"] = logs.path().string();
    options.env["SONDA_ZABBIX_SERVER"] = "127.0.0.1";
    options.env["SONDA_TEST_RUNTIME_LIMIT"] = "20";
    arguments = full_arguments("launch_discovery_clientes", {{4, database.port()}});
    log = logs.path() / "sonda-cobranca-zabbix-host-discovery_clientes.log";
  }
  ProcessResult launch() const { return run_probe(arguments, options); }
};

// The pid of the run that the log's first line names.
pid_t started_pid(const std::string& log) {
  const std::size_t start = log.find("início de ");
  const std::size_t pid = log.find("(pid ", start);
  if (start == std::string::npos || pid == std::string::npos) return 0;
  return std::atoi(log.c_str() + pid + 5);
}

std::string proc_file(pid_t pid, const std::string& name) {
  std::string text = read_file("/proc/" + std::to_string(pid) + "/" + name);
  std::replace(text.begin(), text.end(), '\0', ' ');
  return text;
}

pid_t parent_of(pid_t pid) {
  const std::string stat = proc_file(pid, "stat");
  int parent = 0;
  std::sscanf(stat.c_str() + stat.rfind(')') + 2, "%*c %d", &parent);
  return parent;
}

// Ends a process of the run the hard way, and waits until it has let go of its descriptors.
void kill_hard(pid_t pid) {
  ::kill(pid, SIGKILL);
  for (int i = 0; i < 200; ++i) {
    const std::string stat = proc_file(pid, "stat");
    if (stat.empty() || stat.find(") Z ") != std::string::npos) return;
    std::this_thread::sleep_for(10ms);
  }
}

// Ends a background run and its watcher, so that no test leaves one behind.
void end_run(pid_t run) {
  if (run <= 0) return;
  const pid_t watcher = parent_of(run);
  if (watcher > 1) kill_hard(watcher);
  kill_hard(run);
}

TEST(Launch, OneBackgroundRunAtATimeAndADeadHolderNeverBlocks) {
  const Launched launched;
  ASSERT_EQ(launched.launch().status, 0);
  const std::string first = wait_for(launched.log, "início de");
  const pid_t running = started_pid(first);
  ASSERT_GT(running, 0) << first;

  // While it goes, a second launch starts nothing, keeps its log and says so there.
  const auto again = launched.launch();
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, "");
  EXPECT_EQ(again.err, "");
  const std::string noted = wait_for(launched.log, "nada iniciado");
  EXPECT_TRUE(noted.starts_with(first)) << noted;
  EXPECT_NE(noted.find(" execução anterior ainda em andamento (pid " + std::to_string(running) +
                       "): nada iniciado\n"),
            std::string::npos)
      << noted;
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(started_pid(read_file(launched.log)), running);  // no other run was started

  // A run that died without a word leaves its lock file behind, but not its lock.
  end_run(running);
  ASSERT_EQ(launched.launch().status, 0);
  std::string next;
  for (int i = 0; i < 200 && started_pid(next) == 0; ++i) {
    std::this_thread::sleep_for(50ms);
    next = read_file(launched.log);
  }
  const pid_t restarted = started_pid(next);
  EXPECT_GT(restarted, 0) << next;
  EXPECT_NE(restarted, running);
  EXPECT_EQ(next.find("nada iniciado"), std::string::npos) << next;  // a fresh log
  end_run(restarted);
}

TEST(Launch, SettingsReachTheBackgroundRunButNoCommandLineShowsAPassword) {
  const Launched launched;
  ASSERT_EQ(launched.launch().status, 0);
  const pid_t run = started_pid(wait_for(launched.log, "início de"));
  ASSERT_GT(run, 0);
  // From the fork on, before and after the run's program starts: neither the run, nor its
  // watcher (a copy of the launching process) shows a password, in its arguments or its
  // environment.
  std::string command_line;
  for (int i = 0; i < 200; ++i) {
    command_line = proc_file(run, "cmdline");
    EXPECT_EQ(command_line.find("senha"), std::string::npos) << command_line;
    if (command_line.ends_with("--configuracao-herdada ")) break;
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(command_line, probe_path() + " --configuracao-herdada ");
  EXPECT_EQ(proc_file(run, "environ").find("senha"), std::string::npos);
  const pid_t watcher = parent_of(run);
  EXPECT_EQ(proc_file(watcher, "cmdline").find("senha"), std::string::npos)
      << proc_file(watcher, "cmdline");

  // And yet the run got them all: it logs in with the user, database and password given.
  for (int i = 0; i < 200 && launched.database.seen().empty(); ++i) {
    std::this_thread::sleep_for(50ms);
  }
  const std::string seen = launched.database.seen();
  EXPECT_NE(seen.find(std::string("user\0usuario\0", 13)), std::string::npos) << seen;
  EXPECT_NE(seen.find(std::string("database\0banco\0", 15)), std::string::npos) << seen;
  EXPECT_NE(seen.find(std::string("senha-db\0", 9)), std::string::npos) << seen;
  end_run(run);
}

// Not dumpable: the kernel then gives the private files of /proc/PID (environ, mem) to root
// instead of the process's own user, whose other processes can no longer read them.
TEST(Secrets, TheProbeCannotBeDumpedNorReadByItsUsersOtherProcesses) {
  const HangingDatabase database;
  ProcessOptions options;
  options.env["SONDA_ZABBIX_SERVER"] = "127.0.0.1";
  options.env["SONDA_TEST_RUNTIME_LIMIT"] = "10";
  std::vector<std::string> arguments = {"--reuid=65534", "--regid=65534", "--clear-groups",
                                        probe_path()};
  for (const std::string& argument : full_arguments("discovery_clientes", {{4, database.port()}})) {
    arguments.push_back(argument);
  }
  RunningProcess probe("/usr/bin/setpriv", arguments, options);
  for (int i = 0; i < 200 && database.seen().empty(); ++i) std::this_thread::sleep_for(50ms);
  ASSERT_FALSE(database.seen().empty());
  struct stat status {};
  ASSERT_EQ(::stat(("/proc/" + std::to_string(probe.pid()) + "/environ").c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, 0u);
  ::kill(probe.pid(), SIGKILL);
  probe.wait();
}

TEST(Launch, ALogPathOthersCouldPlantIsRefusedAtOnceAndLeftAsItIs) {
  TempDir logs;
  ProcessOptions options;
  options.env["SONDA_LOG_DIR"] = logs.path().string();
  options.env["SONDA_ZABBIX_SERVER"] = "127.0.0.1";
  const std::string log = (logs.path() / "sonda-cobranca-zabbix-host-version.log").string();
  const std::string ours = logs.write("ours", "keep me\n");
  const auto refused = [&](const std::string& what) {
    const auto result = run_probe(full_arguments("launch_version"), options);
    EXPECT_EQ(result.status, 1) << what;
    EXPECT_EQ(result.out, "") << what;
    EXPECT_NE(result.err.find("LaunchError: o registro " + log +
                              " não é um arquivo comum deste usuário com um só vínculo"),
              std::string::npos)
        << what << ": " << result.err;
    EXPECT_LT(result.elapsed, 5s) << what;
    std::filesystem::remove(log);
  };

  ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
  refused("a FIFO");
  ASSERT_EQ(::link(ours.c_str(), log.c_str()), 0);
  refused("a hard link to a file of ours");
  ASSERT_EQ(::symlink(ours.c_str(), log.c_str()), 0);
  refused("a symbolic link");
  EXPECT_EQ(read_file(ours), "keep me\n");
  logs.write("sonda-cobranca-zabbix-host-version.log", "theirs\n");
  ASSERT_EQ(::chown(log.c_str(), 65534, 65534), 0);
  const auto result = run_probe(full_arguments("launch_version"), options);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(read_file(log), "theirs\n");
}

}  // namespace
}  // namespace sonda::test

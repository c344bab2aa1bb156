#include "app/launch.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "app/inherited_settings.hpp"
#include "core/unique_fd.hpp"
#include "core/version.hpp"
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

TEST(Launch, LogFileNameCannotLeaveItsFolderAndIsOneToOne) {
  const std::optional<std::string> folder = "/var/tmp/logs";
  EXPECT_EQ(launch_log_path(folder, "../../etc/passwd", "discovery_clientes"),
            "/var/tmp/logs/sonda-cobranca-.._.._etc_passwd+6fadc99a-discovery_clientes.log");
  EXPECT_EQ(launch_log_path(folder, "..", ""),
            "/var/tmp/logs/sonda-cobranca-_..+a3d4a70d-_+811c9dc5.log");
  // A name that fits as it is keeps its plain file name; one altered to fit gets its own.
  EXPECT_EQ(launch_log_path(folder, "isp_a", "discovery_clientes"),
            "/var/tmp/logs/sonda-cobranca-isp_a-discovery_clientes.log");
  EXPECT_EQ(launch_lock_path(folder, "zabbix-host.example", "version"),
            "/var/tmp/logs/sonda-cobranca-zabbix-host.example-version.lock");
  EXPECT_EQ(launch_log_path(folder, "isp a", "version"),
            "/var/tmp/logs/sonda-cobranca-isp_a+6044ea04-version.log");
  EXPECT_EQ(launch_log_path(folder, "isp/a", "version"),
            "/var/tmp/logs/sonda-cobranca-isp_a+681e92c3-version.log");
  EXPECT_NE(launch_log_path(folder, "Mãe", "version"), launch_log_path(folder, "Mõe", "version"));
  EXPECT_NE(launch_log_path(folder, "_", "version"), launch_log_path(folder, "", "version"));
  // The last '-' ends the host: a mode cannot take part of it.
  EXPECT_EQ(launch_log_path(folder, "a", "b-c"), "/var/tmp/logs/sonda-cobranca-a-b_c+805fe961.log");
  EXPECT_NE(launch_log_path(folder, "a", "b-c"), launch_log_path(folder, "a-b", "c"));
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

  const auto log = logs.path() / "sonda-cobranca-host_1+9dd78b04-version.log";
  const std::string content = wait_for(log, "status 0");
  EXPECT_NE(content.find("início de \"version\" para host 1"), std::string::npos) << content;
  EXPECT_NE(content.find(" probe  " + std::string(VERSION) + "\n"), std::string::npos) << content;
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

TEST(Launch, HostsWhoseNamesAFileNameCannotHoldRunSideBySide) {
  TempDir logs;
  const HangingDatabase database;
  ProcessOptions options;
  options.env["SONDA_LOG_DIR"] = logs.path().string();
  options.env["SONDA_ZABBIX_SERVER"] = "127.0.0.1";
  options.env["SONDA_TEST_RUNTIME_LIMIT"] = "20";
  const std::vector<std::string> hosts = {"isp a", "isp_a", "isp/a"};
  for (const std::string& host : hosts) {
    const auto result = run_probe(
        full_arguments("launch_discovery_clientes", {{4, database.port()}, {17, host}}), options);
    EXPECT_EQ(result.status, 0) << host;
    EXPECT_EQ(result.err, "") << host;
  }

  // Each run holds its lock while it waits on the database: none stands in another's way.
  std::vector<pid_t> runs;
  for (const auto& entry : std::filesystem::directory_iterator(logs.path())) {
    if (entry.path().extension() != ".log") continue;
    const std::string log = wait_for(entry.path(), "início de");
    EXPECT_EQ(log.find("nada iniciado"), std::string::npos) << log;
    runs.push_back(started_pid(log));
  }
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_TRUE(std::filesystem::exists(logs.path() / "sonda-cobranca-isp_a-discovery_clientes.log"));
  for (const std::string& host : hosts) {
    int logs_naming_it = 0;
    for (const auto& entry : std::filesystem::directory_iterator(logs.path())) {
      if (read_file(entry.path()).find(" para " + host + " (pid ") != std::string::npos) {
        ++logs_naming_it;
      }
    }
    EXPECT_EQ(logs_naming_it, 1) << host;
  }
  std::sort(runs.begin(), runs.end());
  EXPECT_GT(runs.front(), 0);
  EXPECT_EQ(std::unique(runs.begin(), runs.end()), runs.end());
  for (const pid_t run : runs) end_run(run);
}

TEST(Launch, ALogFolderOthersMayEmptyIsRefusedUnlessSticky) {
  TempDir logs;
  ProcessOptions options;
  options.env["SONDA_LOG_DIR"] = logs.path().string();
  options.env["SONDA_ZABBIX_SERVER"] = "127.0.0.1";
  for (const char* mode : {"0777", "0770"}) {
    ASSERT_EQ(::chmod(logs.path().c_str(), std::strtoul(mode, nullptr, 8)), 0);
    const auto result = run_probe(full_arguments("launch_version"), options);
    EXPECT_EQ(result.status, 1) << mode;
    EXPECT_EQ(result.out, "") << mode;
    EXPECT_NE(result.err.find("LaunchError: a pasta " + logs.path().string() +
                              " deixa outros usuários apagarem os arquivos dela (permissões " +
                              mode + ", sem o bit sticky)"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(std::filesystem::is_empty(logs.path())) << mode;  // neither log nor lock made
  }

  // As in /tmp, the sticky bit leaves each file to its owner.
  ASSERT_EQ(::chmod(logs.path().c_str(), 01777), 0);
  const auto result = run_probe(full_arguments("launch_version"), options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  const std::string log =
      wait_for(logs.path() / "sonda-cobranca-zabbix-host-version.log", "status 0");
  EXPECT_NE(log.find("fim de \"version\" para zabbix-host: status 0"), std::string::npos) << log;
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

// Descriptor 3 of a run given the single argument --configuracao-herdada.

// Puts `fd` on descriptor 3 of the child about to start, open across the exec.
void place_on_descriptor_3(int fd) {
  if (fd == 3) {
    ::fcntl(3, F_SETFD, 0);
  } else if (::dup2(fd, 3) != 3) {
    ::_exit(126);
  }
}

constexpr int kLaunchersSeals = F_SEAL_SEAL | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE;

// A memory file holding `bytes` (or, empty, of `size` zero bytes that take no memory) with
// `seals` added.
UniqueFd memory_file(const std::string& bytes, int seals, off_t size = 0) {
  UniqueFd fd(::memfd_create("sonda-test", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  EXPECT_TRUE(fd);
  EXPECT_EQ(::write(fd.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  if (size > 0) {
    EXPECT_EQ(::ftruncate(fd.get(), size), 0);
  }
  EXPECT_EQ(::lseek(fd.get(), 0, SEEK_SET), 0);
  if (seals != 0) {
    EXPECT_EQ(::fcntl(fd.get(), F_ADD_SEALS, seals), 0);
  }
  return fd;
}

ProcessResult run_with_descriptor_3(int fd, bool limit_memory = false) {
  ProcessOptions options;
  options.prepare_child = [fd, limit_memory] {
    place_on_descriptor_3(fd);
#if !defined(__SANITIZE_ADDRESS__)  // whose shadow memory alone passes any such limit
    if (limit_memory) {
      const rlimit one_gib{1UL << 30, 1UL << 30};
      if (::setrlimit(RLIMIT_AS, &one_gib) != 0) ::_exit(126);
    }
#else
    (void)limit_memory;
#endif
  };
  return run_probe({"--configuracao-herdada"}, options);
}

TEST(InheritedSettings, AreTakenOnlyFromTheLaunchersSealedMemoryFile) {
  const std::string settings = inherited_settings_text(full_arguments("version"));
  // What the short form of a mode other than "version" gives.
  const auto short_form = run_probe({"discovery_clientes"});
  ASSERT_EQ(short_form.status, 1);
  ASSERT_NE(short_form.err.find("zabbix_host"), std::string::npos) << short_form.err;

  TempDir folder;
  const UniqueFd regular(::open(folder.write("settings", settings).c_str(), O_RDONLY | O_CLOEXEC));
  const UniqueFd unsealed = memory_file(settings, 0);
  const UniqueFd resizable = memory_file(settings, F_SEAL_SEAL | F_SEAL_WRITE);
  const std::vector<std::pair<std::string, int>> others = {
      {"a regular file", regular.get()},
      {"an unsealed memory file", unsealed.get()},
      {"a memory file that can still grow", resizable.get()}};
  for (const auto& [what, fd] : others) {
    const auto result = run_with_descriptor_3(fd);
    EXPECT_EQ(result.status, 1) << what;
    EXPECT_EQ(result.out, "") << what;
    EXPECT_EQ(result.err, short_form.err) << what;
  }

  const UniqueFd sealed = memory_file(settings, kLaunchersSeals);
  const auto result = run_with_descriptor_3(sealed.get());
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find(" " + std::string(VERSION) + "\n"), std::string::npos) << result.out;
}

TEST(InheritedSettings, AHugeDescriptor3IsRefusedBeforeItIsRead) {
  constexpr off_t kThreeGib = off_t{3} << 30;
  TempDir folder;
  const std::string path = folder.write("huge", "");
  ASSERT_EQ(::truncate(path.c_str(), kThreeGib), 0);
  const UniqueFd regular(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  const UniqueFd sealed = memory_file("", kLaunchersSeals, kThreeGib);
  const std::vector<std::pair<std::string, int>> huge = {{"a regular file", regular.get()},
                                                         {"a sealed memory file", sealed.get()}};
  for (const auto& [what, fd] : huge) {
    const auto result = run_with_descriptor_3(fd, true);
    EXPECT_EQ(result.signal, 0) << what;
    EXPECT_EQ(result.status, 1) << what << ": " << result.err;
    EXPECT_EQ(result.out, "") << what;
    EXPECT_LT(result.elapsed, 10s) << what;
    if (fd == sealed.get()) {
      EXPECT_NE(result.err.find("ConfigError: não foi possível ler a configuração herdada pela "
                                "execução em segundo plano: passa de 1 MiB"),
                std::string::npos)
          << result.err;
    }
  }

  // Nor does a launch hand over more than a run would read: settings of 1.1 MB are refused at
  // once and nothing is started.
  TempDir logs;
  ProcessOptions options;
  options.env["SONDA_LOG_DIR"] = logs.path().string();
  options.env["SONDA_ZABBIX_SERVER"] = "127.0.0.1";
  std::map<int, std::string> large;
  for (int position = 2; position <= 12; ++position) large[position] = std::string(100000, 'x');
  const auto launched = run_probe(full_arguments("launch_version", large), options);
  EXPECT_EQ(launched.status, 1);
  EXPECT_NE(launched.err.find("LaunchError: as configurações a entregar à execução em segundo "
                              "plano passam de 1 MiB"),
            std::string::npos)
      << launched.err;
  EXPECT_TRUE(std::filesystem::is_empty(logs.path()));
}

}  // namespace
}  // namespace sonda::test

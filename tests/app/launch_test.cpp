#include "app/launch.hpp"

#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

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
  ::setenv("SONDA_LOG_DIR", "/var/tmp/logs", 1);
  EXPECT_EQ(launch_log_path("../../etc/passwd", "discovery_clientes"),
            "/var/tmp/logs/sonda-cobranca-.._.._etc_passwd-discovery_clientes.log");
  EXPECT_EQ(launch_log_path("..", ""), "/var/tmp/logs/sonda-cobranca-_..-_.log");
  ::unsetenv("SONDA_LOG_DIR");
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

}  // namespace
}  // namespace sonda::test

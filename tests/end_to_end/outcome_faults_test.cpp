// The outcome of a background run that does not reach Zabbix: written to the run's log, after
// its last line, and nothing else changes.
#include <chrono>

#include <gtest/gtest.h>

#include "support/fake_server.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "support/zabbix_api.hpp"
#include "support/zabbix_template.hpp"

namespace sonda::test {
namespace {

using namespace std::chrono_literals;

struct VersionRun {
  TempDir logs;
  ProcessOptions options;
  std::filesystem::path log;

  VersionRun(const std::string& zabbix_server, const std::string& host) {
    options.env["SONDA_LOG_DIR"] = logs.path().string();
    options.env["SONDA_ZABBIX_SERVER"] = zabbix_server;
    options.env["SONDA_ZABBIX_CONFIG"] = std::nullopt;
    log = logs.path() / ("sonda-cobranca-" + host + "-version.log");
    const ProcessResult launched =
        run_probe(full_arguments("launch_version", {{17, host}}), options);
    EXPECT_EQ(launched.status, 0);
    EXPECT_EQ(launched.out, "");
    EXPECT_EQ(launched.err, "");
  }

  // The log, once it holds `text`.
  std::string wait_for(const std::string& text) const {
    std::string content;
    eventually([&] { return (content = read_file(log)).find(text) != std::string::npos; }, 30s);
    return content;
  }
};

// A server that never answers holds the outcome for a few seconds, no more: then the log says
// so and the lock goes, so the next launch starts a run.
TEST(OutcomeFaults, AServerThatNeverAnswersCostsAFewSecondsAndALogLine) {
  FakeServer silent(hold_silently);
  const auto start = std::chrono::steady_clock::now();
  const VersionRun run("127.0.0.1:" + std::to_string(silent.port()), "mudo");
  const std::string content = run.wait_for("não enviado");
  const auto waited = std::chrono::steady_clock::now() - start;
  const std::size_t end = content.find(": status 0\n=== ");
  ASSERT_NE(end, std::string::npos) << content;
  EXPECT_TRUE(content.substr(end).ends_with(
      " resultado da execução não enviado ao Zabbix: o servidor não respondeu em 5 segundos\n"))
      << content;
  EXPECT_GE(waited, 4500ms);
  EXPECT_LT(waited, 15s);
  EXPECT_EQ(silent.connections(), 1);

  const ProcessResult next =
      run_probe(full_arguments("launch_version", {{17, "mudo"}}), run.options);
  EXPECT_EQ(next.status, 0);
  EXPECT_EQ(run.wait_for("início de").find("nada iniciado"), std::string::npos);
}

// A host without the outcome's item: Zabbix refuses it, and the log says what to check.
TEST(OutcomeFaults, ARefusedOutcomeIsOneLineOfTheLog) {
  const VersionRun run(zabbix_server().address, zabbix_server().host);
  const std::string content = run.wait_for("recusado");
  EXPECT_NE(content.find(": status 0\n=== "), std::string::npos) << content;
  EXPECT_NE(content.find(" resultado da execução recusado pelo servidor Zabbix em " +
                         zabbix_server().address + " (item sonda_execucao do host \"" +
                         zabbix_server().host + "\"): "),
            std::string::npos)
      << content;
}

}  // namespace
}  // namespace sonda::test

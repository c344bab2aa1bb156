// The probe's command line, run modes, exit statuses and streams, through the real binary.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "app/configuration.hpp"
#include "core/version.hpp"
#include "support/process.hpp"

namespace sonda::test {
namespace {

const std::string kRights =
    " sonda-cobranca: sonda de clientes e cobrança para Zabbix. Todos os direitos reservados.\n";

std::string wrong_count(int n) {
  return "Erro de execução, parâmetros incorretos. São esperados 17 argumentos. Foram inputados: " +
         std::to_string(n) + " parâmetros.\n";
}

// A Zabbix server address that get_zabbix_server rejects: it shows whether it was called.
ProcessOptions with_bad_zabbix_server() {
  ProcessOptions options;
  options.env["SONDA_ZABBIX_SERVER"] = "host:porta";
  return options;
}

TEST(CommandLine, WrongCountsGiveTheFixedLineAndStatusOne) {
  for (const int count : {0, 2, 16, 18}) {
    std::vector<std::string> arguments(static_cast<std::size_t>(count), "version");
    const auto result = run_probe(arguments);
    EXPECT_EQ(result.status, 1) << count;
    EXPECT_EQ(result.out, wrong_count(count));
    EXPECT_EQ(result.err, "");
  }
}

TEST(CommandLine, EmptyArgumentsCountAndYieldEmptyFields) {
  // Seventeen empty arguments: a full form whose mode matches nothing.
  const auto result = run_probe(std::vector<std::string>(17, ""));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

TEST(CommandLine, VersionBannerForEveryInvocationName) {
  const std::string version(VERSION);
  const std::pair<std::string, std::string> cases[] = {
      {"./probe", " probe  " + version + "\n"},
      {"../probe", ". probe  " + version + "\n"},
      {"./a/./b", " a/ b  " + version + "\n"},
      {"/usr/bin/sonda-cobranca", "/usr/bin/sonda-cobranca  " + version + "\n"},
      {"", "  " + version + "\n"},
  };
  for (const auto& [argv0, line] : cases) {
    ProcessOptions options = with_bad_zabbix_server();
    options.argv0 = argv0;
    const auto result = run_probe({"version"}, options);
    EXPECT_EQ(result.status, 0) << argv0;
    EXPECT_EQ(result.out, kRights + line) << argv0;
    EXPECT_EQ(result.err, "");
  }
}

TEST(CommandLine, VersionInTheFullFormLooksAtNothingElse) {
  ProcessOptions options = with_bad_zabbix_server();
  options.argv0 = "./probe";
  const auto result = run_probe(full_arguments("version", {{4, "não é porta"}}), options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kRights + " probe  " + std::string(VERSION) + "\n");
}

TEST(CommandLine, ShortFormOfAnyOtherModeFailsNamingZabbixHost) {
  for (const std::string mode : {"discovery_clientes", "xlaunch_y", "outro"}) {
    const auto result = run_probe({mode});
    EXPECT_EQ(result.status, 1) << mode;
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("sonda-cobranca: erro inesperado: ConfigError: "), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("zabbix_host"), std::string::npos);
  }
}

// Settings that only the discovery run uses: a batch size and an agent file that cannot work.
ProcessOptions with_unusable_sending_settings() {
  ProcessOptions options;
  options.env["SONDA_ZABBIX_BATCH"] = "abc";
  options.env["SONDA_DISCOVERY_AMOUNTS"] = "sim";
  options.env["SONDA_ZABBIX_CONFIG"] = "/dev/zero";
  options.env["SONDA_ZABBIX_SERVER"] = "127.0.0.1";
  return options;
}

// Every setting unusable, the Zabbix address and the configuration file included.
ProcessOptions with_unusable_settings() {
  ProcessOptions options = with_unusable_sending_settings();
  options.env["SONDA_ZABBIX_SERVER"] = with_bad_zabbix_server().env["SONDA_ZABBIX_SERVER"];
  options.env["SONDA_CONFIG_FILE"] = "/nada/sonda-cobranca.conf";
  return options;
}

TEST(CommandLine, ModesMatchExactlyAndReadASettingOnlyWhereTheyUseIt) {
  // Near misses of the real modes do nothing, whatever the settings only a discovery run uses,
  // after the Zabbix servers were looked up: an address that cannot be read fails them.
  for (const std::string mode : {"Discovery_clientes", "discovery_clientes ", "Version", ""}) {
    const auto result = run_probe(full_arguments(mode), with_unusable_sending_settings());
    EXPECT_EQ(result.status, 0) << mode;
    EXPECT_EQ(result.out + result.err, "") << mode;
    const auto bad_address = run_probe(full_arguments(mode), with_bad_zabbix_server());
    EXPECT_EQ(bad_address.status, 1) << mode;
    EXPECT_EQ(bad_address.out, "");
    EXPECT_NE(bad_address.err.find("ConfigError: endereço do servidor Zabbix inválido"),
              std::string::npos)
        << bad_address.err;
  }
  // The banner reads none of them either, in both forms.
  for (const auto& arguments : {std::vector<std::string>{"version"}, full_arguments("version")}) {
    const auto result = run_probe(arguments, with_unusable_settings());
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.out.ends_with(std::string(VERSION) + "\n")) << result.out;
    EXPECT_EQ(result.err, "");
  }
  // The discovery run, which uses them, refuses each one.
  const std::pair<std::string, std::string> unusable[] = {
      {"SONDA_ZABBIX_SERVER",
       "ConfigError: endereço do servidor Zabbix inválido na variável "
       "SONDA_ZABBIX_SERVER: \"host:porta\""},
      {"SONDA_ZABBIX_BATCH", "ConfigError: SONDA_ZABBIX_BATCH deve ser um número inteiro"},
      {"SONDA_DISCOVERY_AMOUNTS", "ConfigError: SONDA_DISCOVERY_AMOUNTS deve ser 1"},
      {"SONDA_CONFIG_FILE",
       "ConfigError: não foi possível ler o arquivo de configuração "
       "/nada/sonda-cobranca.conf: No such file or directory"},
  };
  for (const auto& [variable, message] : unusable) {
    ProcessOptions options;
    options.env[variable] = with_unusable_settings().env[variable];
    const auto result = run_probe(full_arguments("discovery_clientes"), options);
    EXPECT_EQ(result.status, 1) << variable;
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
  }
}

TEST(CommandLine, SecondArgumentIsNeverUsed) {
  for (const std::string host : {"", "qualquer coisa", "debug"}) {
    const auto result = run_probe(full_arguments("nada", {{2, host}}));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out + result.err, "");
  }
}

TEST(CommandLine, UnflushableStandardOutputGivesStatusTwo) {
  ProcessOptions options;
  options.stdout_path = "/dev/full";
  EXPECT_EQ(run_probe({"version"}, options).status, 2);
  // A wrong count stays a wrong count.
  EXPECT_EQ(run_probe({}, options).status, 1);
}

TEST(CommandLine, RejectsABadTestLimit) {
  ProcessOptions options;
  options.env["SONDA_TEST_RUNTIME_LIMIT"] = "0";
  const auto result = run_probe({"version"}, options);
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("SONDA_TEST_RUNTIME_LIMIT"), std::string::npos);
}

// Every call of getenv in the probe's sources, as (file, the variable's name when the call
// names it: getenv("NAME")).
std::vector<std::pair<std::string, std::string>> getenv_calls() {
  std::vector<std::pair<std::string, std::string>> calls;
  const std::string marker = "getenv(";
  for (const auto& file :
       std::filesystem::recursive_directory_iterator(std::string(SONDA_SOURCE_DIR) + "/src")) {
    std::ifstream input(file.path());
    std::ostringstream text;
    text << input.rdbuf();
    const std::string source = text.str();
    for (std::size_t at = source.find(marker); at != std::string::npos;
         at = source.find(marker, at + 1)) {
      std::string name;
      if (source[at + marker.size()] == '"') {
        const std::size_t start = at + marker.size() + 1;
        name = source.substr(start, source.find('"', start) - start);
      }
      calls.emplace_back(file.path().string(), name);
    }
  }
  return calls;
}

TEST(CommandLine, HelpListsTheSettingsInOrderEveryEnvironmentVariableAndTheManual) {
  const auto help = run_probe({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  for (const std::string other : {"-h", "help"}) {
    const auto result = run_probe({other});
    EXPECT_EQ(result.status, 0) << other;
    EXPECT_EQ(result.out, help.out) << other;
  }

  std::size_t at = 0;
  for (const std::string setting :
       {"mode", "host", "db_ip", "db_port", "db_name", "db_user", "db_password", "pop_id",
        "quest_db_ip", "quest_db_port", "quest_db_username", "quest_db_password",
        "quest_db_ip_chat", "quest_db_port_chat", "quest_db_username_chat",
        "quest_db_password_chat", "zabbix_host"}) {
    at = help.out.find(" " + setting + " ", at);
    ASSERT_NE(at, std::string::npos) << setting << " out of order in\n" << help.out;
  }
  // Every setting of the probe's one reader, and the file it reads them from.
  for (const SettingName& setting : kSettingNames) {
    EXPECT_NE(help.out.find(" " + std::string(setting.name) + " "), std::string::npos)
        << setting.name;
  }
  EXPECT_NE(help.out.find(kDefaultConfigurationFile), std::string::npos);
  // The environment is read at the top layer alone; what reads it there besides that reader
  // (a convention such as TMPDIR) is listed too.
  const auto calls = getenv_calls();
  EXPECT_GE(calls.size(), 2u);  // the search itself still finds them
  for (const auto& [file, variable] : calls) {
    EXPECT_NE(file.find("/src/app/"), std::string::npos) << file << " reads the environment";
    EXPECT_NE(help.out.find(variable), std::string::npos) << variable;
  }
  EXPECT_TRUE(help.out.ends_with("man sonda-cobranca\n")) << help.out;

  // Elsewhere on the command line they are a mode like any other, that does nothing.
  const auto as_mode = run_probe(full_arguments("--help"), with_unusable_sending_settings());
  EXPECT_EQ(as_mode.status, 0);
  EXPECT_EQ(as_mode.out + as_mode.err, "");
}

}  // namespace
}  // namespace sonda::test

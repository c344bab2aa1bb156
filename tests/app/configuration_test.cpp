#include "app/configuration.hpp"

#include <sstream>

#include <gtest/gtest.h>

#include "app/probe_settings.hpp"
#include "core/failure.hpp"
#include "support/temp_dir.hpp"

namespace sonda {
namespace {

using test::TempDir;

Configuration environment(std::initializer_list<std::pair<std::string, std::string>> variables) {
  Configuration settings;
  for (const auto& [name, value] : variables) settings.set({name, value, "", 0});
  return settings;
}

std::string config_failure(const Configuration& from, const std::string& default_file) {
  try {
    run_configuration(from, default_file);
  } catch (const ConfigError& error) {
    return error.what();
  }
  return "(no failure)";
}

// What reading one setting of `configuration` with `read` fails with.
template <typename Read>
std::string setting_failure(Read read, const Configuration& configuration) {
  try {
    read(configuration);
  } catch (const ConfigError& error) {
    return error.what();
  }
  return "(no failure)";
}

TEST(Configuration, DefaultsThenTheFileThenTheEnvironment) {
  TempDir dir;
  const auto file = dir.write("sonda.conf",
                              "# Grandes provedores\n"
                              "  SONDA_ZABBIX_BATCH = 1000  \r\n"
                              "\n"
                              "SONDA_LOG_DIR=/var/log/outra\n"
                              "SONDA_PHASE_TIMES=\n");
  const Configuration from_file = run_configuration(environment({}), file);
  EXPECT_EQ(zabbix_batch(from_file), 1000u);
  EXPECT_EQ(log_folder(from_file), "/var/log/outra");
  EXPECT_EQ(from_file.find("SONDA_ZABBIX_BATCH")->named(),
            "SONDA_ZABBIX_BATCH em " + file + ", linha 2");
  EXPECT_EQ(from_file.find("SONDA_ZABBIX_SERVER"), nullptr);

  const Configuration overridden =
      run_configuration(environment({{"SONDA_ZABBIX_BATCH", "7"}}), file);
  EXPECT_EQ(zabbix_batch(overridden), 7u);
  EXPECT_EQ(log_folder(overridden), "/var/log/outra");

  // No file at the default path: the built-in defaults.
  const Configuration none = run_configuration(environment({}), dir.path() / "nada.conf");
  EXPECT_EQ(zabbix_batch(none), 1u);
  EXPECT_EQ(log_folder(none), std::nullopt);
  EXPECT_EQ(runtime_limit(none), 300);

  // A named file comes instead of the default one; an empty name asks for none.
  const auto other = dir.write("outro.conf", "SONDA_ZABBIX_BATCH=20\n");
  EXPECT_EQ(zabbix_batch(run_configuration(environment({{"SONDA_CONFIG_FILE", other}}), file)),
            20u);
  EXPECT_EQ(zabbix_batch(run_configuration(environment({{"SONDA_CONFIG_FILE", ""}}), file)), 1u);
}

TEST(Configuration, AFaultyFileIsAConfigErrorNamingFileAndLine) {
  TempDir dir;
  const std::string path = dir.path() / "sonda.conf";
  const std::pair<std::string, std::string> cases[] = {
      {"SONDA_ZABBIX_BATCH=10\nSONDA_ZABIX_SERVER=zbx\n",
       "nome desconhecido em " + path +
           ", linha 2: SONDA_ZABIX_SERVER (os nomes são os das variáveis de ambiente da sonda; "
           "veja sonda-cobranca --help)"},
      {"# comentário\nSONDA_ZABBIX_BATCH\n",
       "linha sem \"=\" em " + path + ", linha 2: use NOME=valor"},
      {"SONDA_TEST_RUNTIME_LIMIT=5\n",
       "SONDA_TEST_RUNTIME_LIMIT em " + path +
           ", linha 1: este nome vale só no ambiente, não no arquivo"},
      {"SONDA_LOG_DIR=/a\n\nSONDA_LOG_DIR=/b\n",
       "SONDA_LOG_DIR aparece mais de uma vez em " + path + " (linhas 1 e 3); deixe uma só"},
  };
  for (const auto& [text, message] : cases) {
    dir.write("sonda.conf", text);
    EXPECT_EQ(config_failure(environment({}), path), message);
  }

  // A malformed value fails where the setting is used, naming where it came from.
  dir.write("sonda.conf", "\nSONDA_ZABBIX_BATCH=abc\n");
  EXPECT_EQ(setting_failure(zabbix_batch, run_configuration(environment({}), path)),
            "SONDA_ZABBIX_BATCH em " + path +
                ", linha 2 deve ser um número inteiro de 1 a 10000 (valores por envio ao "
                "Zabbix), não \"abc\"");

  // A file the operator named must be readable; so must the default one once it is there.
  const std::string missing = dir.path() / "nada.conf";
  EXPECT_EQ(
      config_failure(environment({{"SONDA_CONFIG_FILE", missing}}), path),
      "não foi possível ler o arquivo de configuração " + missing + ": No such file or directory");
  EXPECT_EQ(config_failure(environment({}), dir.path()),
            "não foi possível ler o arquivo de configuração " + dir.path().string() +
                ": é uma pasta, não um arquivo");
}

TEST(Configuration, DiscoveryAmountsAreLeftOutOnlyByZero) {
  EXPECT_EQ(discovery_amounts(environment({})), DocumentAmounts::kept);
  EXPECT_EQ(discovery_amounts(environment({{"SONDA_DISCOVERY_AMOUNTS", ""}})),
            DocumentAmounts::kept);
  EXPECT_EQ(discovery_amounts(environment({{"SONDA_DISCOVERY_AMOUNTS", "1"}})),
            DocumentAmounts::kept);
  EXPECT_EQ(discovery_amounts(environment({{"SONDA_DISCOVERY_AMOUNTS", "0"}})),
            DocumentAmounts::left_out);
  for (const char* wrong : {"00", " 0", "não", "false"}) {
    EXPECT_EQ(setting_failure(discovery_amounts, environment({{"SONDA_DISCOVERY_AMOUNTS", wrong}})),
              "SONDA_DISCOVERY_AMOUNTS deve ser 1 (a descoberta leva {#VALOR_DIVIDA} e "
              "{#TITULOS_EM_ATRASO}) ou 0 (a descoberta os deixa de fora), não \"" +
                  std::string(wrong) + "\"");
  }
}

TEST(Configuration, BatchIsAWholeNumberFromOneToTenThousand) {
  EXPECT_EQ(zabbix_batch(environment({{"SONDA_ZABBIX_BATCH", "1"}})), 1u);
  EXPECT_EQ(zabbix_batch(environment({{"SONDA_ZABBIX_BATCH", "10000"}})), 10000u);
  for (const char* wrong :
       {"", "0", "10001", "-5", "+5", " 5", "5 ", "1e3", "mil", "99999999999999999999"}) {
    EXPECT_EQ(setting_failure(zabbix_batch, environment({{"SONDA_ZABBIX_BATCH", wrong}})),
              "SONDA_ZABBIX_BATCH deve ser um número inteiro de 1 a 10000 (valores por envio "
              "ao Zabbix), não \"" +
                  std::string(wrong) + "\"");
  }
}

// The example the package installs: as shipped it changes nothing, and each setting it shows,
// once its line is uncommented, is one the probe takes.
TEST(Configuration, PackagedExampleIsAllCommentsAndEachSettingItShowsIsTaken) {
  const std::string example = std::string(SONDA_SOURCE_DIR) + "/packaging/sonda-cobranca.conf";
  const Configuration shipped = run_configuration(environment({}), example);
  for (const SettingName& name : kSettingNames) EXPECT_EQ(shipped.find(name.name), nullptr);

  std::string uncommented;
  std::istringstream lines(test::read_file(example));
  int shown = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("#SONDA_") || line.starts_with("#SSL_")) {
      uncommented += line.substr(1) + "\n";
      ++shown;
    }
  }
  TempDir dir;
  const Configuration all = run_configuration(environment({}), dir.write("all.conf", uncommented));
  for (const SettingName& name : kSettingNames) {
    EXPECT_EQ(all.find(name.name) != nullptr, name.place == SettingPlace::anywhere) << name.name;
  }
  EXPECT_EQ(shown, 8);
  EXPECT_EQ(zabbix_batch(all), 1000u);
  EXPECT_EQ(discovery_amounts(all), DocumentAmounts::left_out);
}

}  // namespace
}  // namespace sonda

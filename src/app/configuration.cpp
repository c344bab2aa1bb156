#include "app/configuration.hpp"

#include <algorithm>
#include <cstdlib>

#include "app/small_file.hpp"
#include "core/failure.hpp"

namespace sonda {

namespace {

const SettingName* known(std::string_view name) {
  const auto found = std::find_if(std::begin(kSettingNames), std::end(kSettingNames),
                                  [&](const SettingName& known) { return known.name == name; });
  return found == std::end(kSettingNames) ? nullptr : found;
}

// The lines of the file at `path`; nothing when it is the default file and it does not exist.
std::optional<std::vector<ConfigLine>> file_settings(const std::string& path, MissingFile missing) {
  const auto text =
      read_small_file(path, kMaxConfigurationFile, "o arquivo de configuração " + path, missing);
  if (!text) return std::nullopt;
  std::vector<ConfigLine> lines = config_lines(*text, path);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const ConfigLine& line = lines[i];
    const std::string at = " em " + line.place();
    if (line.name.empty()) {
      throw ConfigError("linha sem \"=\"" + at + ": use NOME=valor");
    }
    const SettingName* name = known(line.name);
    if (name == nullptr) {
      throw ConfigError("nome desconhecido" + at + ": " + line.name +
                        " (os nomes são os das variáveis de ambiente da sonda; veja "
                        "sonda-cobranca --help)");
    }
    if (name->place == SettingPlace::environment) {
      throw ConfigError(line.name + at + ": este nome vale só no ambiente, não no arquivo");
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (lines[j].name == line.name) {
        throw ConfigError(line.name + " aparece mais de uma vez em " + path + " (linhas " +
                          std::to_string(lines[j].line) + " e " + std::to_string(line.line) +
                          "); deixe uma só");
      }
    }
  }
  return lines;
}

}  // namespace

const ConfigLine* Configuration::find(std::string_view name) const {
  const auto found = std::find_if(settings_.begin(), settings_.end(),
                                  [&](const ConfigLine& line) { return line.name == name; });
  return found == settings_.end() ? nullptr : &*found;
}

void Configuration::set(ConfigLine line) {
  std::erase_if(settings_, [&](const ConfigLine& old) { return old.name == line.name; });
  settings_.push_back(std::move(line));
}

Configuration environment_settings() {
  Configuration settings;
  for (const SettingName& name : kSettingNames) {
    const std::string variable(name.name);
    if (const char* value = std::getenv(variable.c_str())) settings.set({variable, value, "", 0});
  }
  return settings;
}

Configuration run_configuration(const Configuration& environment, const std::string& default_file) {
  const ConfigLine* named = environment.find("SONDA_CONFIG_FILE");
  // A file the operator named must be there; the default one is there only once installed. An
  // empty name asks for no file at all.
  const std::string path = named ? named->value : default_file;
  std::optional<std::vector<ConfigLine>> lines;
  if (!path.empty()) {
    lines = file_settings(path, named ? MissingFile::fails : MissingFile::gives_nothing);
  }
  Configuration settings;
  if (lines) {
    for (const ConfigLine& line : *lines) settings.set(line);
  }
  for (const SettingName& name : kSettingNames) {
    if (const ConfigLine* line = environment.find(name.name)) settings.set(*line);
  }
  return settings;
}

}  // namespace sonda

#include "app/agent_configuration.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "core/errno_text.hpp"
#include "core/failure.hpp"

namespace sonda {

namespace {

// Most files one configuration may bring in through Include, the named one included.
constexpr std::size_t kMaxIncludedFiles = 1000;

// Whether `name` matches `pattern`, in which "*" stands for any text and nothing else is
// special (the agent's own rule).
bool matches(std::string_view name, std::string_view pattern) {
  const std::size_t star = pattern.find('*');
  if (star == std::string_view::npos) return name == pattern;
  if (!name.starts_with(pattern.substr(0, star))) return false;
  name.remove_prefix(star);
  pattern.remove_prefix(star + 1);
  for (std::size_t skip = 0; skip <= name.size(); ++skip) {
    if (matches(name.substr(skip), pattern)) return true;
  }
  return false;
}

class AgentReader {
 public:
  explicit AgentReader(const std::string& path)
      : folder_(std::filesystem::path(path).parent_path().string()) {}

  // Adds the lines of `path`; false when it is missing and `missing` allows it.
  bool read(const std::string& path, const std::string& what, int depth, MissingFile missing) {
    if (++files_ > kMaxIncludedFiles) {
      throw ConfigError("não foi possível ler " + what + ": a configuração inclui mais de " +
                        std::to_string(kMaxIncludedFiles) + " arquivos");
    }
    const auto text = read_small_file(path, kMaxAgentConfiguration, what, missing);
    if (!text) return false;
    total_ += text->size();
    if (total_ > kMaxAgentConfiguration) {
      throw ConfigError("não foi possível ler " + what +
                        ": com os arquivos incluídos antes dele, a configuração passa de 1 MiB");
    }
    for (ConfigLine& line : config_lines(*text, path)) {
      if (line.name.empty()) continue;
      if (line.name == "Include") {
        include(line, depth + 1);
      } else {
        lines_.push_back(std::move(line));
      }
    }
    return true;
  }

  std::vector<ConfigLine> take() { return std::move(lines_); }

 private:
  [[noreturn]] static void refuse(const ConfigLine& line, const std::string& why) {
    throw ConfigError("Include=" + line.value + " em " + line.place() + ": " + why);
  }

  void include(const ConfigLine& line, int depth) {
    if (depth > kMaxIncludeDepth) {
      refuse(line, "mais de " + std::to_string(kMaxIncludeDepth) +
                       " níveis de arquivos incluídos (um arquivo inclui a si mesmo?)");
    }
    if (line.value.empty()) refuse(line, "o caminho está vazio");
    std::string target = line.value;
    std::string pattern;
    if (const std::size_t star = target.find('*'); star != std::string::npos) {
      if (target.find('/', star) != std::string::npos) {
        refuse(line, "o \"*\" só pode estar na última parte do caminho");
      }
      const std::size_t slash = target.rfind('/', star);
      pattern = target.substr(slash == std::string::npos ? 0 : slash + 1);
      target = slash == std::string::npos ? "." : target.substr(0, std::max<std::size_t>(slash, 1));
    }
    // A relative path starts where the agent starts it: at the folder of the named file.
    if (!target.starts_with('/')) target = (std::filesystem::path(folder_) / target).string();
    while (target.size() > 1 && target.ends_with('/')) target.pop_back();

    struct stat status {};
    if (::stat(target.c_str(), &status) != 0) refuse(line, target + ": " + errno_text());
    const std::string what = "o arquivo " + target + " (de Include em " + line.place() + ")";
    if (!S_ISDIR(status.st_mode)) {
      if (!pattern.empty()) refuse(line, target + " não é uma pasta");
      read(target, what, depth, MissingFile::fails);
      return;
    }
    std::error_code error;
    std::vector<std::string> names;
    for (std::filesystem::directory_iterator entry(target, error), end; !error && entry != end;
         entry.increment(error)) {
      const std::string name = entry->path().filename().string();
      std::error_code kind_error;  // a name that vanished or cannot be looked at is no file
      if (entry->is_regular_file(kind_error) && (pattern.empty() || matches(name, pattern))) {
        names.push_back(name);
      }
    }
    if (error) refuse(line, target + ": " + error.message());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string file = target + "/" + name;
      read(file, "o arquivo " + file + " (de Include em " + line.place() + ")", depth,
           MissingFile::fails);
    }
  }

  std::string folder_;
  std::size_t total_ = 0;  // bytes read so far
  std::size_t files_ = 0;
  std::vector<ConfigLine> lines_;
};

}  // namespace

std::optional<std::vector<ConfigLine>> read_agent_configuration(const std::string& path,
                                                                const std::string& what,
                                                                MissingFile missing) {
  AgentReader reader(path);
  if (!reader.read(path, what, 1, missing)) return std::nullopt;
  return reader.take();
}

const ConfigLine* last_setting(const std::vector<ConfigLine>& lines, std::string_view name) {
  const auto found = std::find_if(lines.rbegin(), lines.rend(),
                                  [&](const ConfigLine& line) { return line.name == name; });
  return found == lines.rend() ? nullptr : &*found;
}

}  // namespace sonda

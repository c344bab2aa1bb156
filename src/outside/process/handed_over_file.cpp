#include "outside/process/handed_over_file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "console/line_output.hpp"
#include "core/errno_text.hpp"
#include "core/failure.hpp"
#include "outside/process/bounded_read.hpp"

namespace sonda {

namespace {

// Only a memory file made with MFD_ALLOW_SEALING can carry F_SEAL_WRITE: a regular file has no
// seals at all, and a tmpfs file is born with F_SEAL_SEAL alone. These seals therefore mark
// the file as one a launcher made, and no one holding it can change it afterwards.
constexpr int kSeals = F_SEAL_SEAL | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE;

std::string limit_text() { return std::to_string(kHandedOverLimit / (1024 * 1024)) + " MiB"; }

}  // namespace

UniqueFd make_handed_over_file(std::string_view bytes) {
  if (bytes.size() > kHandedOverLimit) {
    throw LaunchError("as configurações a entregar à execução em segundo plano passam de " +
                      limit_text());
  }
  // Unlike a pipe it never fills up, and unlike an argument it shows in no process list.
  UniqueFd fd(::memfd_create("sonda-cobranca-configuracao", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!fd) throw LaunchError("não foi possível criar o arquivo em memória: " + errno_text());
  if (!write_all(fd.get(), bytes)) {
    throw LaunchError("não foi possível escrever no arquivo em memória: " + errno_text());
  }
  if (::lseek(fd.get(), 0, SEEK_SET) != 0 || ::fcntl(fd.get(), F_ADD_SEALS, kSeals) != 0) {
    throw LaunchError("não foi possível preparar o arquivo em memória: " + errno_text());
  }
  return fd;
}

std::optional<std::string> read_handed_over_file(int fd) {
  const int seals = ::fcntl(fd, F_GET_SEALS);
  if (seals < 0 || (seals & kSeals) != kSeals) return std::nullopt;
  const UniqueFd source(fd);
  const auto unreadable = [](const std::string& why) {
    return ConfigError(
        "não foi possível ler a configuração herdada pela execução em segundo "
        "plano: " +
        why);
  };
  struct stat status {};
  if (::fstat(source.get(), &status) != 0) throw unreadable(errno_text());
  const auto too_large = [&] { return unreadable("passa de " + limit_text()); };
  if (status.st_size < 0 || static_cast<std::size_t>(status.st_size) > kHandedOverLimit) {
    throw too_large();
  }
  BoundedRead read =
      read_at_most(source.get(), kHandedOverLimit, static_cast<std::size_t>(status.st_size));
  if (read.error != 0) throw unreadable(errno_text(read.error));
  if (read.over) throw too_large();
  return std::move(read.text);
}

}  // namespace sonda

#include "app/small_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/errno_text.hpp"
#include "core/failure.hpp"
#include "core/unique_fd.hpp"
#include "outside/process/bounded_read.hpp"

namespace sonda {

namespace {

std::string size_text(std::size_t bytes) {
  constexpr std::size_t kKiB = 1024;
  if (bytes % (kKiB * kKiB) == 0) return std::to_string(bytes / (kKiB * kKiB)) + " MiB";
  return std::to_string(bytes / kKiB) + " KiB";
}

}  // namespace

std::optional<std::string> read_small_file(const std::string& path, std::size_t limit,
                                           const std::string& what, MissingFile missing) {
  const auto fail = [&](const std::string& why) {
    return ConfigError("não foi possível ler " + what + ": " + why);
  };
  // Without O_NONBLOCK, opening a pipe would wait for a writer.
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!file) {
    const int error = errno;
    const bool absent = error == ENOENT || error == ENOTDIR;
    if ((missing == MissingFile::gives_nothing && absent) ||
        (missing == MissingFile::gives_nothing_if_forbidden_too && (absent || error == EACCES))) {
      return std::nullopt;
    }
    throw fail(errno_text(error));
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) throw fail(errno_text());
  if (S_ISDIR(status.st_mode)) throw fail("é uma pasta, não um arquivo");
  if (!S_ISREG(status.st_mode)) throw fail("não é um arquivo comum");
  const auto too_large = [&] { return fail("passa de " + size_text(limit)); };
  if (static_cast<std::size_t>(status.st_size) > limit) throw too_large();

  // A file that grew since fstat is caught one read past the limit.
  BoundedRead read = read_at_most(file.get(), limit, static_cast<std::size_t>(status.st_size));
  if (read.error != 0) throw fail(errno_text(read.error));
  if (read.over) throw too_large();
  return std::move(read.text);
}

}  // namespace sonda

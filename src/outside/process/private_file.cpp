#include "outside/process/private_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/errno_text.hpp"
#include "outside/process/launcher.hpp"

namespace sonda {

namespace {

[[noreturn]] void refuse(const std::string& path, std::string_view what) {
  throw LaunchError(std::string(what) + " " + path +
                    " não é um arquivo comum deste usuário com um só vínculo; remova-o ou "
                    "defina SONDA_LOG_DIR");
}

}  // namespace

UniqueFd open_private_file(const std::string& path, std::string_view what) {
  UniqueFd fd(::open(path.c_str(),
                     O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  if (!fd) {
    // A symbolic link (O_NOFOLLOW) or a FIFO that nobody reads (O_NONBLOCK).
    if (errno == ELOOP || errno == ENXIO) refuse(path, what);
    throw LaunchError("não foi possível abrir " + std::string(what) + " " + path + ": " +
                      errno_text());
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1 ||
      status.st_uid != ::geteuid()) {
    refuse(path, what);
  }
  return fd;
}

}  // namespace sonda

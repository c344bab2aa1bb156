#include "outside/process/private_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "core/errno_text.hpp"
#include "outside/process/launcher.hpp"

namespace sonda {

namespace {

[[noreturn]] void refuse(const std::string& path, std::string_view what) {
  throw LaunchError(std::string(what) + " " + path +
                    " não é um arquivo comum deste usuário com um só vínculo; remova-o ou "
                    "defina SONDA_LOG_DIR");
}

// Whoever may write to a folder may remove or rename anything in it, unless its sticky bit
// keeps each file to its owner (as in /tmp). In such a folder another user could take away the
// lock file of a run still going, and the next launch would start a second run beside it and
// empty its log: no file there can be kept private, so the folder is refused as a whole.
void check_folder(int folder_fd, const std::string& folder) {
  struct stat status {};
  if (::fstat(folder_fd, &status) != 0) {
    throw LaunchError("não foi possível examinar a pasta " + folder + ": " + errno_text());
  }
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (status.st_mode & S_ISVTX) == 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    throw LaunchError("a pasta " + folder +
                      " deixa outros usuários apagarem os arquivos dela (permissões " + mode +
                      ", sem o bit sticky); tire a escrita do grupo e dos outros (chmod go-w) "
                      "ou ligue o bit sticky (chmod +t), ou defina SONDA_LOG_DIR com outra pasta");
  }
}

}  // namespace

UniqueFd open_private_file(const std::string& path, std::string_view what) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const auto unopened = [&] {
    return LaunchError("não foi possível abrir " + std::string(what) + " " + path + ": " +
                       errno_text());
  };
  // The file is opened through the folder that was checked, whatever its path names meanwhile.
  const UniqueFd folder_fd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!folder_fd) throw unopened();
  check_folder(folder_fd.get(), folder);

  UniqueFd fd(::openat(folder_fd.get(), name.c_str(),
                       O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  if (!fd) {
    // A symbolic link (O_NOFOLLOW) or a FIFO that nobody reads (O_NONBLOCK).
    if (errno == ELOOP || errno == ENXIO) refuse(path, what);
    throw unopened();
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1 ||
      status.st_uid != ::geteuid()) {
    refuse(path, what);
  }
  return fd;
}

}  // namespace sonda

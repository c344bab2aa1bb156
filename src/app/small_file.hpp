#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace sonda {

// What reading a file that is not there gives.
enum class MissingFile {
  fails,
  gives_nothing,
  gives_nothing_if_forbidden_too,  // also when this user may not open it
};

// The whole text of the regular file at `path`, at most `limit` bytes of it. The reading never
// waits on anything but the disk and never holds more than `limit` bytes: a folder, a device
// such as /dev/zero, a pipe or a file past `limit` is refused at once. Raises ConfigError
// "não foi possível ler " + `what` + ": " and the reason; a file that does not exist (or that
// this user may not open) gives nothing instead when `missing` says so.
std::optional<std::string> read_small_file(const std::string& path, std::size_t limit,
                                           const std::string& what,
                                           MissingFile missing = MissingFile::fails);

}  // namespace sonda

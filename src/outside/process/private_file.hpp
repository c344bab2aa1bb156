#pragma once

#include <string>
#include <string_view>

#include "core/unique_fd.hpp"

namespace sonda {

// Opens, for reading and writing and with every write at its end, a file that belongs to this
// user alone, in a folder that other users may write to only when its sticky bit is set (the
// temporary folder): without following a link and without waiting on a FIFO, and accepted only
// as a regular file with a single link owned by this user; created with mode 0600 when missing.
// Nothing is truncated. Raises LaunchError, naming `what` ("o registro") and the path, or the
// folder, at once otherwise: another local user must not be able to make the probe block, write
// into a file of its user, or take away a file it keeps there, by what they do in that folder.
UniqueFd open_private_file(const std::string& path, std::string_view what);

}  // namespace sonda

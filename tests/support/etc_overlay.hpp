#pragma once

#include <string>

#include "support/temp_dir.hpp"

namespace sonda::test {

// The folder /etc as a process started by the tests sees it: the machine's, with the files
// written here laid over it. Only that process (and what it starts) sees them, in a mount
// namespace of its own; the machine's /etc is never touched.
class EtcOverlay {
 public:
  EtcOverlay();

  // Writes `content` to /etc/`path` as the process will see it ("zabbix/zabbix_agentd.conf").
  void write(const std::string& path, const std::string& content) const;

  // For ProcessOptions::prepare_child: enters a mount namespace of its own (and a user
  // namespace when not root) and lays the files over /etc. Ends the child with status 125 when
  // this system allows none of it.
  void enter() const;

 private:
  TempDir dir_;
  std::string upper_, work_;
};

// The exit status of a child that could not enter its namespaces.
inline constexpr int kNoNamespaces = 125;

}  // namespace sonda::test

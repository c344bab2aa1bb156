#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "outside/questdb/questdb_conf.hpp"
#include "support/fake_server.hpp"

namespace sonda::test {

// A QuestDB /write endpoint on loopback over plain HTTP that answers each request with the next
// of `answers` (status, body), the last one from then on, and keeps what it saw.
class ScriptedQuestDb {
 public:
  explicit ScriptedQuestDb(std::vector<std::pair<int, std::string>> answers);

  int port() const { return server_.port(); }
  // Client settings for it, as the writers make them (user admin, password p4ss).
  QuestDbConf conf() const;
  std::vector<SeenHttpRequest> seen() const;

 private:
  std::vector<std::pair<int, std::string>> answers_;
  mutable std::mutex mutex_;
  std::vector<SeenHttpRequest> seen_;
  FakeServer server_;
};

// QuestDB 9's answer when it refuses a request at `line` (from 1) for `detail`, which follows
// "failed to parse line protocol:errors encountered on line(s):" as the server writes it.
std::string line_refusal(int line, const std::string& status_code, const std::string& detail);

}  // namespace sonda::test

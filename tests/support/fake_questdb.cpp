#include "support/fake_questdb.hpp"

#include <algorithm>

namespace sonda::test {

ScriptedQuestDb::ScriptedQuestDb(std::vector<std::pair<int, std::string>> answers)
    : answers_(std::move(answers)), server_([this](int fd, const std::atomic<bool>& stopping) {
        while (auto request = read_http_request(fd, stopping)) {
          std::pair<int, std::string> answer;
          {
            const std::lock_guard lock(mutex_);
            seen_.push_back(*request);
            answer = answers_[std::min(seen_.size(), answers_.size()) - 1];
          }
          write_http_answer(fd, answer.first, answer.second);
        }
      }) {}

QuestDbConf ScriptedQuestDb::conf() const {
  return questdb_conf_for(QuestDbTransport::http, "127.0.0.1", std::to_string(server_.port()),
                          "admin", "p4ss");
}

std::vector<SeenHttpRequest> ScriptedQuestDb::seen() const {
  const std::lock_guard lock(mutex_);
  return seen_;
}

std::string line_refusal(int line, const std::string& status_code, const std::string& detail) {
  return R"({"code":")" + status_code +
         R"(","message":"failed to parse line protocol:errors encountered on line(s):)" + detail +
         R"(","line":)" + std::to_string(line) + R"(,"errorId":"ab-)" + std::to_string(line) +
         R"("})";
}

}  // namespace sonda::test

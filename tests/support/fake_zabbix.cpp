#include "support/fake_zabbix.hpp"

#include <sys/socket.h>
#include <unistd.h>

namespace sonda::test {

std::string zabbix_frame(const std::string& json) {
  std::string frame = "ZBXD\x01";
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<char>(json.size() >> (8 * i) & 0xFF));
  frame.append(4, '\0');
  return frame + json;
}

FakeZabbix::FakeZabbix(std::vector<ZabbixAnswer> script)
    : script_(std::move(script)),
      server_([this](int fd, const std::atomic<bool>& stopping) { serve(fd, stopping); }) {}

void FakeZabbix::serve(int fd, const std::atomic<bool>& stopping) {
  std::string frame;
  if (!read_exactly(fd, 13, frame, stopping)) return;
  std::size_t length = 0;
  for (int i = 3; i >= 0; --i) length = length << 8 | static_cast<unsigned char>(frame[5 + i]);
  std::string body;
  if (!read_exactly(fd, length, body, stopping)) return;
  std::size_t number;
  {
    const std::lock_guard lock(mutex_);
    frames_.push_back(frame + body);
    number = frames_.size();
  }
  const ZabbixAnswer answer =
      number <= script_.size() ? script_[number - 1] : ZabbixAnswer::success;
  switch (answer) {
    case ZabbixAnswer::success:
      write_all_to(fd, zabbix_frame(R"({"response":"success","info":"processed: 1; failed: 0; )"
                                    R"(total: 1; seconds spent: 0.000040"})"));
      break;
    case ZabbixAnswer::failed:
      write_all_to(fd, zabbix_frame(R"({"response":"failed","info":"host is not allowed"})"));
      break;
    case ZabbixAnswer::never:
      hold_silently(fd, stopping);
      break;
    case ZabbixAnswer::drop:
      break;
    case ZabbixAnswer::garbage:
      write_all_to(fd, "HTTP/1.1 400 Bad Request\r\n\r\n");
      break;
  }
}

std::vector<std::string> FakeZabbix::frames() const {
  const std::lock_guard lock(mutex_);
  return frames_;
}

std::vector<nlohmann::json> FakeZabbix::items() const {
  std::vector<nlohmann::json> items;
  for (const std::string& frame : frames()) {
    const auto request = nlohmann::json::parse(frame.substr(13));
    for (const auto& item : request["data"]) items.push_back(item);
  }
  return items;
}

}  // namespace sonda::test

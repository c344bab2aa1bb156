#include "support/fake_zabbix.hpp"

#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <stdexcept>

#include "outside/zabbix/zabbix_frame.hpp"
#include "outside/zabbix/zabbix_request.hpp"

namespace sonda::test {

std::string sender_data_frame(std::string_view host, std::string_view key,
                              const FieldValue& value) {
  const ZabbixItemValue item{std::string(key), value};
  ZabbixFrame frame = frame_request(sender_data_body(host, std::span(&item, 1)));
  return frame.header + frame.payload;
}

std::string zabbix_frame(const std::string& json) {
  std::string frame = "ZBXD\x01";
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<char>(json.size() >> (8 * i) & 0xFF));
  frame.append(4, '\0');
  return frame + json;
}

namespace {

std::uint32_t length_at(const std::string& frame, std::size_t offset) {
  std::uint32_t length = 0;
  for (int i = 3; i >= 0; --i) length = length << 8 | static_cast<unsigned char>(frame[offset + i]);
  return length;
}

std::string header(unsigned char flags, std::size_t first, std::size_t second) {
  std::string out = "ZBXD";
  out.push_back(static_cast<char>(flags));
  for (const std::size_t length : {first, second}) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(length >> (8 * i) & 0xFF));
  }
  return out;
}

std::string compressed_frame(const std::string& json) {
  std::string packed(::compressBound(json.size()), '\0');
  uLongf length = packed.size();
  ::compress(reinterpret_cast<Bytef*>(packed.data()), &length,
             reinterpret_cast<const Bytef*>(json.data()), json.size());
  packed.resize(length);
  return header(0x03, packed.size(), json.size()) + packed;
}

std::string counts(std::uint64_t processed, std::uint64_t failed, std::uint64_t total) {
  return R"({"response":"success","info":"processed: )" + std::to_string(processed) +
         "; failed: " + std::to_string(failed) + "; total: " + std::to_string(total) +
         R"(; seconds spent: 0.000040"})";
}

std::string counts(std::size_t processed, std::size_t failed) {
  return counts(processed, failed, processed + failed);
}

}  // namespace

std::string zabbix_frame_body(const std::string& frame) {
  if (!(static_cast<unsigned char>(frame.at(4)) & 0x02)) return frame.substr(13);
  std::string body(length_at(frame, 9), '\0');
  uLongf length = body.size();
  if (::uncompress(reinterpret_cast<Bytef*>(body.data()), &length,
                   reinterpret_cast<const Bytef*>(frame.data() + 13), frame.size() - 13) != Z_OK ||
      length != body.size()) {
    throw std::runtime_error("corpo comprimido inválido");
  }
  return body;
}

FakeZabbix::FakeZabbix(std::vector<ZabbixAnswer> script)
    : script_(std::move(script)),
      server_([this](int fd, const std::atomic<bool>& stopping) { serve(fd, stopping); }) {}

void FakeZabbix::serve(int fd, const std::atomic<bool>& stopping) {
  std::string frame;
  if (!read_exactly(fd, 13, frame, stopping)) return;
  const std::size_t length = length_at(frame, 5);
  std::string body;
  if (!read_exactly(fd, length, body, stopping)) return;
  std::size_t number;
  std::string redirect_address;
  {
    const std::lock_guard lock(mutex_);
    frames_.push_back(frame + body);
    number = frames_.size();
    redirect_address = redirect_address_;
  }
  const ZabbixAnswer answer =
      number <= script_.size() ? script_[number - 1] : ZabbixAnswer::success;
  const std::size_t values = nlohmann::json::parse(zabbix_frame_body(frame + body))["data"].size();
  switch (answer) {
    case ZabbixAnswer::success:
      write_all_to(fd, zabbix_frame(counts(values, 0)));
      break;
    case ZabbixAnswer::refused:
      write_all_to(fd, zabbix_frame(counts(0, values)));
      break;
    case ZabbixAnswer::compressed:
      write_all_to(fd, compressed_frame(counts(values, 0)));
      break;
    case ZabbixAnswer::late_close:
      write_all_to(fd, zabbix_frame(counts(values, 0)));
      hold_silently(fd, stopping);
      break;
    case ZabbixAnswer::uncounted:
      write_all_to(fd, zabbix_frame(counts(0, 0, 0)));
      break;
    case ZabbixAnswer::overcounted:
      write_all_to(fd, zabbix_frame(counts(0, UINT64_MAX, UINT64_MAX)));
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
    case ZabbixAnswer::redirect:
      // As a Zabbix 7.0.22 proxy answers, byte for byte.
      write_all_to(fd, zabbix_frame(R"({"redirect":{"revision":1,"address":")" + redirect_address +
                                    R"("},"response":"failed"})"));
      break;
    case ZabbixAnswer::reset:
      write_all_to(fd,
                   zabbix_frame(R"({"redirect":{"revision":2,"reset":true},"response":"failed"})"));
      break;
  }
}

void FakeZabbix::redirect_to(const std::string& address) {
  const std::lock_guard lock(mutex_);
  redirect_address_ = address;
}

std::vector<std::string> FakeZabbix::frames() const {
  const std::lock_guard lock(mutex_);
  return frames_;
}

std::vector<nlohmann::json> FakeZabbix::items() const {
  std::vector<nlohmann::json> items;
  for (const std::string& frame : frames()) {
    const auto request = nlohmann::json::parse(zabbix_frame_body(frame));
    for (const auto& item : request["data"]) items.push_back(item);
  }
  return items;
}

std::vector<std::size_t> FakeZabbix::request_sizes() const {
  std::vector<std::size_t> sizes;
  for (const std::string& frame : frames()) {
    sizes.push_back(nlohmann::json::parse(zabbix_frame_body(frame))["data"].size());
  }
  return sizes;
}

}  // namespace sonda::test

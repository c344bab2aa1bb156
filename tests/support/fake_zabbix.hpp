#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/field_value.hpp"
#include "support/fake_server.hpp"

namespace sonda::test {

// The frame of a "sender data" request for one value, as zabbix_sender writes it: "ZBXD", flags
// 0x01, the body's length and a reserved field (32-bit little-endian each), then
// {"request":"sender data","data":[{"host":...,"key":...,"value":...}]}. The value travels as a
// JSON string (an integer as its digits, a real number in its shortest round-trip form, a text
// as itself) or as null when absent. A date-time has no Zabbix form (InternalError).
std::string sender_data_frame(std::string_view host, std::string_view key, const FieldValue& value);

// What a fake Zabbix server does with the n-th request (counted from 1). Success counts every
// value of the request processed; refused counts them all failed, as a real server does for an
// unknown host; compressed is a success in a zlib-compressed frame; late_close is a success
// after which the server keeps the connection open until the sender closes it; uncounted is a
// success that counts nothing ("processed: 0; failed: 0; total: 0"); overcounted a success that
// counts 2^64-1 failed values, whatever was sent; redirect is the answer of a Zabbix 7.0 proxy
// that does not monitor the host, naming the address given to redirect_to(); reset is the
// redirect that sends the sender back to its configured address.
enum class ZabbixAnswer {
  success,
  failed,
  never,
  drop,
  garbage,
  refused,
  compressed,
  late_close,
  uncounted,
  overcounted,
  redirect,
  reset
};

// A Zabbix trapper on loopback that records every "sender data" request and answers it as the
// script says; requests past the script are answered with success.
class FakeZabbix {
 public:
  explicit FakeZabbix(std::vector<ZabbixAnswer> script = {});

  std::string address() const { return "127.0.0.1:" + std::to_string(server_.port()); }
  // The raw frames received, in order.
  std::vector<std::string> frames() const;
  // The (host, key, value) items received, in order; value is the JSON value (string or null).
  std::vector<nlohmann::json> items() const;
  // The number of values of each request, in order.
  std::vector<std::size_t> request_sizes() const;
  int connections() const { return server_.connections(); }
  // Where redirect answers send the sender ("host:port").
  void redirect_to(const std::string& address);

 private:
  void serve(int fd, const std::atomic<bool>& stopping);

  std::vector<ZabbixAnswer> script_;
  mutable std::mutex mutex_;
  std::vector<std::string> frames_;
  std::string redirect_address_;
  FakeServer server_;
};

// A complete answer frame around `json`.
std::string zabbix_frame(const std::string& json);

// The JSON body of a request frame, decompressed when it came compressed (flags 0x03).
std::string zabbix_frame_body(const std::string& frame);

}  // namespace sonda::test

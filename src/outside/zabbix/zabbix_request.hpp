#pragma once

#include <span>
#include <string>
#include <string_view>

#include "core/field_value.hpp"
#include "outside/zabbix/zabbix_frame.hpp"

namespace sonda {

// One item value of a "sender data" request.
struct ZabbixItemValue {
  std::string key;
  FieldValue value;
};

// The body of a "sender data" request, as zabbix_sender writes it:
// {"request":"sender data","data":[{"host":...,"key":...,"value":...},...]}, the values in the
// given order. A value travels as a JSON string (an integer as its digits, a real number in its
// shortest round-trip form, a text as itself) or as null when absent; bytes that are not UTF-8
// become U+FFFD. A date-time has no Zabbix form (InternalError).
std::string sender_data_body(std::string_view host, std::span<const ZabbixItemValue> values);

// The same for one text value that the call may take over, so that a large one (the discovery
// document) is copied only into the body.
std::string sender_data_body(std::string_view host, std::string_view key, std::string&& text);

// The frame of that request for a text written in pieces, each escaped and added to the frame
// as it comes (see ZabbixFrameWriter): a text of hundreds of megabytes (the discovery document)
// is never held whole, escaped or not. The frame is byte for byte frame_request() of
// sender_data_body() of the whole text.
class SenderTextRequest {
 public:
  SenderTextRequest(std::string_view host, std::string_view key);

  // Appends ASCII text (InternalError for any other byte: the discovery document is ASCII).
  // Raises ZabbixError when the request passes the protocol's 4 GiB or cannot be compressed.
  void append(std::string_view text);
  // The request's frame. The request is spent.
  ZabbixFrame finish();

 private:
  void add(std::string_view bytes);
  [[noreturn]] void fail(const ZabbixFrameError& error) const;

  std::string key_;
  ZabbixFrameWriter frame_;
};

}  // namespace sonda

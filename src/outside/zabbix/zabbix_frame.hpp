#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace sonda {

// Requests with a body larger than this travel zlib-compressed.
inline constexpr std::size_t kZabbixCompressFrom = 1024 * 1024;

// Longest answer accepted, compressed or not: a sender answer is a line of counts.
inline constexpr std::size_t kZabbixMaxAnswer = 16 * 1024 * 1024;

// A frame ready to write: its header, then its payload (the body, or the body compressed).
struct ZabbixFrame {
  std::string header;
  std::string payload;
};

// An answer that is not a Zabbix frame. Its text says what is wrong, in Portuguese.
class ZabbixFrameError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Frames a request body as zabbix_sender does: "ZBXD", flags 0x01, the body's length and a
// reserved 0 (32-bit little-endian each). A body over kZabbixCompressFrom is compressed with
// zlib (its fastest level) and framed with flags 0x03, the compressed length and then the body's
// own; the body is then released. Raises ZabbixFrameError when the body passes 4 GiB, the
// protocol's limit.
ZabbixFrame frame_request(std::string&& body);

// The same frame, for a body written in pieces: up to kZabbixCompressFrom bytes are kept as they
// are, and once the body passes that, it is compressed as it arrives. A body of hundreds of
// megabytes then costs the memory of its compressed form, and the frame is byte for byte the
// one frame_request() makes of the whole body.
class ZabbixFrameWriter {
 public:
  ZabbixFrameWriter();
  ~ZabbixFrameWriter();
  ZabbixFrameWriter(const ZabbixFrameWriter&) = delete;
  ZabbixFrameWriter& operator=(const ZabbixFrameWriter&) = delete;

  // Raises ZabbixFrameError once the body passes 4 GiB.
  void append(std::string_view bytes);
  // The frame of everything appended. The writer is spent.
  ZabbixFrame finish();

 private:
  class Compressor;

  std::uint64_t size_ = 0;
  std::string plain_;                       // until the body passes kZabbixCompressFrom
  std::unique_ptr<Compressor> compressor_;  // from then on
};

// The size of the whole answer frame at the start of `received`, once enough of its header has
// arrived; nothing before. Raises ZabbixFrameError as soon as the bytes cannot start a frame
// (no "ZBXD", unknown flags) or announce one larger than kZabbixMaxAnswer.
std::optional<std::size_t> answer_frame_size(std::string_view received);

// The JSON text of a complete answer frame, decompressed when the server compressed it. Raises
// ZabbixFrameError when the compressed data is damaged or does not have the announced length.
std::string answer_payload(std::string_view frame);

}  // namespace sonda

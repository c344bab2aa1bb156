#include "outside/zabbix/zabbix_frame.hpp"

#include <zlib.h>

#include <cstdint>
#include <memory>

namespace sonda {

namespace {

constexpr std::string_view kSignature = "ZBXD";
constexpr unsigned char kFlagProtocol = 0x01;
constexpr unsigned char kFlagCompressed = 0x02;
constexpr unsigned char kFlagLarge = 0x04;
constexpr std::size_t kMaxLength = UINT32_MAX;

std::uint64_t little_endian(std::string_view bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) {
    value = value << 8 | static_cast<unsigned char>(bytes[i]);
  }
  return value;
}

void append_little_endian(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
}

std::string header(unsigned char flags, std::size_t payload, std::size_t reserved) {
  std::string out(kSignature);
  out.push_back(static_cast<char>(flags));
  append_little_endian(out, static_cast<std::uint32_t>(payload));
  append_little_endian(out, static_cast<std::uint32_t>(reserved));
  return out;
}

struct AnswerHeader {
  unsigned char flags;
  std::size_t size;       // of the header
  std::uint64_t payload;  // bytes after the header
  std::uint64_t plain;    // of the JSON text (the payload's own size unless compressed)
};

std::optional<AnswerHeader> read_header(std::string_view received) {
  const std::size_t known = std::min(received.size(), kSignature.size());
  if (received.substr(0, known) != kSignature.substr(0, known)) {
    throw ZabbixFrameError("resposta inválida (sem o cabeçalho ZBXD)");
  }
  if (received.size() < 5) return std::nullopt;
  const auto flags = static_cast<unsigned char>(received[4]);
  if (!(flags & kFlagProtocol) || (flags & ~(kFlagProtocol | kFlagCompressed | kFlagLarge))) {
    throw ZabbixFrameError("resposta com marcadores não suportados");
  }
  const std::size_t field = (flags & kFlagLarge) ? 8 : 4;
  if (received.size() < 5 + 2 * field) return std::nullopt;
  AnswerHeader found{flags, 5 + 2 * field, little_endian(received.substr(5, field)),
                     little_endian(received.substr(5 + field, field))};
  if (!(flags & kFlagCompressed)) found.plain = found.payload;
  if (found.payload > kZabbixMaxAnswer || found.plain > kZabbixMaxAnswer) {
    throw ZabbixFrameError("resposta grande demais");
  }
  return found;
}

}  // namespace

// A zlib stream at the level and with the parameters of compress2(), fed piece by piece: the
// output is the same bytes as one compress2() call on the whole input.
class ZabbixFrameWriter::Compressor {
 public:
  Compressor() {
    // The fastest level: JSON shrinks several times over even so, and a large document is
    // compressed in a fraction of the time its transfer would take.
    const int result = ::deflateInit(&stream_, Z_BEST_SPEED);
    if (result != Z_OK) fail(result);
  }
  ~Compressor() { ::deflateEnd(&stream_); }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  void add(std::string_view bytes) { run(bytes, Z_NO_FLUSH); }

  std::string finish() {
    run({}, Z_FINISH);
    return std::move(output_);
  }

 private:
  static constexpr std::size_t kRoom = 64 * 1024;

  [[noreturn]] static void fail(int result) {
    throw ZabbixFrameError(std::string("falha ao comprimir o envio: ") + ::zError(result));
  }

  void run(std::string_view bytes, int flush) {
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream_.avail_in = static_cast<uInt>(bytes.size());
    Bytef room[kRoom];
    for (;;) {
      stream_.next_out = room;
      stream_.avail_out = kRoom;
      const int result = ::deflate(&stream_, flush);
      if (result == Z_STREAM_ERROR) fail(result);
      output_.append(reinterpret_cast<const char*>(room), kRoom - stream_.avail_out);
      if (flush == Z_FINISH ? result == Z_STREAM_END : stream_.avail_out != 0) return;
    }
  }

  z_stream stream_{};
  std::string output_;
};

ZabbixFrameWriter::ZabbixFrameWriter() = default;
ZabbixFrameWriter::~ZabbixFrameWriter() = default;

void ZabbixFrameWriter::append(std::string_view bytes) {
  size_ += bytes.size();
  if (size_ > kMaxLength) {
    throw ZabbixFrameError("o envio passa de 4 GiB, o máximo do protocolo");
  }
  if (!compressor_ && size_ <= kZabbixCompressFrom) {
    plain_ += bytes;
    return;
  }
  if (!compressor_) {
    compressor_ = std::make_unique<Compressor>();
    compressor_->add(plain_);
    std::string().swap(plain_);
  }
  // zlib counts input in 32-bit units.
  constexpr std::size_t kMostAtOnce = 1u << 30;
  for (std::size_t at = 0; at < bytes.size(); at += kMostAtOnce) {
    compressor_->add(bytes.substr(at, kMostAtOnce));
  }
}

ZabbixFrame ZabbixFrameWriter::finish() {
  if (!compressor_) return {header(kFlagProtocol, plain_.size(), 0), std::move(plain_)};
  std::string payload = compressor_->finish();
  compressor_.reset();
  return {header(kFlagProtocol | kFlagCompressed, payload.size(), size_), std::move(payload)};
}

ZabbixFrame frame_request(std::string&& body) {
  if (body.size() <= kZabbixCompressFrom) {
    return {header(kFlagProtocol, body.size(), 0), std::move(body)};
  }
  ZabbixFrameWriter writer;
  writer.append(body);
  std::string().swap(body);  // the caller's body is not needed again: free it before the send
  return writer.finish();
}

std::optional<std::size_t> answer_frame_size(std::string_view received) {
  const auto found = read_header(received);
  if (!found) return std::nullopt;
  return found->size + static_cast<std::size_t>(found->payload);
}

std::string answer_payload(std::string_view frame) {
  const auto found = read_header(frame);
  if (!found || frame.size() != found->size + found->payload) {
    throw ZabbixFrameError("resposta incompleta");
  }
  const std::string_view payload = frame.substr(found->size);
  if (!(found->flags & kFlagCompressed)) return std::string(payload);
  std::string plain(static_cast<std::size_t>(found->plain), '\0');
  auto length = static_cast<uLongf>(plain.size());
  const int result = ::uncompress(reinterpret_cast<Bytef*>(plain.data()), &length,
                                  reinterpret_cast<const Bytef*>(payload.data()), payload.size());
  if (result != Z_OK || length != plain.size()) {
    throw ZabbixFrameError("resposta comprimida inválida");
  }
  return plain;
}

}  // namespace sonda

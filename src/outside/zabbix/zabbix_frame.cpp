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

ZabbixFrame frame_request(std::string&& body) {
  if (body.size() > kMaxLength) {
    throw ZabbixFrameError("o envio passa de 4 GiB, o máximo do protocolo");
  }
  if (body.size() <= kZabbixCompressFrom) {
    return {header(kFlagProtocol, body.size(), 0), std::move(body)};
  }
  // Room for the worst case, left uninitialised: only the pages the output reaches are ever
  // touched, so a document of hundreds of megabytes costs the memory of its compressed form.
  auto length = static_cast<uLongf>(::compressBound(body.size()));
  const std::unique_ptr<Bytef[]> room(new Bytef[length]);
  // The fastest level: JSON shrinks several times over even so, and a large document is
  // compressed in a fraction of the time its transfer would take.
  const int result = ::compress2(room.get(), &length, reinterpret_cast<const Bytef*>(body.data()),
                                 body.size(), Z_BEST_SPEED);
  if (result != Z_OK) {
    throw ZabbixFrameError(std::string("falha ao comprimir o envio: ") + ::zError(result));
  }
  std::string frame_header = header(kFlagProtocol | kFlagCompressed, length, body.size());
  std::string().swap(body);  // the caller's body is not needed again: free it before the send
  return {std::move(frame_header), std::string(reinterpret_cast<const char*>(room.get()), length)};
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

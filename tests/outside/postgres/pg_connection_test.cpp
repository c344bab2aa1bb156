// The PostgreSQL reader against a fake server that lies about the size of binary values: the
// real server never does, a broken or hostile one may.
#include "outside/postgres/pg_connection.hpp"

#include <cstdint>

#include <gtest/gtest.h>

#include "support/fake_server.hpp"

namespace sonda::test {
namespace {

std::string int32_bytes(std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

std::string int16_bytes(std::int16_t value) {
  const auto v = static_cast<std::uint16_t>(value);
  return {static_cast<char>(v >> 8), static_cast<char>(v)};
}

// A backend message: type, length (counting itself), body.
std::string message(char type, const std::string& body) {
  return std::string(1, type) + int32_bytes(static_cast<std::int32_t>(body.size() + 4)) + body;
}

std::int32_t read_int32(const std::string& bytes) {
  return static_cast<std::int32_t>(
      static_cast<unsigned char>(bytes[0]) << 24 | static_cast<unsigned char>(bytes[1]) << 16 |
      static_cast<unsigned char>(bytes[2]) << 8 | static_cast<unsigned char>(bytes[3]));
}

// Speaks just enough of the protocol for one statement, whose one column `v` has type `oid`
// and whose one row holds `value` in binary form.
void serve_one_value(int fd, const std::atomic<bool>& stopping, std::int32_t oid,
                     const std::string& value) {
  constexpr std::int32_t kSslRequest = 80877103;
  constexpr std::int32_t kGssRequest = 80877104;
  for (;;) {  // start-up packets: refuse TLS and GSS encryption, take the start-up message
    std::string length, rest;
    if (!read_exactly(fd, 4, length, stopping) ||
        !read_exactly(fd, static_cast<std::size_t>(read_int32(length) - 4), rest, stopping)) {
      return;
    }
    const std::int32_t code = read_int32(rest);
    if (code != kSslRequest && code != kGssRequest) break;
    write_all_to(fd, "N");
  }
  write_all_to(fd, message('R', int32_bytes(0)) +
                       message('S', std::string("client_encoding\0UTF8\0", 21)) +
                       message('S', std::string("standard_conforming_strings\0on\0", 31)) +
                       message('K', int32_bytes(1) + int32_bytes(2)) + message('Z', "I"));
  for (;;) {  // Parse, Bind, Describe, Execute, then Sync
    std::string type, length, body;
    if (!read_exactly(fd, 1, type, stopping) || !read_exactly(fd, 4, length, stopping) ||
        !read_exactly(fd, static_cast<std::size_t>(read_int32(length) - 4), body, stopping)) {
      return;
    }
    if (type == "S") break;
  }
  const std::string column = std::string("v\0", 2) + int32_bytes(0) + int16_bytes(0) +
                             int32_bytes(oid) + int16_bytes(-1) + int32_bytes(-1) + int16_bytes(1);
  write_all_to(
      fd, message('1', "") + message('2', "") + message('T', int16_bytes(1) + column) +
              message('D', int16_bytes(1) + int32_bytes(static_cast<std::int32_t>(value.size())) +
                               value) +
              message('C', std::string("SELECT 1\0", 9)) + message('Z', "I"));
  hold_silently(fd, stopping);
}

FieldValue value_from(std::int32_t oid, const std::string& value) {
  FakeServer server([&](int fd, const std::atomic<bool>& stopping) {
    serve_one_value(fd, stopping, oid, value);
  });
  PgConnection connection({"127.0.0.1", std::to_string(server.port()), "db", "user", "secret"});
  const PgResult result = connection.query("SELECT v", "a consulta");
  return result.value(0, 0);
}

TEST(PgConnection, BinaryValuesOfAnotherSizeThanTheirTypeAreNeverRead) {
  EXPECT_EQ(value_from(23, int32_bytes(7)), FieldValue(std::int64_t{7}));

  const std::tuple<std::int32_t, std::string, std::string> cases[] = {
      {21, std::string(4, '\1'), "4 bytes onde o tipo tem 2"},   // int2
      {23, std::string(2, '\1'), "2 bytes onde o tipo tem 4"},   // int4
      {20, std::string(4, '\1'), "4 bytes onde o tipo tem 8"},   // int8
      {700, std::string(1, '\1'), "1 bytes onde o tipo tem 4"},  // float4
      {701, std::string(9, '\1'), "9 bytes onde o tipo tem 8"},  // float8
      {1114, "", "0 bytes onde o tipo tem 8"},                   // timestamp
  };
  for (const auto& [oid, value, expected] : cases) {
    try {
      value_from(oid, value);
      ADD_FAILURE() << "type " << oid << " with " << value.size() << " bytes was read";
    } catch (const DataError& error) {
      EXPECT_EQ(std::string(error.what()), "a coluna v traz um valor de " + expected);
    }
  }
}

}  // namespace
}  // namespace sonda::test

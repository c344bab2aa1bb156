#include "discovery/discovery_document.hpp"

#include <zlib.h>

#include <limits>

#include <gtest/gtest.h>

#include "discovery/customer_entries.hpp"
#include "outside/zabbix/zabbix_request.hpp"
#include "support/values.hpp"

namespace sonda {
namespace {

using test::integer;
using test::text;

// The whole document of a few entries, in one string.
std::string discovery_document(const std::vector<MacroEntry>& discovery,
                               DocumentAmounts amounts = DocumentAmounts::kept) {
  std::string document;
  write_discovery_document(BuiltMacroEntries(discovery), amounts,
                           [&](std::string_view piece) { document += piece; });
  return document;
}

MacroEntry discovery_entry(FieldValue id, FieldValue razao, FieldValue cpf, FieldValue valor,
                           FieldValue titulos, FieldValue contato) {
  return {{"{#CLIENTE_ID}", id},      {"{#RAZAOSOCIAL}", razao},         {"{#CPF_CNPJ}", cpf},
          {"{#VALOR_DIVIDA}", valor}, {"{#TITULOS_EM_ATRASO}", titulos}, {"{#CONTATO}", contato}};
}

TEST(DiscoveryDocument, TwoCustomers) {
  const std::vector<MacroEntry> discovery = {
      discovery_entry(integer(42), text("Mercado Estação"), text("00000000000"), 150.5, integer(2),
                      text("0000-0000 | 1111-1111")),
      discovery_entry(integer(43), text("Loja Azul"), Absent{}, 0.0, integer(0), text("N/A")),
  };
  EXPECT_EQ(discovery_document(discovery),
            R"({"data": [{"{#CLIENTE_ID}": 42, "{#RAZAOSOCIAL}": "Mercado Esta\u00e7\u00e3o", )"
            R"("{#CPF_CNPJ}": "00000000000", "{#VALOR_DIVIDA}": 150.5, "{#TITULOS_EM_ATRASO}": 2, )"
            R"("{#CONTATO}": "0000-0000 | 1111-1111"}, {"{#CLIENTE_ID}": 43, "{#RAZAOSOCIAL}": )"
            R"("Loja Azul", "{#CPF_CNPJ}": null, "{#VALOR_DIVIDA}": 0.0, "{#TITULOS_EM_ATRASO}": )"
            R"(0, "{#CONTATO}": "N/A"}]})");

  // Without the amounts, the same members in the same order, and nothing else changes.
  EXPECT_EQ(discovery_document(discovery, DocumentAmounts::left_out),
            R"({"data": [{"{#CLIENTE_ID}": 42, "{#RAZAOSOCIAL}": "Mercado Esta\u00e7\u00e3o", )"
            R"("{#CPF_CNPJ}": "00000000000", "{#CONTATO}": "0000-0000 | 1111-1111"}, )"
            R"({"{#CLIENTE_ID}": 43, "{#RAZAOSOCIAL}": "Loja Azul", "{#CPF_CNPJ}": null, )"
            R"("{#CONTATO}": "N/A"}]})");
}

TEST(DiscoveryDocument, EmptyList) { EXPECT_EQ(discovery_document({}), R"({"data": []})"); }

TEST(DiscoveryDocument, TextEscapes) {
  const std::vector<MacroEntry> discovery = {{{"k", text("\"\\/\n\r\t\b\f\x01\x1f\x7f é 😀 ~")}}};
  EXPECT_EQ(discovery_document(discovery),
            R"({"data": [{"k": "\"\\/\n\r\t\b\f\u0001\u001f\u007f \u00e9 \ud83d\ude00 ~"}]})");
}

TEST(DiscoveryDocument, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  const std::vector<MacroEntry> discovery = {{{"k", text("a\xff"
                                                         "b\xc3")}}};
  EXPECT_EQ(discovery_document(discovery), R"({"data": [{"k": "a\ufffdb\ufffd"}]})");
}

// NaN and the infinities as null: Zabbix refuses a document with bare NaN as a whole.
TEST(DiscoveryDocument, NumbersInTheirShortestFormsAndNonFiniteOnesAsNull) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<MacroEntry> discovery = {{{"a", 1e-05},
                                              {"b", 1e16},
                                              {"c", 100000.0},
                                              {"d", std::numeric_limits<double>::quiet_NaN()},
                                              {"e", inf},
                                              {"f", -inf},
                                              {"g", integer(-7)}}};
  EXPECT_EQ(discovery_document(discovery),
            R"({"data": [{"a": 1e-05, "b": 1e+16, "c": 100000.0, "d": null, "e": null, )"
            R"("f": null, "g": -7}]})");
}

// A document of 20,000 customers (3 MiB, past the compression threshold and made of dozens of
// pieces) written and framed as a run sends it, against the way it was sent when it was held
// whole: one string written out here, the request body that the sender builds for a whole text,
// and zlib's compress2() of that body. Every byte must be the same, however the pieces fall.
TEST(DiscoveryDocument, LargeDocumentFramedAsItIsWrittenIsTheWholeDocumentsFrame) {
  BillingData data;
  std::string expected = "{\"data\": [";
  for (int i = 0; i < 20'000; ++i) {
    const std::string name = "Cliente \"" + std::to_string(i) + "\" \\ Ltda é";
    const bool no_contact = i % 7 == 0;
    data.clientes_data.push_back({integer(i), text(data.texts.keep(name)),
                                  i % 5 == 0 ? FieldValue(Absent{}) : text("000.000.000-00"),
                                  integer(i % 4), 150.25 * (i % 3),
                                  no_contact ? Absent{} : text("a | b"), Absent{}, Absent{},
                                  Absent{}, integer(1)});
    expected += std::string(i == 0 ? "" : ", ") + "{\"{#CLIENTE_ID}\": " + std::to_string(i) +
                ", \"{#RAZAOSOCIAL}\": \"Cliente \\\"" + std::to_string(i) +
                "\\\" \\\\ Ltda \\u00e9\", \"{#CPF_CNPJ}\": " +
                (i % 5 == 0 ? "null" : "\"000.000.000-00\"") + ", \"{#VALOR_DIVIDA}\": " +
                (i % 3 == 0   ? "0.0"
                 : i % 3 == 1 ? "150.25"
                              : "300.5") +
                ", \"{#TITULOS_EM_ATRASO}\": " + std::to_string(i % 4) + ", \"{#CONTATO}\": \"" +
                (no_contact ? "N/A" : "a | b") + "\"}";
  }
  expected += "]}";
  data.titulos_valor_em_aberto = {{integer(0), Absent{}}};
  const CustomerEntries entries = build_customer_entries(data, "h");

  std::string document;
  std::size_t pieces = 0;
  SenderTextRequest request("sonda \"á\"", "discovery_clientes");
  write_discovery_document(entries.discovery, DocumentAmounts::kept, [&](std::string_view piece) {
    document += piece;
    request.append(piece);
    ++pieces;
  });
  ASSERT_EQ(document, expected);
  EXPECT_GT(pieces, 40u);
  const ZabbixFrame frame = request.finish();

  const std::string body =
      sender_data_body("sonda \"á\"", "discovery_clientes", std::string(expected));
  ASSERT_GT(body.size(), kZabbixCompressFrom);
  std::string packed(compressBound(body.size()), '\0');
  auto packed_size = static_cast<uLongf>(packed.size());
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(packed.data()), &packed_size,
                      reinterpret_cast<const Bytef*>(body.data()), body.size(), Z_BEST_SPEED),
            Z_OK);
  packed.resize(packed_size);
  EXPECT_EQ(frame.header, frame_request(std::string(body)).header);
  EXPECT_EQ(frame.header.substr(5, 4), std::string(reinterpret_cast<const char*>(&packed_size), 4));
  EXPECT_TRUE(frame.payload == packed) << "the compressed bytes differ";

  // The same document in pieces of other sizes gives the same frame.
  for (const std::size_t size : {std::size_t{1}, std::size_t{7}, std::size_t{4093}}) {
    SenderTextRequest again("sonda \"á\"", "discovery_clientes");
    for (std::size_t at = 0; at < expected.size(); at += size) {
      again.append(std::string_view(expected).substr(at, size));
    }
    const ZabbixFrame other = again.finish();
    EXPECT_EQ(other.header, frame.header) << size;
    EXPECT_TRUE(other.payload == frame.payload) << size;
  }
}

}  // namespace
}  // namespace sonda

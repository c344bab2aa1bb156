#include "discovery/discovery_document.hpp"

#include <limits>

#include <gtest/gtest.h>

#include "support/values.hpp"

namespace sonda {
namespace {

using test::integer;
using test::text;

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

}  // namespace
}  // namespace sonda

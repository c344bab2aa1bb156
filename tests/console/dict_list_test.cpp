#include "console/dict_list.hpp"

#include <vector>

#include <gtest/gtest.h>

namespace sonda {
namespace {

std::string printed(const std::vector<MacroEntry>& records) {
  LineOutput out(-1, std::size_t{1} << 40);
  print_dict_list(BuiltMacroEntries(records), out);
  return std::string(out.buffered());
}

TEST(PrintDictList, WorkedExample) {
  const std::vector<MacroEntry> records = {{{"{#CLIENTE_ID}", std::int64_t{42}},
                                            {"{#RAZAOSOCIAL}", std::string_view("Mercado Azul")},
                                            {"{#CPF_CNPJ}", Absent{}},
                                            {"{#VALOR_DIVIDA}", 150.0}}};
  EXPECT_EQ(printed(records),
            "{#CLIENTE_ID}   42          \n"
            "{#RAZAOSOCIAL}  Mercado Azul\n"
            "{#CPF_CNPJ}    \n"
            "{#VALOR_DIVIDA} 150.0       \n"
            "\n");
}

TEST(PrintDictList, EmptyListWritesNothing) { EXPECT_EQ(printed({}), ""); }

TEST(PrintDictList, OneFieldHasNoFilling) {
  EXPECT_EQ(printed({{{"k", std::int64_t{0}}}}), "k 0\n\n");
}

TEST(PrintDictList, WidthsCountCodePointsAndEachRecordIsItsOwnTable) {
  const std::vector<MacroEntry> records = {
      {{"nome", std::string_view("São João")}, {"x", std::string_view("ab")}},
      {{"nome", std::string_view("São João")}, {"chave", std::string_view("0123456789")}},
  };
  EXPECT_EQ(printed(records),
            "nome São João\n"
            "x    ab      \n"
            "\n"
            "nome  São João  \n"
            "chave 0123456789\n"
            "\n");
}

TEST(PrintDictList, AbsentValueCountsFourCharacters) {
  const std::vector<MacroEntry> records = {
      {{"a", std::int64_t{1}}, {"bb", Absent{}}, {"c", 0.5}},
  };
  EXPECT_EQ(printed(records), "a  1   \nbb\nc  0.5 \n\n");
}

TEST(PrintDictList, RecordWithoutFieldsIsRefused) {
  EXPECT_THROW(printed({MacroEntry{}}), InternalError);
}

}  // namespace
}  // namespace sonda

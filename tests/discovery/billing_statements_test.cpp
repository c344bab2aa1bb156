#include "discovery/billing_statements.hpp"

#include <algorithm>
#include <cstdint>

#include <gtest/gtest.h>

namespace sonda {
namespace {

// FNV-1a, 64 bits: any change to a single byte of a statement changes it.
std::uint64_t fingerprint(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3u;
  }
  return hash;
}

TEST(BillingStatements, CustomerStatementIsExact) {
  EXPECT_EQ(kCustomerStatement.size(), 2366u);
  EXPECT_EQ(std::count(kCustomerStatement.begin(), kCustomerStatement.end(), '\n') + 1, 57);
  EXPECT_EQ(fingerprint(kCustomerStatement), 0x5a2f57cb2a787927u);
  EXPECT_TRUE(kCustomerStatement.starts_with("\n\tSELECT \n"));
  EXPECT_TRUE(kCustomerStatement.ends_with("idCliente asc;\n        "));
}

TEST(BillingStatements, OpenBillsStatementIsHeadPopIdTail) {
  EXPECT_EQ(kOpenBillsStatementHead.size(), 548u);
  EXPECT_EQ(fingerprint(kOpenBillsStatementHead), 0xa7237d5ca2ee4620u);
  EXPECT_TRUE(kOpenBillsStatementHead.ends_with("pop_id::text LIKE '%"));
  const std::string statement = open_bills_statement("12");
  EXPECT_EQ(statement.size(), 559u + 2);
  EXPECT_TRUE(statement.ends_with("LIKE '%12%'\n        "));
  EXPECT_EQ(open_bills_statement("").size(), 559u);
}

}  // namespace
}  // namespace sonda

#include "app/zabbix_batch.hpp"

#include <gtest/gtest.h>

#include "app/run_settings.hpp"

namespace sonda::test {
namespace {

TEST(ZabbixBatch, WholeNumbersFromOneToTenThousandElseAnErrorNamingTheVariable) {
  EXPECT_EQ(zabbix_batch_from(nullptr), 1u);
  EXPECT_EQ(zabbix_batch_from("1"), 1u);
  EXPECT_EQ(zabbix_batch_from("1000"), 1000u);
  EXPECT_EQ(zabbix_batch_from("10000"), 10000u);
  for (const char* wrong :
       {"", "0", "10001", "-5", "+5", " 5", "5 ", "1e3", "mil", "99999999999999999999"}) {
    try {
      zabbix_batch_from(wrong);
      ADD_FAILURE() << wrong;
    } catch (const ConfigError& error) {
      EXPECT_EQ(std::string(error.what()),
                "SONDA_ZABBIX_BATCH deve ser um número inteiro de 1 a 10000 (valores por envio "
                "ao Zabbix), não \"" +
                    std::string(wrong) + "\"");
    }
  }
}

}  // namespace
}  // namespace sonda::test

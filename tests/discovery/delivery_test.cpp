// The delivery to a small in-process trapper: what the server did with the per-customer values
// is counted and handed back, never written, whatever the server's counts say.
#include "discovery/delivery.hpp"

#include <gtest/gtest.h>

#include "support/captured_stderr.hpp"
#include "support/fake_zabbix.hpp"
#include "support/values.hpp"

namespace sonda::test {
namespace {

CustomerRow customer(std::int64_t id) {
  return {integer(id), text("Nome"),   text("123"),      integer(1),     10.5,
          Absent{},    at(2020, 1, 1), text("Fantasia"), at(2021, 2, 3), integer(1)};
}

TEST(ZabbixDelivery, CustomerValuesAreCountedAndReturnedNotWritten) {
  BillingData data;
  data.clientes_data = {customer(1), customer(2), customer(3)};
  data.titulos_valor_em_aberto = {{integer(0), Absent{}}};
  const CustomerEntries entries = build_customer_entries(data, "h");

  // Totals (two requests) and document kept; then requests of 2 per-customer values: refused,
  // counted nothing ("total: 0"), kept.
  FakeZabbix trapper({ZabbixAnswer::success, ZabbixAnswer::success, ZabbixAnswer::success,
                      ZabbixAnswer::refused, ZabbixAnswer::uncounted, ZabbixAnswer::success});
  CapturedStderr errors;
  ZabbixSettings settings = zabbix_settings_for(trapper.address());
  settings.batch = 2;
  ZabbixSender sender(settings);
  send_fixed_values(sender, "h", entries, DocumentAmounts::kept);
  const ZabbixCounts counts = send_customer_values(sender, "h", entries);
  EXPECT_EQ(errors.text(), "");
  EXPECT_EQ(trapper.request_sizes(), (std::vector<std::size_t>{2, 2, 1, 2, 2, 2}));
  EXPECT_EQ(counts.total, 6u);
  EXPECT_EQ(counts.processed, 2u);
  EXPECT_EQ(counts.failed, 4u);
  EXPECT_EQ(counts.unconfirmed, 2u);
}

}  // namespace
}  // namespace sonda::test

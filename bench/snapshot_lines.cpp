// snapshot-lines: the QuestDB requests a run would make, as files, so that the benchmark can
// POST the same line-protocol bytes with curl. Reads the database as the probe does, builds the
// same entries and rows (only the clock readings differ) and writes FOLDER/<table>-NNNN.ilp,
// one file per request of 75,000 rows.
// Usage: snapshot-lines FOLDER DB_IP DB_PORT DB_NAME DB_USER DB_PASSWORD POP_ID ZABBIX_HOST
#include <cstdio>
#include <fstream>
#include <string>

#include "discovery/billing_query.hpp"
#include "discovery/customer_entries.hpp"
#include "timeseries/snapshot_tables.hpp"
#include "timeseries/timestamp.hpp"

namespace {

constexpr std::size_t kRowsPerRequest = 75'000;

void write_files(const std::string& folder, const sonda::SnapshotTable& table,
                 const sonda::MacroEntries& entries, const sonda::CivilTimeZone& zone) {
  sonda::IlpBuffer buffer;
  sonda::SnapshotFields fields;
  const std::int64_t run_stamp = sonda::get_timestamp();
  int file = 0;
  auto save = [&] {
    char name[64];
    std::snprintf(name, sizeof name, "/%s-%04d.ilp", std::string(table.name).c_str(), ++file);
    std::ofstream(folder + name, std::ios::binary) << buffer.text();
    buffer.clear();
  };
  sonda::MacroEntry entry;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    entries.fill(i, entry);
    buffer.add_row(table.name, sonda::snapshot_fields(table, entry, run_stamp, zone, fields),
                   sonda::TimestampNanos::now());
    if (buffer.rows() == kRowsPerRequest) save();
  }
  if (buffer.rows() > 0) save();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 9) {
    std::fprintf(stderr,
                 "uso: snapshot-lines PASTA DB_IP DB_PORT DB_NAME DB_USER DB_PASSWORD POP_ID "
                 "ZABBIX_HOST\n");
    return 2;
  }
  const sonda::PgParameters database{argv[2], argv[3], argv[4], argv[5], argv[6]};
  const sonda::BillingData data = sonda::read_billing_data(database, argv[7]);
  const auto entries = sonda::build_customer_entries(data, argv[8]);
  const auto zone = sonda::CivilTimeZone::load(data.time_zone);
  if (!zone) {
    std::fprintf(stderr, "fuso horário desconhecido: %s\n", data.time_zone.c_str());
    return 1;
  }
  write_files(argv[1], sonda::kClientesTable, entries.discovery_qdb, *zone);
  write_files(argv[1], sonda::kCobrancaTable, entries.discovery_qdb, *zone);
  return 0;
}

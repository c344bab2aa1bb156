#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/macro_entry.hpp"
#include "outside/postgres/time_zone.hpp"
#include "outside/questdb/ilp_buffer.hpp"
#include "outside/questdb/questdb_conf.hpp"

namespace sonda {

// What a column can hold, where QuestDB is stricter than the values a database gives.
enum class ColumnLimit {
  none,
  int32,                 // INT: -2147483647..2147483647 (the lowest int32 stands for null)
  designated_timestamp,  // no instant before 1970
};

// A table column and the snapshot entry's macro whose value it receives.
struct SnapshotColumn {
  std::string_view column;
  MacroName macro;
  ColumnLimit limit = ColumnLimit::none;
};

// One of the two QuestDB tables a run writes: its name, the transport of its server and its
// columns in table order; the run stamp column `timestamp` follows them.
struct SnapshotTable {
  std::string_view name;
  QuestDbTransport transport;
  std::span<const SnapshotColumn> columns;
};

extern const SnapshotTable kClientesTable;  // bekClientes, over https
extern const SnapshotTable kCobrancaTable;  // bekCobranca, over http

// Room for the fields of one row of either table.
using SnapshotFields = std::array<IlpField, 12>;

// The fields of `entry`'s row in `table`, in column order, then `timestamp` with `run_stamp`;
// built in `storage`. Date-times are read in `zone` (the database's) and handed over as their
// UTC readings. Raises InternalError when the entry lacks a macro the table reads.
std::span<const IlpField> snapshot_fields(const SnapshotTable& table, const MacroEntry& entry,
                                          std::int64_t run_stamp, const CivilTimeZone& zone,
                                          SnapshotFields& storage);

}  // namespace sonda

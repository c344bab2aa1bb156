#pragma once

#include <optional>
#include <span>
#include <string>

#include "core/macro_entry.hpp"
#include "outside/questdb/ilp_buffer.hpp"
#include "timeseries/snapshot_tables.hpp"

namespace sonda {

// Why `table` cannot take the row of `fields` (as snapshot_fields built them from `entry`), or
// nothing when it can: an integer outside an INT column's range, or a designated timestamp
// before 1970. QuestDB refuses such a row together with every other row of its request, so it
// is left out before sending. The reason names the column and the value as the database gave
// it ("dataCadastro 1900-01-01 antes de 1970").
std::optional<std::string> unwritable_reason(const SnapshotTable& table, const MacroEntry& entry,
                                             std::span<const IlpField> fields);

}  // namespace sonda

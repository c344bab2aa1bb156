#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/macro_entries.hpp"
#include "outside/postgres/time_zone.hpp"
#include "timeseries/write_report.hpp"

namespace sonda {

// The QuestDB server of one snapshot table: its four command-line settings, as received, and
// how the probe's settings ask the client to reach it.
struct QuestDbServer {
  std::string ip;
  std::string port;
  std::string username;
  std::string password;
  // Certificates trusted over HTTPS instead of the system's: a file and a folder of them.
  std::optional<std::string> ca_file;
  std::optional<std::string> ca_folder;
  // Rows per request instead of the client's own (tests make small requests out of few rows).
  std::optional<std::size_t> rows_per_request;
};

// Writes one row per snapshot entry, in list order, into the table bekClientes of `server`
// (HTTPS), with one flush after the last row. Date-times are read in `zone`: the time zone of
// the database session they came from, so each is written as the instant the database means
// wherever the probe runs (see snapshot_time_zone).
//
// A row the table cannot take (a registration date before 1970, an integer beyond INT) is left
// out before sending, and a row the server refuses is taken out of its request and the rest sent
// again: neither costs the other rows. A refusal that is every row's (a missing table, a column
// of another type) is an ingestion failure at once. What was not written, and such a failure, is
// reported on standard error as one line "Erro: bekClientes: ..." and the writer returns
// normally; any other failure (an entry without one of the names read, the run's time limit)
// passes to the caller. Returns what became of the rows, for the run's outcome.
TableWriteReport sendQuestDB(const QuestDbServer& server, const MacroEntries& descoberta,
                             const CivilTimeZone& zone);

// The same for the table bekCobranca of `server`, over plain HTTP.
TableWriteReport sendQuestDBChat(const QuestDbServer& server, const MacroEntries& descoberta,
                                 const CivilTimeZone& zone);

}  // namespace sonda

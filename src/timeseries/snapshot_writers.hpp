#pragma once

#include <span>
#include <string>

#include "core/macro_entry.hpp"

namespace sonda {

// The QuestDB server of one snapshot table: its four command-line settings, as received.
struct QuestDbServer {
  std::string ip;
  std::string port;
  std::string username;
  std::string password;
};

// Writes one row per snapshot entry, in list order, into the table bekClientes of `server`
// (HTTPS), with one flush after the last row. An ingestion failure is reported on standard
// error as one line "Erro: <message>" and the writer returns normally; any other failure (an
// entry without one of the names read, the run's time limit) passes to the caller.
void sendQuestDB(const QuestDbServer& server, std::span<const MacroEntry> descoberta);

// The same for the table bekCobranca of `server`, over plain HTTP.
void sendQuestDBChat(const QuestDbServer& server, std::span<const MacroEntry> descoberta);

}  // namespace sonda

#pragma once

#include <span>

#include "app/run_settings.hpp"
#include "discovery/macro_entry.hpp"

namespace sonda {

// Writes one row per snapshot entry, in list order, into the table bekClientes of the QuestDB
// server of quest_db_ip/quest_db_port (HTTPS), with one flush after the last row. An
// ingestion failure is reported on standard error as one line "Erro: <message>" and the writer
// returns normally; any other failure (an entry without one of the names read, the run's time
// limit) passes to the caller.
void sendQuestDB(const RunSettings& settings, std::span<const MacroEntry> descoberta);

// The same for the table bekCobranca of the server of quest_db_ip_chat/quest_db_port_chat, over
// plain HTTP.
void sendQuestDBChat(const RunSettings& settings, std::span<const MacroEntry> descoberta);

}  // namespace sonda

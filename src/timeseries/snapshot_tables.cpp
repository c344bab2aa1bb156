#include "timeseries/snapshot_tables.hpp"

namespace sonda {

namespace {

constexpr std::array<SnapshotColumn, 11> kClientesColumns = {{
    {"idCliente", "{#CLIENTE_ID}", ColumnLimit::int32},
    {"razaoSocial", "{#RAZAOSOCIAL}"},
    {"cpfCnpj", "{#CPF_CNPJ}"},
    {"valorDivida", "{#VALOR_DIVIDA}"},
    {"titulosDivida", "{#TITULOS_EM_ATRASO}", ColumnLimit::int32},
    {"contatoCliente", "{#CONTATO}"},
    {"tempoVencimento", "{#TEMPO_VENCIMENTO}"},
    {"nomeFantasia", "{#NOME_FANTASIA}"},
    {"dataCadastro", "{#DATA_CADASTRO}", ColumnLimit::designated_timestamp},
    {"statusContrato", "{#STATUS_CONTRATO}", ColumnLimit::int32},
    {"bekIdentification", "{#BEK_IDENTIFICATION}"},
}};

constexpr std::array<SnapshotColumn, 7> kCobrancaColumns = {{
    {"idCliente", "{#CLIENTE_ID}", ColumnLimit::int32},
    {"valorDivida", "{#VALOR_DIVIDA}"},
    {"titulosDivida", "{#TITULOS_EM_ATRASO}", ColumnLimit::int32},
    {"contatoCliente", "{#CONTATO}"},
    {"dataVencimento", "{#TEMPO_VENCIMENTO}"},
    {"dataCadastro", "{#DATA_CADASTRO}", ColumnLimit::designated_timestamp},
    {"bekIdentification", "{#BEK_IDENTIFICATION}"},
}};

}  // namespace

const SnapshotTable kClientesTable = {"bekClientes", QuestDbTransport::https, kClientesColumns};
const SnapshotTable kCobrancaTable = {"bekCobranca", QuestDbTransport::http, kCobrancaColumns};

std::span<const IlpField> snapshot_fields(const SnapshotTable& table, const MacroEntry& entry,
                                          std::int64_t run_stamp, const CivilTimeZone& zone,
                                          SnapshotFields& storage) {
  std::size_t count = 0;
  for (const SnapshotColumn& column : table.columns) {
    const FieldValue& value = entry.at(column.macro);
    if (const auto* date_time = std::get_if<DateTime>(&value)) {
      storage[count++] = {column.column, DateTime{zone.epoch_micros(*date_time)}};
    } else {
      storage[count++] = {column.column, value};
    }
  }
  storage[count++] = {"timestamp", run_stamp};
  return {storage.data(), count};
}

}  // namespace sonda

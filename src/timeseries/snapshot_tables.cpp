#include "timeseries/snapshot_tables.hpp"

#include "core/macro_names.hpp"

namespace sonda {

namespace {

constexpr std::array<SnapshotColumn, 11> kClientesColumns = {{
    {"idCliente", macro::CLIENTE_ID, ColumnLimit::int32},
    {"razaoSocial", macro::RAZAOSOCIAL},
    {"cpfCnpj", macro::CPF_CNPJ},
    {"valorDivida", macro::VALOR_DIVIDA},
    {"titulosDivida", macro::TITULOS_EM_ATRASO, ColumnLimit::int32},
    {"contatoCliente", macro::CONTATO},
    {"tempoVencimento", macro::TEMPO_VENCIMENTO},
    {"nomeFantasia", macro::NOME_FANTASIA},
    {"dataCadastro", macro::DATA_CADASTRO, ColumnLimit::designated_timestamp},
    {"statusContrato", macro::STATUS_CONTRATO, ColumnLimit::int32},
    {"bekIdentification", macro::BEK_IDENTIFICATION},
}};

constexpr std::array<SnapshotColumn, 7> kCobrancaColumns = {{
    {"idCliente", macro::CLIENTE_ID, ColumnLimit::int32},
    {"valorDivida", macro::VALOR_DIVIDA},
    {"titulosDivida", macro::TITULOS_EM_ATRASO, ColumnLimit::int32},
    {"contatoCliente", macro::CONTATO},
    {"dataVencimento", macro::TEMPO_VENCIMENTO},
    {"dataCadastro", macro::DATA_CADASTRO, ColumnLimit::designated_timestamp},
    {"bekIdentification", macro::BEK_IDENTIFICATION},
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

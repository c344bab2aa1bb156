#include "timeseries/snapshot_tables.hpp"

namespace sonda {

namespace {

constexpr std::array<SnapshotColumn, 11> kClientesColumns = {{
    {"idCliente", "{#CLIENTE_ID}"},
    {"razaoSocial", "{#RAZAOSOCIAL}"},
    {"cpfCnpj", "{#CPF_CNPJ}"},
    {"valorDivida", "{#VALOR_DIVIDA}"},
    {"titulosDivida", "{#TITULOS_EM_ATRASO}"},
    {"contatoCliente", "{#CONTATO}"},
    {"tempoVencimento", "{#TEMPO_VENCIMENTO}"},
    {"nomeFantasia", "{#NOME_FANTASIA}"},
    {"dataCadastro", "{#DATA_CADASTRO}"},
    {"statusContrato", "{#STATUS_CONTRATO}"},
    {"bekIdentification", "{#BEK_IDENTIFICATION}"},
}};

constexpr std::array<SnapshotColumn, 7> kCobrancaColumns = {{
    {"idCliente", "{#CLIENTE_ID}"},
    {"valorDivida", "{#VALOR_DIVIDA}"},
    {"titulosDivida", "{#TITULOS_EM_ATRASO}"},
    {"contatoCliente", "{#CONTATO}"},
    {"dataVencimento", "{#TEMPO_VENCIMENTO}"},
    {"dataCadastro", "{#DATA_CADASTRO}"},
    {"bekIdentification", "{#BEK_IDENTIFICATION}"},
}};

}  // namespace

const SnapshotTable kClientesTable = {"bekClientes", QuestDbTransport::https, kClientesColumns};
const SnapshotTable kCobrancaTable = {"bekCobranca", QuestDbTransport::http, kCobrancaColumns};

std::span<const IlpField> snapshot_fields(const SnapshotTable& table, const MacroEntry& entry,
                                          std::int64_t run_stamp, SnapshotFields& storage) {
  std::size_t count = 0;
  for (const SnapshotColumn& column : table.columns) {
    storage[count++] = {column.column, entry.at(column.macro)};
  }
  storage[count++] = {"timestamp", run_stamp};
  return {storage.data(), count};
}

}  // namespace sonda

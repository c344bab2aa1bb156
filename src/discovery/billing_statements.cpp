#include "discovery/billing_statements.hpp"

namespace sonda {

// The statement texts are sent byte for byte as they stand here: tabs, trailing blanks and the
// blank last line included. Each line is one literal, with every tab and line feed escaped, so
// that no editor can strip a blank unseen.

// clang-format off
const std::string_view kCustomerStatement =
    "\n"
    "\tSELECT \n"
    "        admcore_cliente.id AS idCliente,\n"
    "        admcore_pessoa.nome AS razaoSocial,\n"
    "        admcore_pessoa.cpfcnpj AS cpjCnpj,\n"
    "        case when financeiro_titulo.titulosAtraso is null then 0 else financeiro_titulo.titulosAtraso end AS titulosAtraso,\n"
    "        case when financeiro_titulo.valorAtraso is null then 0 else financeiro_titulo.valorAtraso end AS valorAtraso,\n"
    "        admCoreClienteContato.contato as contatoContrato,\n"
    "        financeiro_titulo.tempoVencimento,\n"
    "        admcore_pessoa.nomefantasia as nomeFantasia,\n"
    "        CAST(MIN(admcore_clientecontrato.data_cadastro) AS timestamp) AS dataCadastro,\n"
    "        admcore_clientecontratostatus.status\n"
    "    FROM \n"
    "        admcore_clientecontrato\n"
    "    LEFT JOIN\n"
    "        admcore_cliente on admcore_clientecontrato.cliente_id = admcore_cliente.id \n"
    "    LEFT JOIN \n"
    "        admcore_pessoa on admcore_cliente.pessoa_id = admcore_pessoa.id\n"
    "    LEFT JOIN \n"
    "        (select \n"
    "\t\t\tadmcore_clientecontato.cliente_id as idCliente,\n"
    "\t\t\tstring_agg(distinct admcore_contato.contato, ' | ') as contato\n"
    "\t\tfrom\n"
    "\t\t\tadmcore_clientecontato\n"
    "\t\tinner join\n"
    "\t\t\tadmcore_contato on admcore_clientecontato.contato_id = admcore_contato.id \n"
    "\t\tgroup by\n"
    "\t\t\tadmcore_clientecontato.cliente_id \n"
    "        ) as admCoreClienteContato on admCoreClienteContato.idCliente = admcore_clientecontrato.cliente_id \n"
    "    left join \n"
    "\t    (SELECT\n"
    "            cliente_id,\n"
    "            COUNT(valor) AS titulosAtraso,\n"
    "            CAST(SUM(valor) AS FLOAT) AS valorAtraso,\n"
    "            CAST(MIN(financeiro_titulo.data_vencimento) AS timestamp) AS tempoVencimento\n"
    "        FROM\n"
    "            financeiro_titulo\n"
    "        WHERE\n"
    "            (status = 1 OR status = 4 or status = 5) and\n"
    "            financeiro_titulo.data_vencimento < CURRENT_DATE\n"
    "        GROUP BY\n"
    "            cliente_id) as financeiro_titulo on financeiro_titulo.cliente_id = admcore_cliente.id\n"
    "     left join\n"
    "     \tadmcore_clientecontratostatus on admcore_clientecontrato.status_id = admcore_clientecontratostatus.id\n"
    "    GROUP BY \n"
    "        admcore_cliente.id,\n"
    "        admcore_pessoa.nome,\n"
    "        admcore_pessoa.cpfcnpj,\n"
    "        financeiro_titulo.titulosAtraso,\n"
    "        financeiro_titulo.valorAtraso,\n"
    "        admCoreClienteContato.contato,\n"
    "        financeiro_titulo.tempoVencimento,\n"
    "        admcore_pessoa.nomefantasia,\n"
    "        admcore_clientecontratostatus.status\n"
    "    order by \n"
    "        idCliente asc;\n"
    "        ";

const std::string_view kOpenBillsStatementHead =
    "\n"
    "    SELECT\n"
    "        COUNT(valor) AS titulos_aberto,\n"
    "        CAST(SUM(valor) AS FLOAT) AS valor_aberto\n"
    "    FROM\n"
    "        financeiro_titulo\n"
    "    LEFT JOIN \n"
    "        financeiro_cobranca on financeiro_titulo.cobranca_id = financeiro_cobranca.id\n"
    "    LEFT JOIN \n"
    "        admcore_clientecontrato on financeiro_cobranca.id = admcore_clientecontrato.cobranca_id\n"
    "    WHERE\n"
    "        (financeiro_titulo.status = 1 OR financeiro_titulo.status = 4) and\n"
    "        financeiro_titulo.data_vencimento >= CURRENT_DATE and\n"
    "        admcore_clientecontrato.pop_id::text LIKE '%";
// clang-format on

const std::string_view kOpenBillsStatementTail = "%'\n        ";

std::string open_bills_statement(std::string_view escaped_pop_id) {
  std::string statement;
  statement.reserve(kOpenBillsStatementHead.size() + escaped_pop_id.size() +
                    kOpenBillsStatementTail.size());
  statement += kOpenBillsStatementHead;
  statement += escaped_pop_id;
  statement += kOpenBillsStatementTail;
  return statement;
}

}  // namespace sonda

#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace sonda::test {

// The QuestDB server of the tests: plain HTTP on host:port, HTTPS through the proxy on
// tls_host:tls_port with a certificate signed by the CA in `ca`.
struct TestQuestDb {
  std::string host, port, tls_host, tls_port, user, password, ca;
};
const TestQuestDb& questdb_server();

// Runs SQL through /exec and returns the parsed answer; raises std::runtime_error on failure.
nlohmann::json questdb_query(const std::string& sql);

// Waits until every WAL transaction of both tables is applied.
void wait_for_questdb_tables();

// Empties both tables.
void truncate_questdb_tables();

// The rows of `table` written for one zabbix host, ordered by idCliente, as objects keyed by
// column name; waits for the WAL first.
std::vector<nlohmann::json> questdb_rows(const std::string& table, const std::string& host);

// The column types of `table`, by name.
std::map<std::string, std::string> questdb_column_types(const std::string& table);

}  // namespace sonda::test

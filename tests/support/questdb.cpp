#include "support/questdb.hpp"

#include <chrono>
#include <stdexcept>
#include <thread>

#include <curl/curl.h>

#include "support/servers.hpp"

namespace sonda::test {

namespace {

std::size_t collect(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

}  // namespace

const TestQuestDb& questdb_server() {
  static const TestQuestDb server{
      server_setting("SONDA_TEST_QDB_HOST"),     server_setting("SONDA_TEST_QDB_PORT"),
      server_setting("SONDA_TEST_QDB_TLS_HOST"), server_setting("SONDA_TEST_QDB_TLS_PORT"),
      server_setting("SONDA_TEST_QDB_USER"),     server_setting("SONDA_TEST_QDB_PASSWORD"),
      server_setting("SONDA_TEST_QDB_CA")};
  return server;
}

nlohmann::json questdb_query(const std::string& sql) {
  const TestQuestDb& server = questdb_server();
  CURL* curl = curl_easy_init();
  char* escaped = curl_easy_escape(curl, sql.c_str(), static_cast<int>(sql.size()));
  const std::string url =
      "http://" + server.host + ":" + server.port + "/exec?query=" + std::string(escaped);
  curl_free(escaped);
  std::string body;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERNAME, server.user.c_str());
  curl_easy_setopt(curl, CURLOPT_PASSWORD, server.password.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  const CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  if (code != CURLE_OK || status != 200) {
    throw std::runtime_error("questdb query failed (" + std::to_string(status) + "): " + body);
  }
  return nlohmann::json::parse(body);
}

void wait_for_questdb_tables() {
  for (int i = 0; i < 300; ++i) {
    const auto answer = questdb_query(
        "SELECT count() FROM wal_tables() WHERE name IN ('bekClientes', 'bekCobranca') "
        "AND writerTxn < sequencerTxn");
    if (answer["dataset"][0][0] == 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  throw std::runtime_error("QuestDB did not apply its WAL in 15 seconds");
}

void truncate_questdb_tables() {
  wait_for_questdb_tables();
  questdb_query("TRUNCATE TABLE bekClientes");
  questdb_query("TRUNCATE TABLE bekCobranca");
  wait_for_questdb_tables();
}

std::vector<nlohmann::json> questdb_rows(const std::string& table, const std::string& host) {
  wait_for_questdb_tables();
  const auto answer = questdb_query("SELECT * FROM " + table + " WHERE bekIdentification = '" +
                                    host + "' ORDER BY idCliente, dataCadastro");
  std::vector<nlohmann::json> rows;
  for (const auto& values : answer["dataset"]) {
    nlohmann::json row;
    for (std::size_t i = 0; i < answer["columns"].size(); ++i) {
      row[answer["columns"][i]["name"].get<std::string>()] = values[i];
    }
    rows.push_back(row);
  }
  return rows;
}

std::map<std::string, std::string> questdb_column_types(const std::string& table) {
  std::map<std::string, std::string> types;
  const auto answer = questdb_query("SELECT * FROM " + table + " LIMIT 0");
  for (const auto& column : answer["columns"]) {
    types[column["name"].get<std::string>()] = column["type"].get<std::string>();
  }
  return types;
}

}  // namespace sonda::test

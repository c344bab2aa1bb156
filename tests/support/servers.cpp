#include "support/servers.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sonda::test {

namespace {

PGconn* connect(const PgServer& server, const std::string& database) {
  const char* const keywords[] = {"host", "port", "dbname", "user", "password", nullptr};
  const char* const values[] = {server.host.c_str(), server.port.c_str(),     database.c_str(),
                                server.user.c_str(), server.password.c_str(), nullptr};
  PGconn* connection = PQconnectdbParams(keywords, values, 0);
  if (PQstatus(connection) != CONNECTION_OK) {
    const std::string message = PQerrorMessage(connection);
    PQfinish(connection);
    throw std::runtime_error("test session: " + message);
  }
  PQsetNoticeProcessor(
      connection, [](void*, const char*) {}, nullptr);
  return connection;
}

// The databases scripts/test-servers.sh loaded once are as old as the servers; the bills the
// fixture dates relative to today are moved to the day the test runs on, so that the expected
// totals hold on any day.
void follow_today(const PgServer& server) {
  for (const std::string& database :
       {server.database, server_setting("SONDA_TEST_PG_TLS_DATABASE")}) {
    PGconn* connection = connect(server, database);
    PGresult* result = PQexec(connection, "SELECT fixture_follow_today()");
    const bool moved = PQresultStatus(result) == PGRES_TUPLES_OK;
    const std::string message = PQresultErrorMessage(result);
    PQclear(result);
    PQfinish(connection);
    if (!moved) throw std::runtime_error("fixture dates of " + database + ": " + message);
  }
}

}  // namespace

std::string server_setting(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) {
    throw std::runtime_error(name +
                             " is not set: run the tests through scripts/test.sh, or start "
                             "scripts/test-servers.sh and export build/test-servers.env");
  }
  return value;
}

const PgServer& pg_server() {
  static const PgServer server{
      server_setting("SONDA_TEST_PG_HOST"),     server_setting("SONDA_TEST_PG_PORT"),
      server_setting("SONDA_TEST_PG_USER"),     server_setting("SONDA_TEST_PG_PASSWORD"),
      server_setting("SONDA_TEST_PG_DATABASE"), server_setting("SONDA_TEST_PG_LOG"),
      server_setting("SONDA_TEST_FIXTURES")};
  // Once per test process, before any test reads the shared fixture databases.
  static const bool dates_follow_today = (follow_today(server), true);
  (void)dates_follow_today;
  return server;
}

PgSession::PgSession(const std::string& database) : connection_(connect(pg_server(), database)) {}

PgSession::~PgSession() { PQfinish(connection_); }

std::vector<Row> PgSession::exec(const std::string& sql) {
  PGresult* result = PQexec(connection_, sql.c_str());
  const ExecStatusType status = PQresultStatus(result);
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    const std::string message = PQresultErrorMessage(result);
    PQclear(result);
    throw std::runtime_error("test statement failed: " + message);
  }
  std::vector<Row> rows;
  for (int r = 0; r < PQntuples(result); ++r) {
    Row row;
    for (int c = 0; c < PQnfields(result); ++c) {
      row.push_back(PQgetisnull(result, r, c)
                        ? std::nullopt
                        : std::optional<std::string>(PQgetvalue(result, r, c)));
    }
    rows.push_back(std::move(row));
  }
  PQclear(result);
  return rows;
}

std::optional<std::string> PgSession::value(const std::string& sql) {
  const auto rows = exec(sql);
  if (rows.size() != 1 || rows[0].size() != 1) throw std::runtime_error("not one value: " + sql);
  return rows[0][0];
}

void create_database(const std::string& name, const std::vector<std::string>& fixture_files) {
  {
    PgSession admin("postgres");
    admin.exec("DROP DATABASE IF EXISTS \"" + name + "\" WITH (FORCE)");
    admin.exec("CREATE DATABASE \"" + name + "\"");
  }
  PgSession session(name);
  for (const std::string& file : fixture_files) {
    std::ifstream input(pg_server().fixtures + "/" + file);
    if (!input) throw std::runtime_error("missing fixture " + file);
    std::ostringstream sql;
    sql << input.rdbuf();
    session.exec(sql.str());
  }
}

RunSettings fixture_settings(const std::string& database, const std::string& pop_id) {
  const PgServer& server = pg_server();
  auto optional_setting = [](const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return std::string(value ? value : fallback);
  };
  RunSettings settings;
  settings.mode = "discovery_clientes";
  settings.host.assign("host");
  settings.db_ip.assign(server.host);
  settings.db_port.assign(server.port);
  settings.db_name.assign(database);
  settings.db_user.assign(server.user);
  settings.db_password.assign(server.password);
  settings.pop_id.assign(pop_id);
  settings.quest_db_ip.assign(optional_setting("SONDA_TEST_QDB_TLS_HOST", "localhost"));
  settings.quest_db_port.assign(optional_setting("SONDA_TEST_QDB_TLS_PORT", "9"));
  settings.quest_db_username.assign(optional_setting("SONDA_TEST_QDB_USER", "admin"));
  settings.quest_db_password.assign(optional_setting("SONDA_TEST_QDB_PASSWORD", "quest"));
  settings.quest_db_ip_chat.assign(optional_setting("SONDA_TEST_QDB_HOST", "127.0.0.1"));
  settings.quest_db_port_chat.assign(optional_setting("SONDA_TEST_QDB_PORT", "9"));
  settings.quest_db_username_chat.assign(optional_setting("SONDA_TEST_QDB_USER", "admin"));
  settings.quest_db_password_chat.assign(optional_setting("SONDA_TEST_QDB_PASSWORD", "quest"));
  settings.zabbix_host.assign("debug");
  return settings;
}

}  // namespace sonda::test

#pragma once

#include <optional>
#include <string>
#include <vector>

#include <libpq-fe.h>

#include "app/run_settings.hpp"

namespace sonda::test {

// The servers started by scripts/test-servers.sh, as described by build/test-servers.env
// (exported by scripts/test.sh). A missing description raises std::runtime_error.
struct PgServer {
  std::string host, port, user, password, database, log, fixtures;
};
const PgServer& pg_server();

// The value of a required environment variable of the test servers.
std::string server_setting(const std::string& name);

using Row = std::vector<std::optional<std::string>>;

// A plain blocking libpq session of the tests' own, as the login role over TCP.
class PgSession {
 public:
  explicit PgSession(const std::string& database = pg_server().database);
  ~PgSession();
  PgSession(const PgSession&) = delete;
  PgSession& operator=(const PgSession&) = delete;

  // Runs `sql` (text results) and returns its rows; raises std::runtime_error on failure.
  std::vector<Row> exec(const std::string& sql);
  // The single value of a one-row, one-column result.
  std::optional<std::string> value(const std::string& sql);

 private:
  PGconn* connection_;
};

// Creates (anew) a database owned by the login role and runs the fixture files in it.
void create_database(const std::string& name, const std::vector<std::string>& fixture_files);

// Settings for a discovery run against the fixture database (QuestDB and Zabbix settings as
// the servers of the environment describe them, when they are up).
RunSettings fixture_settings(const std::string& database = pg_server().database,
                             const std::string& pop_id = "1");

}  // namespace sonda::test

// The database link under libpq's own TLS settings, through the real binary against the real
// PostgreSQL: its database "cobranca_tls" takes TLS connections only, with a certificate for
// "localhost" from the test CA.
#include <gtest/gtest.h>

#include "support/process.hpp"
#include "support/servers.hpp"
#include "support/temp_dir.hpp"

namespace sonda::test {
namespace {

const std::string kFailure =
    "sonda-cobranca: erro inesperado: DatabaseError: não foi possível conectar ao PostgreSQL em ";
const std::string kAdvice =
    " (confira a criptografia da conexão: PGSSLMODE, PGSSLROOTCERT com a CA que assinou o "
    "certificado do servidor, e que db_ip seja um nome que o certificado traz)\n";

// A debug run (the report only) against `database` at `host`, with libpq's `environment`.
ProcessResult debug_run(const std::string& database, const std::string& host,
                        const std::map<std::string, std::optional<std::string>>& environment) {
  RunSettings settings = fixture_settings(database);
  settings.db_ip.assign(host);
  ProcessOptions options;
  options.env = environment;
  return run_probe(full_form_arguments(settings), options);
}

std::string expected_report() { return read_file(pg_server().fixtures + "/debug_report_pop1.txt"); }

TEST(PostgresTls, VerifiedConnectionWorksAndEveryWrongSettingSaysWhatToCheck) {
  const std::string database = server_setting("SONDA_TEST_PG_TLS_DATABASE");
  const std::string ca = server_setting("SONDA_TEST_PG_CA");
  const std::string where =
      ":" + pg_server().port + " (banco " + database + ", usuário " + pg_server().user + "): ";

  const auto verified =
      debug_run(database, "localhost", {{"PGSSLMODE", "verify-full"}, {"PGSSLROOTCERT", ca}});
  EXPECT_EQ(verified.status, 0) << verified.err;
  EXPECT_EQ(verified.out, expected_report());
  EXPECT_EQ(verified.err, "");

  const auto other_ca = debug_run(
      database, "localhost",
      {{"PGSSLMODE", "verify-full"}, {"PGSSLROOTCERT", server_setting("SONDA_TEST_PG_OTHER_CA")}});
  EXPECT_EQ(other_ca.status, 1);
  EXPECT_EQ(other_ca.out, "");
  EXPECT_TRUE(other_ca.err.starts_with(kFailure + "localhost" + where)) << other_ca.err;
  EXPECT_NE(other_ca.err.find("certificate verify failed"), std::string::npos) << other_ca.err;
  EXPECT_TRUE(other_ca.err.ends_with(kAdvice)) << other_ca.err;

  // The certificate names "localhost", not the address.
  const auto other_name =
      debug_run(database, "127.0.0.1", {{"PGSSLMODE", "verify-full"}, {"PGSSLROOTCERT", ca}});
  EXPECT_EQ(other_name.status, 1);
  EXPECT_NE(other_name.err.find("does not match host name \"127.0.0.1\""), std::string::npos)
      << other_name.err;
  EXPECT_TRUE(other_name.err.ends_with(kAdvice)) << other_name.err;

  // Without TLS, the server's rule refuses the connection.
  const auto clear = debug_run(database, "localhost", {{"PGSSLMODE", "disable"}});
  EXPECT_EQ(clear.status, 1);
  EXPECT_NE(clear.err.find("no encryption"), std::string::npos) << clear.err;
  EXPECT_TRUE(clear.err.ends_with(kAdvice)) << clear.err;

  EXPECT_EQ(verified.err.find(pg_server().password), std::string::npos);
}

// Notices the server sends on its own (here: every debug message of every statement) are not
// the probe's diagnostics.
TEST(PostgresTls, ServerNoticesStayOffStandardError) {
  create_database("cobranca_avisos", {"billing_schema.sql", "billing_fixture.sql"});
  PgSession("postgres").exec("ALTER DATABASE cobranca_avisos SET client_min_messages = debug5");
  const auto result = debug_run("cobranca_avisos", pg_server().host, {});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, expected_report());
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace sonda::test

#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/failure.hpp"
#include "core/field_value.hpp"

// libpq's handles, so that its header stays inside this client.
struct pg_conn;
struct pg_result;

namespace sonda {

// Owns a libpq result and clears it once.
struct PgResultClear {
  void operator()(pg_result* result) const noexcept;
};
using PgResultOwner = std::unique_ptr<pg_result, PgResultClear>;

// The rows of one statement, fetched whole, with every column checked against the kinds of
// FieldValue: NULL is absent; int2, int4, int8 are integers; float4, float8 real numbers; text,
// varchar, bpchar, name texts; timestamp (without time zone) date-times. Any other column type
// raises DataError naming the column, and so does a value whose length is not its type's size.
class PgResult {
 public:
  PgResult() = default;
  // Takes a result of binary-format rows.
  explicit PgResult(PgResultOwner result);

  int rows() const;
  int columns() const;

  // The value at (row, column). A text views this result's storage: it lives as long as the
  // result. Raises DataError for a value outside the kinds (an infinite timestamp).
  FieldValue value(int row, int column) const;

 private:
  enum class Kind { integer16, integer32, integer64, real32, real64, text, timestamp };

  PgResultOwner result_;
  std::vector<Kind> kinds_;
};

struct PgParameters {
  std::string host;
  std::string port;
  std::string dbname;
  std::string user;
  std::string password;
};

// One PostgreSQL connection. Every wait (connecting, sending, receiving) is bounded by the run's
// deadline; when it passes, a running statement is cancelled on the server before
// TimeoutException leaves. The connection is closed by the destructor on every path.
class PgConnection {
 public:
  // Connects with exactly these parameters, plus client_encoding=UTF8 (texts arrive as UTF-8
  // whatever the database's encoding) and application_name=sonda-cobranca. Raises
  // DatabaseError when the connection cannot be opened.
  explicit PgConnection(const PgParameters& parameters);

  // Runs a statement without parameters and returns its rows (binary format). Raises
  // DatabaseError when the server rejects it. `what` names the statement in messages.
  PgResult query(const std::string& statement, std::string_view what);

  // The same, with the rows handed to `each` as they arrive, one result of one row at a time
  // (libpq's single-row mode), then one result of no rows that still describes the columns: a
  // statement of hundreds of thousands of rows is never held whole. Whatever `each` raises
  // leaves at once.
  void query_rows(const std::string& statement, std::string_view what,
                  const std::function<void(const PgResult&)>& each);

  // Runs a statement through the simple protocol and discards its result (BEGIN).
  void command(const std::string& statement);

  // A setting the server reports to the session (TimeZone, server_encoding, ...) as it stands
  // now; empty if the server reported none under that name.
  std::string parameter(const char* name) const;

  // `text` as the body of a string literal for this connection (quotes doubled and, where the
  // server wants it, backslashes). Raises DatabaseError when it is not valid in the encoding.
  std::string escape_literal_body(std::string_view text) const;

 private:
  enum class Protocol { simple, extended_binary };
  using RowHandler = std::function<void(const PgResult&)>;
  PgResultOwner run(const std::string& statement, Protocol protocol, std::string_view what,
                    const RowHandler* each_row = nullptr);
  void wait_until_ready(bool for_writing);
  void flush_output();
  [[noreturn]] void fail(const std::string& context) const;

  struct Finish {
    void operator()(pg_conn* connection) const noexcept;
  };
  std::unique_ptr<pg_conn, Finish> connection_;
  std::string password_;  // kept only to keep it out of every message
};

}  // namespace sonda

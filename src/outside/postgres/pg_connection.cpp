#include "outside/postgres/pg_connection.hpp"

#include <poll.h>

#include <bit>
#include <cerrno>
#include <charconv>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include <libpq-fe.h>

#include "core/one_line.hpp"
#include "outside/net/socket_wait.hpp"
#include "outside/process/runtime_limit.hpp"

namespace sonda {

namespace {

using namespace std::chrono_literals;

// Type OIDs of pg_type (fixed in every PostgreSQL release).
constexpr Oid kInt2 = 21;
constexpr Oid kInt4 = 23;
constexpr Oid kInt8 = 20;
constexpr Oid kFloat4 = 700;
constexpr Oid kFloat8 = 701;
constexpr Oid kText = 25;
constexpr Oid kVarchar = 1043;
constexpr Oid kBpchar = 1042;
constexpr Oid kName = 19;
constexpr Oid kTimestamp = 1114;

// Microseconds from 1970-01-01 to 2000-01-01, PostgreSQL's epoch for binary timestamps.
constexpr std::int64_t kPostgresEpoch = 946'684'800'000'000;
// The date-times the probe carries: years 1 to 9999 (0001-01-01 .. 9999-12-31 23:59:59.999999).
constexpr std::int64_t kFirstDateTime = -62'135'596'800'000'000;
constexpr std::int64_t kLastDateTime = 253'402'300'799'999'999;

// How long a cancel request may take once the deadline has passed.
constexpr auto kCancelBudget = 500ms;

std::string type_name(Oid type) {
  switch (type) {
    case 16:
      return "boolean";
    case 17:
      return "bytea";
    case 18:
      return "char";
    case 114:
      return "json";
    case 1082:
      return "date";
    case 1083:
      return "time";
    case 1184:
      return "timestamp with time zone";
    case 1186:
      return "interval";
    case 1266:
      return "time with time zone";
    case 1700:
      return "numeric";
    case 2950:
      return "uuid";
    case 3802:
      return "jsonb";
    default:
      return "de OID " + std::to_string(type);
  }
}

// Should a message ever quote the password, it does not leave this process.
std::string without_secret(std::string message, const std::string& secret) {
  if (secret.empty()) return message;
  for (std::size_t at; (at = message.find(secret)) != std::string::npos;) {
    message.replace(at, secret.size(), "***");
  }
  return message;
}

template <typename Integer>
Integer big_endian(const char* data) {
  Integer value;
  std::memcpy(&value, data, sizeof value);
  if constexpr (std::endian::native == std::endian::little) {
    if constexpr (sizeof value == 2) return static_cast<Integer>(__builtin_bswap16(value));
    if constexpr (sizeof value == 4) return static_cast<Integer>(__builtin_bswap32(value));
    if constexpr (sizeof value == 8) return static_cast<Integer>(__builtin_bswap64(value));
  }
  return value;
}

// A real arrives as the double that its text form shows: the shortest text of the float, read
// as a double (0.1 stays 0.1, not 0.100000001490116).
double widened(float value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  double wide = 0;
  std::from_chars(text, end, wide);
  return wide;
}

void send_cancel(PGconn* connection) {
  PGcancel* cancel = PQgetCancel(connection);
  if (cancel == nullptr) return;
  // PQcancel blocks on its own socket, retrying on interruptions: it runs aside, and the run
  // waits for it only briefly.
  struct Shared {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
  };
  auto shared = std::make_shared<Shared>();
  std::thread([cancel, shared] {
    char error[256];
    PQcancel(cancel, error, sizeof error);
    PQfreeCancel(cancel);
    const std::lock_guard lock(shared->mutex);
    shared->done = true;
    shared->finished.notify_one();
  }).detach();
  std::unique_lock lock(shared->mutex);
  shared->finished.wait_for(lock, kCancelBudget, [&] { return shared->done; });
}

}  // namespace

void PgResultClear::operator()(pg_result* result) const noexcept { PQclear(result); }

void PgConnection::Finish::operator()(pg_conn* connection) const noexcept { PQfinish(connection); }

PgResult::PgResult(PgResultOwner owned) : result_(std::move(owned)) {
  PGresult* result = result_.get();
  const int count = PQnfields(result);
  kinds_.reserve(static_cast<std::size_t>(count));
  for (int column = 0; column < count; ++column) {
    const Oid type = PQftype(result, column);
    switch (type) {
      case kInt2:
        kinds_.push_back(Kind::integer16);
        break;
      case kInt4:
        kinds_.push_back(Kind::integer32);
        break;
      case kInt8:
        kinds_.push_back(Kind::integer64);
        break;
      case kFloat4:
        kinds_.push_back(Kind::real32);
        break;
      case kFloat8:
        kinds_.push_back(Kind::real64);
        break;
      case kText:
      case kVarchar:
      case kBpchar:
      case kName:
        kinds_.push_back(Kind::text);
        break;
      case kTimestamp:
        kinds_.push_back(Kind::timestamp);
        break;
      default:
        throw DataError("a coluna " + std::string(PQfname(result, column)) + " é do tipo " +
                        type_name(type) + ", que a sonda não sabe ler");
    }
  }
}

int PgResult::rows() const { return result_ ? PQntuples(result_.get()) : 0; }

int PgResult::columns() const { return static_cast<int>(kinds_.size()); }

FieldValue PgResult::value(int row, int column) const {
  PGresult* result = result_.get();
  if (PQgetisnull(result, row, column)) return Absent{};
  const char* data = PQgetvalue(result, row, column);
  const Kind kind = kinds_[static_cast<std::size_t>(column)];
  // The server says how long each value is; a value of another size than its type's is never
  // read, so a broken server cannot make the probe read past it.
  const int expected = [kind] {
    switch (kind) {
      case Kind::integer16:
        return 2;
      case Kind::integer32:
      case Kind::real32:
        return 4;
      case Kind::integer64:
      case Kind::real64:
      case Kind::timestamp:
        return 8;
      case Kind::text:
        break;
    }
    return 0;  // a text is as long as it says
  }();
  const int length = PQgetlength(result, row, column);
  if (expected != 0 && length != expected) {
    throw DataError("a coluna " + std::string(PQfname(result, column)) + " traz um valor de " +
                    std::to_string(length) + " bytes onde o tipo tem " + std::to_string(expected));
  }
  switch (kind) {
    case Kind::integer16:
      return std::int64_t{big_endian<std::int16_t>(data)};
    case Kind::integer32:
      return std::int64_t{big_endian<std::int32_t>(data)};
    case Kind::integer64:
      return big_endian<std::int64_t>(data);
    case Kind::real32:
      return widened(std::bit_cast<float>(big_endian<std::uint32_t>(data)));
    case Kind::real64:
      return std::bit_cast<double>(big_endian<std::uint64_t>(data));
    case Kind::text:
      return std::string_view(data, static_cast<std::size_t>(PQgetlength(result, row, column)));
    case Kind::timestamp: {
      const std::int64_t since_2000 = big_endian<std::int64_t>(data);
      if (since_2000 == INT64_MAX || since_2000 == INT64_MIN) {
        throw DataError("a coluna " + std::string(PQfname(result, column)) +
                        " traz um timestamp infinito, sem data representável");
      }
      std::int64_t micros = 0;
      if (__builtin_add_overflow(since_2000, kPostgresEpoch, &micros) || micros < kFirstDateTime ||
          micros > kLastDateTime) {
        throw DataError("a coluna " + std::string(PQfname(result, column)) +
                        " traz uma data fora dos anos 1 a 9999");
      }
      return DateTime{micros};
    }
  }
  return Absent{};
}

PgConnection::PgConnection(const PgParameters& parameters) : password_(parameters.password) {
  const char* const keywords[] = {
      "host", "port", "dbname", "user", "password", "client_encoding", "application_name", nullptr};
  const char* const values[] = {parameters.host.c_str(),
                                parameters.port.c_str(),
                                parameters.dbname.c_str(),
                                parameters.user.c_str(),
                                parameters.password.c_str(),
                                "UTF8",
                                "sonda-cobranca",
                                nullptr};
  // expand_dbname = 0: a database name is a name, never a connection string.
  connection_.reset(PQconnectStartParams(keywords, values, 0));
  const std::string context = "não foi possível conectar ao PostgreSQL em " + parameters.host +
                              ":" + parameters.port + " (banco " + parameters.dbname +
                              ", usuário " + parameters.user + ")";
  if (!connection_) throw DatabaseError(context + ": memória insuficiente");
  // Notices and warnings of the server (a collation version warning on every connection, for
  // one) are the database administrator's business: standard error carries the probe's own.
  PQsetNoticeProcessor(
      connection_.get(), [](void*, const char*) {}, nullptr);
  if (PQstatus(connection_.get()) == CONNECTION_BAD) fail(context);
  PostgresPollingStatusType status = PGRES_POLLING_WRITING;
  while (status != PGRES_POLLING_OK) {
    if (status == PGRES_POLLING_FAILED) fail(context);
    wait_until_ready(status == PGRES_POLLING_WRITING);
    status = PQconnectPoll(connection_.get());
  }
  if (PQsetnonblocking(connection_.get(), 1) != 0) fail(context);
}

void PgConnection::fail(const std::string& context) const {
  throw DatabaseError(
      without_secret(context + ": " + one_line(PQerrorMessage(connection_.get())), password_));
}

void PgConnection::wait_until_ready(bool for_writing) {
  const int socket = PQsocket(connection_.get());
  if (socket < 0) fail("conexão com o PostgreSQL perdida");
  if (wait_for_socket(socket, for_writing ? POLLOUT : POLLIN) != SocketWait::ready) {
    fail("falha ao aguardar o PostgreSQL");
  }
}

void PgConnection::flush_output() {
  for (;;) {
    const int pending = PQflush(connection_.get());
    if (pending == 0) return;
    if (pending < 0) fail("falha ao enviar a consulta ao PostgreSQL");
    wait_until_ready(true);
  }
}

PgResultOwner PgConnection::run(const std::string& statement, Protocol protocol,
                                std::string_view what, const RowHandler* each_row) {
  PGconn* connection = connection_.get();
  const int sent = protocol == Protocol::simple
                       ? PQsendQuery(connection, statement.c_str())
                       : PQsendQueryParams(connection, statement.c_str(), 0, nullptr, nullptr,
                                           nullptr, nullptr, 1);
  if (!sent) fail("não foi possível enviar " + std::string(what) + " ao PostgreSQL");
  if (each_row && !PQsetSingleRowMode(connection)) {
    fail("não foi possível ler " + std::string(what) + " linha a linha");
  }
  PgResultOwner first;
  try {
    flush_output();
    for (;;) {
      while (PQisBusy(connection)) {
        wait_until_ready(false);
        if (!PQconsumeInput(connection)) fail("conexão com o PostgreSQL perdida");
      }
      PgResultOwner result(PQgetResult(connection));
      if (!result) break;
      if (each_row && !first) {
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_SINGLE_TUPLE || status == PGRES_TUPLES_OK) {
          (*each_row)(PgResult(std::move(result)));
          continue;
        }
      }
      if (!first) first = std::move(result);
    }
  } catch (const TimeoutException&) {
    send_cancel(connection);
    throw;
  }
  if (each_row && !first) return {};  // every result was a row, handed over
  const ExecStatusType status = first ? PQresultStatus(first.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    std::string message = "o PostgreSQL recusou " + std::string(what);
    if (const char* state = first ? PQresultErrorField(first.get(), PG_DIAG_SQLSTATE) : nullptr) {
      message += " (SQLSTATE " + std::string(state) + ")";
    }
    const char* detail = first ? PQresultErrorField(first.get(), PG_DIAG_MESSAGE_PRIMARY)
                               : PQerrorMessage(connection);
    throw DatabaseError(without_secret(message + ": " + one_line(detail ? detail : ""), password_));
  }
  return first;
}

PgResult PgConnection::query(const std::string& statement, std::string_view what) {
  return PgResult(run(statement, Protocol::extended_binary, what));
}

void PgConnection::query_rows(const std::string& statement, std::string_view what,
                              const std::function<void(const PgResult&)>& each) {
  run(statement, Protocol::extended_binary, what, &each);
}

void PgConnection::command(const std::string& statement) {
  run(statement, Protocol::simple, statement);
}

std::string PgConnection::parameter(const char* name) const {
  const char* value = PQparameterStatus(connection_.get(), name);
  return value ? value : "";
}

std::string PgConnection::escape_literal_body(std::string_view text) const {
  std::string escaped(text.size() * 2 + 1, '\0');
  int error = 0;
  const std::size_t length =
      PQescapeStringConn(connection_.get(), escaped.data(), text.data(), text.size(), &error);
  if (error != 0) {
    throw DatabaseError("texto inválido para o PostgreSQL: " +
                        one_line(PQerrorMessage(connection_.get())));
  }
  escaped.resize(length);
  return escaped;
}

}  // namespace sonda

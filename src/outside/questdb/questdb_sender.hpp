#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "outside/questdb/http_client.hpp"
#include "outside/questdb/ilp_buffer.hpp"
#include "outside/questdb/questdb_conf.hpp"

namespace sonda {

// A QuestDB ingestion client over HTTP or HTTPS. Rows are buffered and sent by flush(); a
// buffer that reaches the configured rows or bytes (75,000 rows or 100 MiB by default) is sent
// on its own, so no request grows without bound. Every failure is an IngressError, except the
// run's time limit, which raises TimeoutException. The destructor sends nothing: rows not
// flushed are dropped.
//
// QuestDB writes a request whole or not at all. When it refuses one for a single row (its answer
// names the line), that row is taken out and the rest sent again, up to kMaxRejectedRows rows
// per sender; the rows taken out are listed by rejected_rows(). A refusal that is not the row's
// own fails the request at once: one whose reason blames the table or a column (a missing table
// or column with auto-creation off, a column of another type), or one that comes back for the
// same reason at the first line once the first row is taken out. Such a refusal costs one
// request, two at most, and not one re-sending per row.
class QuestDbSender {
 public:
  static constexpr std::size_t kMaxRejectedRows = 100;
  // Connecting to the server, each attempt: an address that drops packets costs seconds.
  static constexpr std::chrono::milliseconds kConnectTimeout{5'000};

  // A row the server refused: its number among the rows handed to row() (from 0), and the
  // server's reason.
  struct RejectedRow {
    std::size_t row = 0;
    std::string reason;
  };

  explicit QuestDbSender(QuestDbConf conf);
  QuestDbSender(QuestDbSender&&) = default;

  // Adds a row with its fields in the given order and `at` as its designated timestamp.
  void row(std::string_view table, std::span<const IlpField> fields, TimestampNanos at);

  // Sends every buffered row but those the server refuses one by one, or raises. The buffer is
  // empty afterwards either way: rows of a failed request are not sent again.
  void flush();

  // Rows the server has stored (the rows of every request it accepted).
  std::size_t rows_written() const { return rows_written_; }
  // Rows left out because the server refused them, in the order refused.
  const std::vector<RejectedRow>& rejected_rows() const { return rejected_; }

 private:
  // The row a refusal names (from 1, as the server counts lines) and the server's words.
  struct LineRefusal {
    std::size_t line = 0;
    std::string reason;
    std::string message;  // the whole refusal, for when it is not retried
  };

  // POST /write as the official clients do it: a transient failure is tried again with a
  // doubling pause from 10 ms up to 1 s, for at most retry_timeout, and within the run's time
  // limit. A refusal that names a line is returned at once: sending the same rows again cannot
  // pass. Raises IngressError for any other failure.
  std::optional<LineRefusal> send(std::string_view lines);

  QuestDbConf conf_;
  std::string url_;
  HttpTls tls_;
  std::unique_ptr<HttpClient> http_;
  IlpBuffer buffer_;
  std::size_t rows_added_ = 0;
  std::size_t rows_written_ = 0;
  std::vector<RejectedRow> rejected_;
};

}  // namespace sonda

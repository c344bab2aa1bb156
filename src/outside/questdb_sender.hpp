#pragma once

#include <span>
#include <string_view>

#include "outside/http_client.hpp"
#include "outside/ilp_buffer.hpp"
#include "outside/questdb_conf.hpp"

namespace sonda {

// A QuestDB ingestion client over HTTP or HTTPS. Rows are buffered and sent by flush(); a
// buffer that reaches the configured rows or bytes (75,000 rows or 100 MiB by default) is sent
// on its own, so no request grows without bound. Every failure is an IngressError, except the
// run's time limit, which raises TimeoutException. The destructor sends nothing: rows not
// flushed are dropped.
class QuestDbSender {
 public:
  // Raises IngressError when the configuration string cannot be used.
  static QuestDbSender from_conf(std::string_view conf);

  explicit QuestDbSender(QuestDbConf conf);
  QuestDbSender(QuestDbSender&&) = default;

  // Adds a row with its fields in the given order and `at` as its designated timestamp.
  void row(std::string_view table, std::span<const IlpField> fields, TimestampNanos at);

  // Sends every buffered row, or raises. The buffer is empty afterwards either way: rows of a
  // failed request are not sent again.
  void flush();

 private:
  // POST /write as the official clients do it: retried on a transport failure and on the
  // server-side statuses that may pass (500, 502, 503, 504, 507, 509, 523, 524, 529, 599), with
  // a doubling pause from 10 ms up to 1 s, for at most retry_timeout, and within the run's
  // time limit.
  void send(std::string_view lines);

  QuestDbConf conf_;
  std::string url_;
  HttpTls tls_;
  std::unique_ptr<HttpClient> http_;
  IlpBuffer buffer_;
};

}  // namespace sonda

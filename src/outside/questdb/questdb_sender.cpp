#include "outside/questdb/questdb_sender.hpp"

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <random>
#include <thread>

#include <nlohmann/json.hpp>

#include "core/one_line.hpp"
#include "core/scope_guard.hpp"
#include "outside/process/runtime_limit.hpp"

namespace sonda {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool retriable_status(long status) {
  switch (status) {
    case 500:
    case 502:
    case 503:
    case 504:
    case 507:
    case 509:
    case 523:
    case 524:
    case 529:
    case 599:
      return true;
    default:
      return false;
  }
}

HttpTls tls_of(const QuestDbConf& conf) {
  HttpTls tls;
  tls.verify = conf.tls_verify;
  if (conf.tls_roots) tls.ca_file = conf.tls_roots;
  if (conf.tls_roots_folder) tls.ca_folder = conf.tls_roots_folder;
  return tls;
}

// What a QuestDB answer's body says of a refusal ({"code", "message", "line", "errorId"}), read
// once from its JSON.
struct ServerWords {
  std::optional<std::string> message;
  std::optional<std::size_t> line;  // the row it names, from 1, as the server counts lines
  std::string details;              // "id: …, código: …, linha: …", for the operator
};

ServerWords words_of(std::string_view body) {
  ServerWords words;
  const auto json = nlohmann::json::parse(body, nullptr, false);
  if (!json.is_object()) return words;
  if (json.contains("message") && json["message"].is_string()) {
    words.message = json["message"].get<std::string>();
  }
  if (json.contains("line") && json["line"].is_number_integer() &&
      json["line"].get<std::int64_t>() >= 1) {
    words.line = static_cast<std::size_t>(json["line"].get<std::int64_t>());
  }
  auto detail = [&](const char* key, const char* label) {
    if (!json.contains(key)) return;
    const auto& value = json[key];
    words.details += (words.details.empty() ? "" : ", ") + std::string(label) + ": " +
                     one_line(value.is_string() ? value.get<std::string>() : value.dump());
  };
  detail("errorId", "id");
  detail("code", "código");
  detail("line", "linha");
  return words;
}

// The message of a refused request, with the server's details when it gave some.
std::string refusal(const std::string& where, const HttpOutcome& outcome,
                    const ServerWords& words) {
  const std::string status = "HTTP " + std::to_string(outcome.status);
  if (outcome.status == 401 || outcome.status == 403) {
    return "o QuestDB em " + where + " recusou o usuário e a senha (" + status +
           "): confira as credenciais dessa tabela";
  }
  if (outcome.status == 404) {
    return "o endereço " + where + " não aceita o protocolo de linhas do QuestDB (" + status +
           "): confira o endereço e a porta HTTP do QuestDB";
  }
  if (words.message) {
    const std::string message = "o QuestDB em " + where + " recusou as linhas (" + status +
                                "): " + one_line(*words.message);
    return words.details.empty() ? message : message + " [" + words.details + "]";
  }
  const std::string body = one_line(std::string_view(outcome.body).substr(0, 200));
  return "o QuestDB em " + where + " respondeu " + status + (body.empty() ? "" : ": " + body);
}

// QuestDB prefixes every refusal of the line protocol with this, whatever its status.
constexpr std::string_view kParseFailure = "failed to parse line protocol";

// The server's reason for refusing one row, without the parts every refusal repeats
// ("failed to parse line protocol:errors encountered on line(s):", "error in line 2: ",
// "write error: bekClientes, errno: -1, error: ").
std::string row_reason(std::string message) {
  message = one_line(std::move(message));
  if (const auto at = message.find("error in line "); at != std::string::npos) {
    const auto colon = message.find(": ", at);
    if (colon != std::string::npos) return message.substr(colon + 2);
  }
  if (const auto at = message.rfind(", error: "); at != std::string::npos) {
    return message.substr(at + 9);
  }
  if (message.starts_with(kParseFailure)) {
    message.erase(0, kParseFailure.size());
    while (!message.empty() && (message.front() == ':' || message.front() == ' ')) {
      message.erase(0, 1);
    }
  }
  return message;
}

// Whether QuestDB's reason for refusing a row blames the table or a column rather than the
// row's values, so that every row of the table would be refused alike. The words are QuestDB's
// (9.x): a table missing with auto-creation off, a column missing with auto-creation off, a
// column of another type than the value's, names or types it cannot take, a table it does not
// take rows for. A value out of a column's range, or a designated timestamp before 1970, is the
// row's own.
bool blames_the_table(std::string_view reason) {
  constexpr std::string_view kTableWords[] = {
      "table does not exist",
      "creating new columns is disabled",
      "cast error from protocol type",
      "invalid table name",
      "invalid column name",
      "invalid column type",
      "cannot insert in non-WAL table",
      "cannot modify materialized view",
      "cannot be created automatically",
  };
  return std::any_of(std::begin(kTableWords), std::end(kTableWords),
                     [&](std::string_view words) { return reason.find(words) != reason.npos; });
}

std::string transport_failure(const std::string& where, const HttpOutcome& outcome) {
  std::string message =
      "não foi possível enviar ao QuestDB em " + where + ": " + one_line(outcome.failure);
  if (outcome.certificate) {
    message += " (certificado não confiável: indique a CA em SSL_CERT_FILE)";
  }
  return message;
}

// What one answer (or failure to get one) means for the request.
enum class Verdict {
  accepted,     // the rows are stored
  row_refused,  // one row is at fault: the server names its line
  transient,    // worth the same request again, within retry_timeout
  failed,       // no use sending the same rows again
};

// As the official clients judge it: a transport failure and the server-side statuses that may
// pass (500, 502, 503, 504, 507, 509, 523, 524, 529, 599) are transient, but not an untrusted
// certificate; QuestDB answers some refusals of a row with 500, which would come back, so a
// refusal that names a line, or any that failed to parse the line protocol, is not.
Verdict judge(const HttpOutcome& outcome, const ServerWords& words) {
  if (!outcome.answered) return outcome.certificate ? Verdict::failed : Verdict::transient;
  if (outcome.status >= 200 && outcome.status < 300) return Verdict::accepted;
  if (words.line && words.message) return Verdict::row_refused;
  if (words.message && words.message->starts_with(kParseFailure)) return Verdict::failed;
  return retriable_status(outcome.status) ? Verdict::transient : Verdict::failed;
}

}  // namespace

QuestDbSender::QuestDbSender(QuestDbConf conf)
    : conf_(std::move(conf)),
      url_(std::string(conf_.transport == QuestDbTransport::https ? "https://" : "http://") +
           conf_.address.text() + "/write?precision=n"),
      tls_(tls_of(conf_)),
      http_(std::make_unique<HttpClient>()) {}

void QuestDbSender::row(std::string_view table, std::span<const IlpField> fields,
                        TimestampNanos at) {
  buffer_.add_row(table, fields, at);
  ++rows_added_;
  const bool rows_reached = conf_.auto_flush_rows != 0 && buffer_.rows() >= conf_.auto_flush_rows;
  const bool bytes_reached =
      conf_.auto_flush_bytes != 0 && buffer_.size() >= conf_.auto_flush_bytes;
  if (rows_reached || bytes_reached) flush();
}

void QuestDbSender::flush() {
  if (buffer_.rows() == 0) return;
  const ScopeGuard clear([this] { buffer_.clear(); });
  // Row numbers of what is left in the buffer, made only once a row is refused.
  std::vector<std::size_t> numbers;
  std::optional<LineRefusal> previous;  // the refusal of the row taken out last
  for (;;) {
    const std::optional<LineRefusal> refusal = send(buffer_.text());
    if (!refusal) {
      rows_written_ += buffer_.rows();
      return;
    }
    // The first row refused, taken out, and the next first row refused for the same reason: the
    // reason is every row's, whatever its words, and the first one was no more at fault.
    const bool again_at_the_top = previous && previous->line == 1 && refusal->line == 1 &&
                                  previous->reason == refusal->reason;
    if (again_at_the_top) rejected_.pop_back();
    if (again_at_the_top || blames_the_table(refusal->reason) || refusal->line > buffer_.rows() ||
        rejected_.size() >= kMaxRejectedRows) {
      throw IngressError(refusal->message);
    }
    if (numbers.empty()) {
      numbers.resize(buffer_.rows());
      std::iota(numbers.begin(), numbers.end(), rows_added_ - buffer_.rows());
    }
    const std::size_t index = refusal->line - 1;
    rejected_.push_back({numbers[index], refusal->reason});
    numbers.erase(numbers.begin() + static_cast<std::ptrdiff_t>(index));
    buffer_.remove_row(index);
    if (buffer_.rows() == 0) return;
    previous = refusal;
  }
}

std::optional<QuestDbSender::LineRefusal> QuestDbSender::send(std::string_view lines) {
  HttpPost request;
  request.url = url_;
  request.body = lines;
  request.content_type = "text/plain; charset=utf-8";
  request.username = conf_.username;
  request.password = conf_.password;
  request.bearer_token = conf_.token;
  request.tls = tls_;
  const auto request_timeout =
      conf_.request_timeout +
      std::chrono::milliseconds(conf_.request_min_throughput == 0
                                    ? 0
                                    : lines.size() * 1000 / conf_.request_min_throughput);
  const std::string where = conf_.address.text();

  const auto retry_end = Clock::now() + conf_.retry_timeout;
  std::minstd_rand jitter(std::random_device{}());
  auto pause = 10ms;
  for (;;) {
    request.timeout = run_deadline::time_left(request_timeout);
    request.connect_timeout = run_deadline::time_left(kConnectTimeout);
    const HttpOutcome outcome = http_->post(request);
    if (!outcome.answered && outcome.timed_out && run_deadline::passed()) run_deadline::expire();
    const ServerWords words = outcome.answered ? words_of(outcome.body) : ServerWords{};
    const Verdict verdict = judge(outcome, words);
    if (verdict == Verdict::accepted) return std::nullopt;
    if (verdict == Verdict::row_refused) {
      return LineRefusal{*words.line, row_reason(*words.message), refusal(where, outcome, words)};
    }
    const auto wait = pause + std::chrono::milliseconds(static_cast<int>(jitter() % 10) - 5);
    if (verdict == Verdict::failed || Clock::now() + wait > retry_end) {
      throw IngressError(outcome.answered ? refusal(where, outcome, words)
                                          : transport_failure(where, outcome));
    }
    std::this_thread::sleep_for(run_deadline::time_left(wait));
    pause = std::min(pause * 2, std::chrono::milliseconds(1000));
  }
}

}  // namespace sonda

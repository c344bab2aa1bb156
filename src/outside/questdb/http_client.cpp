#include "outside/questdb/http_client.hpp"

#include <stdexcept>

#include <curl/curl.h>

#include "core/failure.hpp"

namespace sonda {

namespace {

constexpr std::size_t kKeptBody = 64 * 1024;

std::size_t keep_body(char* data, std::size_t size, std::size_t count, void* target) {
  auto& body = *static_cast<std::string*>(target);
  const std::size_t length = size * count;
  if (body.size() < kKeptBody) body.append(data, std::min(length, kKeptBody - body.size()));
  return length;
}

struct SList {
  curl_slist* list = nullptr;
  ~SList() { curl_slist_free_all(list); }
  void add(const std::string& line) {
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (grown == nullptr) throw std::bad_alloc();
    list = grown;
  }
};

}  // namespace

struct HttpClient::Handle {
  CURL* curl = nullptr;
  ~Handle() { curl_easy_cleanup(curl); }
};

HttpClient::HttpClient() : handle_(std::make_unique<Handle>()) {
  handle_->curl = curl_easy_init();
  if (handle_->curl == nullptr) throw InternalError("não foi possível criar um cliente HTTP");
}

HttpClient::~HttpClient() = default;

HttpOutcome HttpClient::post(const HttpPost& request) {
  CURL* curl = handle_->curl;
  curl_easy_reset(curl);  // the connection cache survives a reset

  SList headers;
  headers.add("Content-Type: " + request.content_type);
  headers.add("Expect:");  // no 100-continue round trip before large bodies
  if (request.bearer_token) headers.add("Authorization: Bearer " + *request.bearer_token);

  HttpOutcome outcome;
  char error[CURL_ERROR_SIZE] = "";
  const long timeout = static_cast<long>(std::max<std::int64_t>(1, request.timeout.count()));
  const long connect_timeout = std::min(
      timeout, static_cast<long>(std::max<std::int64_t>(1, request.connect_timeout.count())));

  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "sonda-cobranca");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, connect_timeout);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, keep_body);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &outcome.body);
  if (request.username) {
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(curl, CURLOPT_USERNAME, request.username->c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, request.password.value_or("").c_str());
  }
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, request.tls.verify ? 1L : 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, request.tls.verify ? 2L : 0L);
  if (request.tls.ca_file) curl_easy_setopt(curl, CURLOPT_CAINFO, request.tls.ca_file->c_str());
  if (request.tls.ca_folder) {
    curl_easy_setopt(curl, CURLOPT_CAPATH, request.tls.ca_folder->c_str());
  }

  const CURLcode code = curl_easy_perform(curl);
  if (code == CURLE_OK) {
    outcome.answered = true;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &outcome.status);
    const char* content_type = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &content_type);
    if (content_type != nullptr) outcome.content_type = content_type;
    return outcome;
  }
  outcome.failure = error[0] != '\0' ? error : curl_easy_strerror(code);
  outcome.timed_out = code == CURLE_OPERATION_TIMEDOUT;
  outcome.certificate = code == CURLE_PEER_FAILED_VERIFICATION ||
                        code == CURLE_SSL_CACERT_BADFILE || code == CURLE_SSL_CERTPROBLEM;
  outcome.body.clear();
  return outcome;
}

}  // namespace sonda

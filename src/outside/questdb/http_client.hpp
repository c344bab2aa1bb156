#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonda {

struct HttpTls {
  bool verify = true;                  // the server's certificate and host name
  std::optional<std::string> ca_file;  // trusted certificates (PEM); the system's by default
  std::optional<std::string> ca_folder;
};

struct HttpPost {
  std::string url;
  std::string_view body;
  std::string content_type;
  std::optional<std::string> username;  // Basic authentication, with password
  std::optional<std::string> password;
  std::optional<std::string> bearer_token;
  HttpTls tls;
  std::chrono::milliseconds timeout{10'000};  // connecting, sending and receiving
  // Connecting alone (name look-up, TCP, TLS handshake), within `timeout`: a server that drops
  // packets is given up after this, however long a large body may take to send.
  std::chrono::milliseconds connect_timeout{10'000};
};

// What came of a request: an answer with its status, or a transport failure (nothing usable
// came back).
struct HttpOutcome {
  bool answered = false;
  long status = 0;
  std::string content_type;
  std::string body;  // the first 64 KiB
  // When not answered:
  std::string failure;       // libcurl's description, without credentials
  bool timed_out = false;    // the timeout passed
  bool certificate = false;  // the server's certificate was not trusted
};

// One libcurl handle: connections to the same server are kept between requests.
class HttpClient {
 public:
  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  HttpOutcome post(const HttpPost& request);

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

}  // namespace sonda

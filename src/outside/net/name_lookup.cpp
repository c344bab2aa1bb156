#include "outside/net/name_lookup.hpp"

#include <netdb.h>

#include <cstring>
#include <memory>

#include "outside/process/runtime_limit.hpp"

namespace sonda {

namespace {

using Clock = std::chrono::steady_clock;

// A request of glibc's asynchronous resolver with everything it points to.
struct Lookup {
  std::string host, port;
  addrinfo hints{};
  gaicb request{};
};

timespec as_timespec(std::chrono::milliseconds span) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(span);
  return {static_cast<time_t>(seconds.count()),
          static_cast<long>(std::chrono::nanoseconds(span - seconds).count())};
}

// Ends a request on every path: a request still running belongs to its resolver thread, which
// cannot be stopped, and freeing it under that thread would corrupt memory, so it is kept (few
// ever are: the run is ending); a finished one is freed with its answer.
struct Abandon {
  void operator()(Lookup* lookup) const {
    if (::gai_cancel(&lookup->request) == EAI_NOTCANCELED) {
      static auto* const kept = new std::vector<Lookup*>;
      kept->push_back(lookup);
      return;
    }
    if (lookup->request.ar_result != nullptr) ::freeaddrinfo(lookup->request.ar_result);
    delete lookup;
  }
};

}  // namespace

LookupResult look_up(const std::string& host, const std::string& port,
                     std::chrono::milliseconds cap) {
  const std::unique_ptr<Lookup, Abandon> lookup(new Lookup);
  lookup->host = host;
  lookup->port = port;
  lookup->hints.ai_family = AF_UNSPEC;
  lookup->hints.ai_socktype = SOCK_STREAM;
  lookup->request.ar_name = lookup->host.c_str();
  lookup->request.ar_service = lookup->port.c_str();
  lookup->request.ar_request = &lookup->hints;
  gaicb* requests[] = {&lookup->request};

  const int started = ::getaddrinfo_a(GAI_NOWAIT, requests, 1, nullptr);
  if (started != 0) return {{}, ::gai_strerror(started)};

  const auto cap_end = Clock::now() + cap;
  while (::gai_error(&lookup->request) == EAI_INPROGRESS) {
    const auto cap_left = std::chrono::ceil<std::chrono::milliseconds>(cap_end - Clock::now());
    if (cap_left <= std::chrono::milliseconds::zero()) {
      return {{},
              "a consulta ao DNS passou de " +
                  std::to_string(std::chrono::ceil<std::chrono::seconds>(cap).count()) +
                  " segundos"};
    }
    // At the run's limit, time_left raises TimeoutException.
    const timespec wait = as_timespec(run_deadline::time_left(cap_left));
    ::gai_suspend(requests, 1, &wait);
  }

  const int status = ::gai_error(&lookup->request);
  if (status != 0) return {{}, ::gai_strerror(status)};
  LookupResult result;
  for (const addrinfo* entry = lookup->request.ar_result; entry != nullptr;
       entry = entry->ai_next) {
    SocketAddress address;
    std::memcpy(&address.address, entry->ai_addr, entry->ai_addrlen);
    address.length = entry->ai_addrlen;
    result.addresses.push_back(address);
  }
  return result;
}

}  // namespace sonda

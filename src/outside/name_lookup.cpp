#include "outside/name_lookup.hpp"

#include <netdb.h>

#include <cstring>
#include <memory>

#include "outside/runtime_limit.hpp"

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

// Keeps a request that is still running for its resolver thread: it cannot be taken back, and
// freeing it under that thread would corrupt memory. Few are ever kept: the run is ending.
void keep_for_resolver(std::unique_ptr<Lookup> lookup) {
  static auto* const kept = new std::vector<Lookup*>;
  kept->push_back(lookup.release());
}

void abandon(std::unique_ptr<Lookup>& lookup) {
  switch (::gai_cancel(&lookup->request)) {
    case EAI_NOTCANCELED:
      keep_for_resolver(std::move(lookup));
      break;
    case EAI_ALLDONE:  // finished meanwhile
      if (lookup->request.ar_result != nullptr) ::freeaddrinfo(lookup->request.ar_result);
      break;
    default:
      break;
  }
}

}  // namespace

LookupResult look_up(const std::string& host, const std::string& port,
                     std::chrono::milliseconds cap) {
  auto lookup = std::make_unique<Lookup>();
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
      abandon(lookup);
      return {{},
              "a consulta ao DNS passou de " +
                  std::to_string(std::chrono::ceil<std::chrono::seconds>(cap).count()) +
                  " segundos"};
    }
    std::chrono::milliseconds left{};
    try {
      left = run_deadline::time_left(cap_left);
    } catch (...) {
      abandon(lookup);
      throw;
    }
    const timespec wait = as_timespec(left);
    const int waited = ::gai_suspend(requests, 1, &wait);
    if (waited == EAI_AGAIN && run_deadline::passed()) {
      abandon(lookup);
      run_deadline::expire();
    }
  }

  const int status = ::gai_error(&lookup->request);
  if (status != 0) {
    return {{}, ::gai_strerror(status)};
  }
  LookupResult result;
  addrinfo* found = lookup->request.ar_result;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    SocketAddress address;
    std::memcpy(&address.address, entry->ai_addr, entry->ai_addrlen);
    address.length = entry->ai_addrlen;
    result.addresses.push_back(address);
  }
  ::freeaddrinfo(found);
  return result;
}

}  // namespace sonda

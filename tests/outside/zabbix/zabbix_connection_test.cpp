// The sender's connections: every address of the server tried in turn, and local ports that
// last however many sends, however late the server closes.
#include "outside/zabbix/zabbix_connection.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>
#include <net/if.h>

#include "support/fake_zabbix.hpp"

namespace sonda::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

SocketAddress loopback(int port) {
  SocketAddress endpoint;
  auto* address = reinterpret_cast<sockaddr_in*>(&endpoint.address);
  address->sin_family = AF_INET;
  address->sin_port = htons(static_cast<std::uint16_t>(port));
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  endpoint.length = sizeof(sockaddr_in);
  return endpoint;
}

// A listener whose accept queue is full: the kernel drops further connection requests, so a
// connect to it stays pending, as to a host that has gone silent.
class StalledListener {
 public:
  StalledListener() : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    SocketAddress any = loopback(0);
    ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&any.address), any.length);
    ::listen(listener_.get(), 0);
    socklen_t length = sizeof any.address;
    ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&any.address), &length);
    endpoint_ = any;
    for (UniqueFd& filler : fillers_) {
      filler.reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
      ::connect(filler.get(), reinterpret_cast<sockaddr*>(&endpoint_.address), endpoint_.length);
    }
  }
  const SocketAddress& endpoint() const { return endpoint_; }

 private:
  UniqueFd listener_;
  UniqueFd fillers_[2];
  SocketAddress endpoint_;
};

TEST(ZabbixConnection, EveryAddressIsTriedInTurnWithinTheCallsTime) {
  FakeZabbix trapper;
  StalledListener stalled;
  SocketAddress unknown_family;
  unknown_family.address.ss_family = AF_MAX;  // socket() fails: no such family here
  unknown_family.length = sizeof(sockaddr_in);
  const SocketAddress endpoints[] = {unknown_family, stalled.endpoint(), loopback(closed_port()),
                                     loopback(std::stoi(trapper.address().substr(10)))};

  const auto start = Clock::now();
  ZabbixConnection connection("teste", start + 3s, 3s);
  EXPECT_EQ(connection.connect(endpoints, 0), 3u);
  // The silent address had its share of the time (a third of it), not all of it.
  EXPECT_GT(Clock::now() - start, 900ms);
  EXPECT_LT(Clock::now() - start, 2500ms);
  const std::string frame = sender_data_frame("h", "k", std::int64_t{1});
  const std::string_view parts[] = {frame};
  connection.write_all(parts);
  char answer[4];
  EXPECT_EQ(connection.read_some(answer, sizeof answer), 4u);
  connection.close_after_answer();

  // The address that answered is tried first: no wait at all.
  const auto again = Clock::now();
  ZabbixConnection next("teste", again + 3s, 3s);
  EXPECT_EQ(next.connect(endpoints, 3), 3u);
  EXPECT_LT(Clock::now() - again, 500ms);

  ZabbixConnection none("teste", Clock::now() + 3s, 3s);
  const SocketAddress nowhere[] = {unknown_family, loopback(closed_port())};
  try {
    none.connect(nowhere, 0);
    ADD_FAILURE() << "connected to nothing";
  } catch (const ZabbixError& error) {
    const std::string text = error.what();
    EXPECT_NE(text.find("não foi possível criar o socket"), std::string::npos) << text;
    EXPECT_NE(text.find("127.0.0.1: Connection refused"), std::string::npos) << text;
  }
}

constexpr const char* kInNamespace = "SONDA_TEST_IN_NETWORK_NAMESPACE";
constexpr int kSkipped = 77;

void bring_loopback_up() {
  const UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  ASSERT_EQ(::ioctl(fd.get(), SIOCGIFFLAGS, &request), 0);
  request.ifr_flags |= IFF_UP;
  ASSERT_EQ(::ioctl(fd.get(), SIOCSIFFLAGS, &request), 0);
}

void write_setting(const std::string& path, const std::string& value) {
  std::ofstream file(path);
  file << value;
  file.close();
  ASSERT_TRUE(file) << path;
}

// Runs in a network namespace of its own (see the next test) with 300 local ports, and without
// the loopback-only reuse of TIME_WAIT ports, so that it sees what a real network would: each
// connection whose port ended in TIME_WAIT would keep it for a minute.
TEST(ZabbixConnection, InNamespaceManySendsToALateClosingServer) {
  if (std::getenv(kInNamespace) == nullptr) GTEST_SKIP() << "só dentro do namespace de rede";
  bring_loopback_up();
  write_setting("/proc/sys/net/ipv4/ip_local_port_range", "40000 40299");
  write_setting("/proc/sys/net/ipv4/tcp_tw_reuse", "0");
  constexpr int kSends = 20'000;
  FakeZabbix trapper(std::vector<ZabbixAnswer>(kSends, ZabbixAnswer::late_close));
  ZabbixSender sender(zabbix_settings_for(trapper.address()));
  for (int i = 0; i < kSends; ++i) {
    ASSERT_NO_THROW(send_zabbix(sender, "h", "k", std::int64_t{i})) << "envio " << i;
  }
  EXPECT_EQ(trapper.connections(), kSends);
}

TEST(ZabbixConnection, LateClosingServerCannotUseUpTheLocalPorts) {
  if (std::getenv(kInNamespace) != nullptr) GTEST_SKIP();
  std::vector<const char*> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    environment.push_back(*variable);
  }
  const std::string marker = std::string(kInNamespace) + "=1";
  environment.push_back(marker.c_str());
  environment.push_back(nullptr);
  const char* arguments[] = {"zabbix_connection_test",
                             "--gtest_filter=ZabbixConnection.InNamespace*", nullptr};
  const pid_t child = ::fork();
  if (child == 0) {
    // Only system calls between fork and exec: the test program starts anew in the namespace.
    if (::unshare(CLONE_NEWNET) != 0) ::_exit(kSkipped);
    ::execve("/proc/self/exe", const_cast<char* const*>(arguments),
             const_cast<char* const*>(environment.data()));
    ::_exit(127);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kSkipped) GTEST_SKIP() << "sem permissão para criar um namespace";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace sonda::test

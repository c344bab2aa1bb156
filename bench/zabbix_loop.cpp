// zabbix-loop: the physical limit of the Zabbix phase. Sends COUNT values the simplest way the
// protocol allows (blocking connect, one write of a prebuilt frame, read the answer, close), to
// time against the probe. Usage: zabbix-loop HOST PORT ZABBIX_HOST COUNT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string frame(const std::string& host, long i) {
  const std::string key =
      (i % 2 ? "titulos_em_atraso[" : "valor_divida[") + std::to_string(i / 2) + "]";
  const std::string value = i % 2 ? "3" : "157.5";
  const std::string body = "{\"request\":\"sender data\",\"data\":[{\"host\":\"" + host +
                           "\",\"key\":\"" + key + "\",\"value\":\"" + value + "\"}]}";
  std::string out = "ZBXD\x01";
  for (int b = 0; b < 4; ++b) out.push_back(static_cast<char>(body.size() >> (8 * b) & 0xFF));
  out.append(4, '\0');
  return out + body;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "uso: zabbix-loop HOST PORTA ZABBIX_HOST QUANTIDADE\n");
    return 2;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
  inet_pton(AF_INET, argv[1], &address.sin_addr);
  const long count = std::atol(argv[4]);
  const auto start = std::chrono::steady_clock::now();
  char answer[4096];
  for (long i = 0; i < count; ++i) {
    const std::string request = frame(argv[3], i);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
      std::perror("zabbix-loop");
      return 1;
    }
    while (read(fd, answer, sizeof answer) > 0) {
    }
    close(fd);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f\n", seconds);
  return 0;
}

#include "outside/questdb/questdb_conf.hpp"

#include "core/host_port.hpp"

namespace sonda {

QuestDbConf questdb_conf_for(QuestDbTransport transport, std::string_view host,
                             std::string_view port, std::string username, std::string password) {
  const bool bare_ipv6 = host.find(':') != std::string_view::npos && !host.starts_with('[');
  const std::string addr =
      (bare_ipv6 ? "[" + std::string(host) + "]" : std::string(host)) + ":" + std::string(port);
  HostPortProblem problem = HostPortProblem::none;
  const auto address = parse_host_port(addr, kQuestDbHttpPort, &problem);
  if (!address) {
    throw IngressError(
        std::string(problem == HostPortProblem::port ? "porta inválida" : "host inválido") +
        " no endereço do QuestDB \"" + addr + "\"");
  }
  QuestDbConf conf;
  conf.transport = transport;
  conf.address = *address;
  conf.username = std::move(username);
  conf.password = std::move(password);
  return conf;
}

}  // namespace sonda

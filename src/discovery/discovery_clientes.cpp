#include "discovery/discovery_clientes.hpp"

namespace sonda {

int discovery_clientes(const RunSettings&, const std::string&) {
  throw InternalError("o modo discovery_clientes ainda não está disponível nesta versão");
}

}  // namespace sonda

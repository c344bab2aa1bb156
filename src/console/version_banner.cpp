#include "console/version_banner.hpp"

#include "core/constants.hpp"

namespace sonda {

namespace {
constexpr std::string_view kRightsNotice =
    " sonda-cobranca: sonda de clientes e cobrança para Zabbix. Todos os direitos reservados.";
}

std::string version_line(std::string_view invocation_name) {
  std::string line;
  line.reserve(invocation_name.size() + 2 + VERSION.size());
  for (std::size_t i = 0; i < invocation_name.size();) {
    if (invocation_name.substr(i, 2) == "./") {
      line.push_back(' ');
      i += 2;
    } else {
      line.push_back(invocation_name[i++]);
    }
  }
  line += "  ";
  line += VERSION;
  return line;
}

void get_version(std::string_view invocation_name, LineOutput& out) {
  out.line(kRightsNotice);
  out.line(version_line(invocation_name));
}

}  // namespace sonda

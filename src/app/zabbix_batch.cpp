#include "app/zabbix_batch.hpp"

#include <charconv>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/run_settings.hpp"

namespace sonda {

std::size_t zabbix_batch_from(const char* text) {
  if (text == nullptr) return 1;
  const std::string_view digits = text;
  std::size_t batch = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), batch);
  if (ec != std::errc() || end != digits.data() + digits.size() || batch < 1 ||
      batch > kMaxZabbixBatch) {
    throw ConfigError("SONDA_ZABBIX_BATCH deve ser um número inteiro de 1 a " +
                      std::to_string(kMaxZabbixBatch) + " (valores por envio ao Zabbix), não \"" +
                      std::string(digits) + "\"");
  }
  return batch;
}

std::size_t zabbix_batch() { return zabbix_batch_from(std::getenv("SONDA_ZABBIX_BATCH")); }

}  // namespace sonda

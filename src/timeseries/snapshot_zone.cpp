#include "timeseries/snapshot_zone.hpp"

#include "console/line_output.hpp"
#include "core/one_line.hpp"

namespace sonda {

std::string unknown_zone_line(std::string_view database_zone, std::string_view machine_zone,
                              const std::optional<std::string>& tzdir) {
  // The names come from the server and the environment: they must not break the line.
  const std::string fallback =
      ": as datas de bekClientes e bekCobranca serão lidas no fuso "
      "horário desta máquina (" +
      one_line(machine_zone) + ")";
  if (database_zone.empty()) {
    return "Aviso: o PostgreSQL não informou seu fuso horário (TimeZone)" + fallback + ".";
  }
  const std::string zone = "o fuso horário \"" + one_line(database_zone) + "\" do PostgreSQL";
  if (!CivilTimeZone::database_present()) {
    // Without the tz database no zone name can be read: naming another would not help.
    const std::string mend =
        tzdir && !tzdir->empty()
            ? "corrija TZDIR (\"" + one_line(*tzdir) +
                  "\"), que deve apontar para a base de fusos horários (ex.: /usr/share/zoneinfo)"
            : "instale o pacote tzdata";
    return "Aviso: " + zone + " não é conhecido nesta máquina, que não tem a base de fusos " +
           "horários" + fallback + ". Para lê-las no fuso do banco, " + mend + ".";
  }
  return "Aviso: " + zone + " não está na base de fusos horários desta máquina" + fallback +
         ". Para lê-las no fuso do banco, atualize o pacote tzdata ou defina o TimeZone do "
         "banco com um nome dessa base (ex.: America/Sao_Paulo).";
}

CivilTimeZone snapshot_time_zone(std::string_view database_zone, const MachineZone& machine) {
  if (auto zone = CivilTimeZone::load(database_zone)) return *zone;
  CivilTimeZone own = CivilTimeZone::machine(machine.tz);
  write_error_line(unknown_zone_line(database_zone, own.name(), machine.tzdir));
  return own;
}

}  // namespace sonda

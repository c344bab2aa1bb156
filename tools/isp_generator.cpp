// isp-generator: writes a psql script that fills the billing tables (tests/fixtures/
// billing_schema.sql) with a synthetic ISP of N customers: several contracts for a few, a few
// contacts, paid, open and overdue bills, accented names, forty points of presence. The same
// seed and day give the same data. Usage: isp-generator CUSTOMERS [SEED] | psql -d DATABASE
#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

namespace {

// splitmix64: small, fast and the same on every machine.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  // 0 .. bound-1
  int below(int bound) { return static_cast<int>(next() % static_cast<std::uint64_t>(bound)); }
  bool percent(int chance) { return below(100) < chance; }
  template <typename T, std::size_t N>
  const T& pick(const std::array<T, N>& items) {
    return items[static_cast<std::size_t>(below(static_cast<int>(N)))];
  }

 private:
  std::uint64_t state_;
};

constexpr std::array<std::string_view, 24> kFirstNames = {
    "João",  "José",  "Antônio", "Francisco", "Conceição", "Luíza",   "Márcia",   "André",
    "Sônia", "Inês",  "Cláudio", "Fábio",     "Vitória",   "Ângela",  "Raimundo", "Maria",
    "Ana",   "Paulo", "Lúcia",   "Sebastião", "Benedita",  "Joaquim", "Tânia",    "Érica"};
constexpr std::array<std::string_view, 20> kSurnames = {
    "Silva",   "Santos",    "Oliveira",  "Souza",   "Conceição", "Gonçalves", "Araújo",
    "Ribeiro", "Simões",    "Magalhães", "Brandão", "Assunção",  "Lima",      "Gomes",
    "Pereira", "Guimarães", "Peixoto",   "Falcão",  "Damião",    "Estêvão"};
constexpr std::array<std::string_view, 8> kBusinesses = {"Mercado",   "Padaria",       "Farmácia",
                                                         "Oficina",   "Distribuidora", "Açougue",
                                                         "Papelaria", "Lanchonete"};
constexpr std::array<std::string_view, 6> kPlans = {"59.90",  "79.90",  "99.90",
                                                    "119.90", "149.90", "299.90"};
constexpr int kPointsOfPresence = 40;

constexpr const char* kTables =
    "admcore_clientecontato, admcore_contato, financeiro_titulo, admcore_clientecontrato, "
    "financeiro_cobranca, admcore_clientecontratostatus, admcore_cliente, admcore_pessoa";
constexpr const char* kQuotedTables =
    "'admcore_clientecontato', 'admcore_contato', 'financeiro_titulo', "
    "'admcore_clientecontrato', 'financeiro_cobranca', 'admcore_clientecontratostatus', "
    "'admcore_cliente', 'admcore_pessoa'";

// One COPY block, kept whole until finish() so that blocks filled side by side come out one
// after the other.
class CopyBlock {
 public:
  CopyBlock(std::string_view table, std::string_view columns) {
    text_ = "COPY " + std::string(table) + " (" + std::string(columns) + ") FROM STDIN;\n";
  }
  CopyBlock& field(std::string_view value) {
    if (!first_) text_.push_back('\t');
    first_ = false;
    text_ += value;
    return *this;
  }
  CopyBlock& field(long long value) {
    char digits[24];
    return field(std::string_view(digits, std::to_chars(digits, digits + 24, value).ptr));
  }
  CopyBlock& null() { return field("\\N"); }
  void end_row() {
    text_.push_back('\n');
    first_ = true;
  }
  void finish() {
    text_ += "\\.\n";
    std::fwrite(text_.data(), 1, text_.size(), stdout);
    text_.clear();
    text_.shrink_to_fit();
  }

 private:
  std::string text_;
  bool first_ = true;
};

std::string date_text(std::chrono::sys_days day) {
  const std::chrono::year_month_day ymd{day};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
  return text;
}

std::string digits(Random& random, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text.push_back(static_cast<char>('0' + random.below(10)));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  long long customers = 0;
  unsigned long long seed = 20261209;
  if (argc < 2 ||
      std::from_chars(argv[1], argv[1] + std::string_view(argv[1]).size(), customers).ec !=
          std::errc() ||
      customers < 0 ||
      (argc > 2 && std::from_chars(argv[2], argv[2] + std::string_view(argv[2]).size(), seed).ec !=
                       std::errc())) {
    std::fprintf(stderr, "uso: isp-generator CLIENTES [SEMENTE] | psql -d BANCO\n");
    return 2;
  }
  Random random(seed);
  const auto now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::chrono::sys_days today{std::chrono::year{local.tm_year + 1900} / (local.tm_mon + 1) /
                                    local.tm_mday};

  std::printf("\\set ON_ERROR_STOP on\nBEGIN;\nTRUNCATE %s;\n", kTables);
  // Checking foreign keys row by row would take most of the time: they are dropped for the
  // load and added back at the end, which checks them all in one pass each.
  std::printf(
      "CREATE TEMP TABLE generator_foreign_keys ON COMMIT DROP AS SELECT conrelid::regclass AS "
      "tab, conname, pg_get_constraintdef(oid) AS def FROM pg_constraint WHERE contype = 'f' "
      "AND conrelid::regclass::text IN (%s);\n"
      "DO $$ DECLARE k record; BEGIN FOR k IN SELECT * FROM generator_foreign_keys LOOP EXECUTE "
      "format('ALTER TABLE %%s DROP CONSTRAINT %%I', k.tab, k.conname); END LOOP; END $$;\n",
      kQuotedTables);
  std::fputs(
      "INSERT INTO admcore_clientecontratostatus (id, status) VALUES (1, 1), (2, 2), (3, 3), "
      "(4, 4);\n",
      stdout);

  CopyBlock pessoas("admcore_pessoa", "id, nome, cpfcnpj, nomefantasia");
  for (long long c = 1; c <= customers; ++c) {
    const bool business = random.percent(20);
    std::string name;
    if (business) {
      name = std::string(random.pick(kBusinesses)) + " " + std::string(random.pick(kSurnames)) +
             (random.percent(50) ? " Ltda" : " ME");
    } else {
      name = std::string(random.pick(kFirstNames)) + " " + std::string(random.pick(kSurnames)) +
             " " + std::string(random.pick(kSurnames));
    }
    pessoas.field(c).field(name);
    if (random.percent(5)) {
      pessoas.null();
    } else if (business) {
      pessoas.field(digits(random, 2) + "." + digits(random, 3) + "." + digits(random, 3) +
                    "/0001-" + digits(random, 2));
    } else {
      pessoas.field(digits(random, 3) + "." + digits(random, 3) + "." + digits(random, 3) + "-" +
                    digits(random, 2));
    }
    if (business) {
      pessoas.field(std::string(random.pick(kBusinesses)) + " do " +
                    std::string(random.pick(kFirstNames)));
    } else {
      pessoas.null();
    }
    pessoas.end_row();
  }
  pessoas.finish();

  CopyBlock clientes("admcore_cliente", "id, pessoa_id");
  for (long long c = 1; c <= customers; ++c) clientes.field(c).field(c).end_row();
  clientes.finish();

  CopyBlock contratos("admcore_clientecontrato",
                      "id, cliente_id, data_cadastro, status_id, cobranca_id, pop_id");
  CopyBlock cobrancas("financeiro_cobranca", "id");
  CopyBlock titulos("financeiro_titulo", "cliente_id, cobranca_id, valor, status, data_vencimento");
  long long contract = 0;
  for (long long c = 1; c <= customers; ++c) {
    const int count = random.percent(88) ? 1 : (random.percent(83) ? 2 : 3);
    for (int k = 0; k < count; ++k) {
      ++contract;
      const int status = random.percent(85) ? 1 : 2 + random.below(3);
      const auto registered = today - std::chrono::days{30 + random.below(5000)};
      char stamp[40];
      std::snprintf(stamp, sizeof stamp, "%s %02d:%02d:%02d.%06d", date_text(registered).c_str(),
                    random.below(24), random.below(60), random.below(60), random.below(1000000));
      contratos.field(contract).field(c).field(stamp).field(status).field(contract).field(
          1 + random.below(kPointsOfPresence));
      contratos.end_row();
      cobrancas.field(contract).end_row();

      const std::string_view plan = random.pick(kPlans);
      auto bill = [&](int bill_status, std::chrono::sys_days due) {
        titulos.field(c).field(contract).field(plan).field(bill_status).field(date_text(due));
        titulos.end_row();
      };
      bill(2, today - std::chrono::days{35 + random.below(20)});  // paid
      bill(2, today - std::chrono::days{65 + random.below(20)});
      bill(1, today + std::chrono::days{random.below(31)});  // open
      if (random.percent(18)) {                              // overdue
        for (int b = 1 + random.below(6); b > 0; --b) {
          const int overdue_status = random.percent(70) ? 1 : (random.percent(50) ? 4 : 5);
          bill(overdue_status, today - std::chrono::days{1 + random.below(400)});
        }
      }
      if (random.percent(3)) bill(3, today - std::chrono::days{random.below(200)});  // cancelled
    }
  }
  cobrancas.finish();  // first: contracts and bills refer to billing records
  contratos.finish();
  titulos.finish();

  CopyBlock contatos("admcore_contato", "id, contato");
  CopyBlock ligacoes("admcore_clientecontato", "cliente_id, contato_id");
  long long contact = 0;
  for (long long c = 1; c <= customers; ++c) {
    const int roll = random.below(100);
    const int count = roll < 8 ? 0 : roll < 58 ? 1 : roll < 88 ? 2 : 3;
    for (int k = 0; k < count; ++k) {
      ++contact;
      if (random.percent(70)) {
        contatos.field(contact).field("(" + digits(random, 2) + ") 9" + digits(random, 4) + "-" +
                                      digits(random, 4));
      } else {
        contatos.field(contact).field("cliente" + std::to_string(c) + "@provedor.com.br");
      }
      contatos.end_row();
      ligacoes.field(c).field(contact).end_row();
    }
  }
  contatos.finish();
  ligacoes.finish();

  std::fputs(
      "DO $$ DECLARE k record; BEGIN FOR k IN SELECT * FROM generator_foreign_keys LOOP EXECUTE "
      "format('ALTER TABLE %s ADD CONSTRAINT %I %s', k.tab, k.conname, k.def); END LOOP; END "
      "$$;\n",
      stdout);
  std::printf("COMMIT;\nANALYZE %s;\n", kTables);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

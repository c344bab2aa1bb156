#include "app/usage.hpp"

namespace sonda {

namespace {

constexpr std::string_view kUsage =
    R"(Uso: sonda-cobranca mode host db_ip db_port db_name db_user db_password pop_id
           quest_db_ip quest_db_port quest_db_username quest_db_password
           quest_db_ip_chat quest_db_port_chat quest_db_username_chat
           quest_db_password_chat zabbix_host
     sonda-cobranca version
     sonda-cobranca --help

Os 17 argumentos, nesta ordem (cada valor é usado exatamente como dado):
   1 mode                    discovery_clientes; version; ou um texto com launch_, que
                             inicia em segundo plano o modo que o segue
                             (launch_discovery_clientes)
   2 host                    aceito e não usado
   3 db_ip                   endereço do PostgreSQL
   4 db_port                 sua porta
   5 db_name                 nome do banco
   6 db_user                 usuário do banco
   7 db_password             senha do banco
   8 pop_id                  ponto de presença cujos títulos em aberto são somados
   9 quest_db_ip             QuestDB da tabela bekClientes (HTTPS)
  10 quest_db_port           sua porta
  11 quest_db_username       seu usuário
  12 quest_db_password       sua senha
  13 quest_db_ip_chat        QuestDB da tabela bekCobranca (HTTP)
  14 quest_db_port_chat      sua porta
  15 quest_db_username_chat  seu usuário
  16 quest_db_password_chat  sua senha
  17 zabbix_host             host do Zabbix que recebe os valores; debug imprime um
                             relatório em vez de enviar

Configuração: variáveis de ambiente; as marcadas com * valem também no arquivo
/etc/sonda-cobranca/sonda-cobranca.conf, uma por linha (NOME=valor, # comenta),
e o ambiente prevalece sobre o arquivo.
  SONDA_CONFIG_FILE          outro arquivo de configuração no lugar desse
                             (vazia: nenhum)
* SONDA_ZABBIX_SERVER        servidores Zabbix, como o ServerActive do agente: host ou
                             host:porta, "," entre servidores, ";" entre os nós de um
                             cluster; sem ela, o ServerActive do agente Zabbix, ou
                             127.0.0.1:10051
* SONDA_ZABBIX_CONFIG        arquivo de configuração do agente (como zabbix_sender -c):
                             ServerActive e as linhas TLS* da criptografia com o Zabbix
* SONDA_ZABBIX_BATCH         valores por envio ao Zabbix, de 1 (padrão) a 10000
* SONDA_DISCOVERY_AMOUNTS    0: a descoberta deixa de fora {#VALOR_DIVIDA} e
                             {#TITULOS_EM_ATRASO} (grandes provedores); 1: padrão
* SONDA_LOG_DIR              pasta dos registros das execuções em segundo plano
  TMPDIR                     pasta desses registros sem SONDA_LOG_DIR nem uma
                             /var/log/sonda-cobranca gravável (padrão /tmp)
  SONDA_SEND_OUTCOME         1: uma execução direta também envia seu resultado ao item
                             sonda_execucao (as de segundo plano sempre enviam)
* SSL_CERT_FILE              certificados confiáveis para o QuestDB em HTTPS
* SSL_CERT_DIR               pasta de certificados confiáveis, idem
  PGSSLMODE, PGSSLROOTCERT   e as demais variáveis da libpq: criptografia do PostgreSQL
  PGTZ                       fuso horário da sessão do PostgreSQL, que dá o instante das
                             datas gravadas no QuestDB
  TZ                         fuso horário desta máquina, que lê as datas se o do
                             PostgreSQL faltar nela
  TZDIR                      base de fusos horários (padrão /usr/share/zoneinfo)
* SONDA_PHASE_TIMES          arquivo que recebe a duração e o pico de memória de
                             cada fase (medições)
  SONDA_TEST_RUNTIME_LIMIT   só para testes: limite de tempo em segundos no lugar de 300
  SONDA_TEST_ROWS_PER_REQUEST  só para testes: linhas por envio ao QuestDB

Manual completo: man sonda-cobranca
)";

}  // namespace

bool asks_for_help(std::span<const char* const> arguments) {
  if (arguments.size() != 1) return false;
  const std::string_view argument = arguments[0];
  return argument == "--help" || argument == "-h" || argument == "help";
}

std::string_view usage_text() { return kUsage; }

}  // namespace sonda

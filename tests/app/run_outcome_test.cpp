#include "app/run_outcome.hpp"

#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

namespace sonda::test {
namespace {

using std::chrono::seconds;

const std::chrono::system_clock::time_point kStart{seconds(1765280000)};

// Byte for byte, the value the item sonda_execucao receives: how the run ended, judged from its
// status and its figures, and only the figures it reached.
TEST(OutcomeJson, EachWayARunEndsAndOnlyTheFiguresItReached) {
  RunFigures done;
  done.customers = 7;
  done.refused_fixed = 0;
  done.refused_per_customer = 14;
  done.tables = {{"bekClientes", 7, 0}, {"bekCobranca", 0, 7}};
  done.first_error = "Erro: bekCobranca: \"x\" não";
  EXPECT_EQ(outcome_json(outcome_of_exit(0, done, kStart, std::chrono::milliseconds(2418))),
            R"j({"situacao": 0, "status": 0, "inicio": 1765280000, "duracao": 2.418, )j"
            R"j("clientes": 7, "zabbix": {"recusados_fixos": 0, "recusados_por_cliente": 14}, )j"
            R"j("questdb": {"bekClientes": {"gravadas": 7, "nao_gravadas": 0}, )j"
            R"j("bekCobranca": {"gravadas": 0, "nao_gravadas": 7}}, )j"
            R"j("erro": "Erro: bekCobranca: \"x\" n\u00e3o"})j");

  // A failure that left no line of its own, and one that did.
  EXPECT_EQ(outcome_json(outcome_of_exit(2, {}, kStart, seconds(1))),
            R"j({"situacao": 1, "status": 2, "inicio": 1765280000, "duracao": 1.000, )j"
            R"j("erro": "a execu\u00e7\u00e3o terminou com status 2"})j");
  RunFigures failed;
  failed.customers = 7;
  failed.first_error = "sonda-cobranca: erro inesperado: ZabbixError: ...";
  EXPECT_EQ(outcome_of_exit(1, failed, kStart, seconds(1)).end, RunEnd::failed);
  EXPECT_EQ(outcome_of_exit(1, failed, kStart, seconds(1)).error, *failed.first_error);

  // The time limit ends a run with status 0 (and 2 when its output could not be written).
  RunFigures limit;
  limit.time_limit_reached = true;
  limit.first_error = "Tempo limite de execução excedido";
  EXPECT_EQ(outcome_of_wait_status(0, limit, kStart, seconds(300)).end, RunEnd::time_limit);
  EXPECT_EQ(outcome_of_exit(2, limit, kStart, seconds(300)).end, RunEnd::time_limit);

  // Killed: the signal in place of a status, and the kill as the error when nothing came first.
  const int killed = SIGKILL;  // as waitpid() reports a process ended by SIGKILL
  ASSERT_TRUE(WIFSIGNALED(killed));
  EXPECT_EQ(
      outcome_json(outcome_of_wait_status(killed, {}, kStart, std::chrono::milliseconds(1500))),
      R"j({"situacao": 3, "sinal": 9, "inicio": 1765280000, "duracao": 1.500, )j"
      R"j("erro": "a execu\u00e7\u00e3o foi encerrada pelo sinal 9 (SIGKILL)"})j");
  const int exited = 3 << 8;  // exit status 3
  EXPECT_EQ(outcome_of_wait_status(exited, {}, kStart, seconds(1)).exit_status, 3);
}

}  // namespace
}  // namespace sonda::test

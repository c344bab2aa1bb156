#pragma once

#include "core/macro_entry.hpp"

namespace sonda::macro {

// The macro names of the customer entries. The first six make a discovery entry, in this order;
// a snapshot entry has the first five, CONTATO and the last five.
inline constexpr MacroName CLIENTE_ID = "{#CLIENTE_ID}";
inline constexpr MacroName RAZAOSOCIAL = "{#RAZAOSOCIAL}";
inline constexpr MacroName CPF_CNPJ = "{#CPF_CNPJ}";
inline constexpr MacroName VALOR_DIVIDA = "{#VALOR_DIVIDA}";
inline constexpr MacroName TITULOS_EM_ATRASO = "{#TITULOS_EM_ATRASO}";
inline constexpr MacroName CONTATO = "{#CONTATO}";
inline constexpr MacroName TEMPO_VENCIMENTO = "{#TEMPO_VENCIMENTO}";
inline constexpr MacroName NOME_FANTASIA = "{#NOME_FANTASIA}";
inline constexpr MacroName DATA_CADASTRO = "{#DATA_CADASTRO}";
inline constexpr MacroName STATUS_CONTRATO = "{#STATUS_CONTRATO}";
inline constexpr MacroName BEK_IDENTIFICATION = "{#BEK_IDENTIFICATION}";

}  // namespace sonda::macro

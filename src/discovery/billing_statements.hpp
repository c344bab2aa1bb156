#pragma once

#include <string>
#include <string_view>

namespace sonda {

// The customer statement: one row per customer (id, name, tax number, overdue count and amount,
// contacts, earliest overdue due date, trade name, first registration, contract status),
// ordered by customer id.
extern const std::string_view kCustomerStatement;

// The open-bills statement is its head, the point-of-presence id and its tail: the count and sum
// of the bills still within their due date whose contract's point of presence contains the id.
extern const std::string_view kOpenBillsStatementHead;
extern const std::string_view kOpenBillsStatementTail;

// The open-bills statement for a point-of-presence id already escaped as the body of a string
// literal (so the pattern compared is always %, the id, %).
std::string open_bills_statement(std::string_view escaped_pop_id);

}  // namespace sonda

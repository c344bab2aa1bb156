#pragma once

#include <initializer_list>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "core/field_value.hpp"

namespace sonda {

// The name of a Zabbix macro such as "{#CLIENTE_ID}". Only compile-time texts are accepted, so
// an entry can hold the name without owning a copy.
class MacroName {
 public:
  consteval MacroName(const char* text) : text_(text) {}  // NOLINT: implicit by design

  constexpr std::string_view text() const { return text_; }
  constexpr bool operator==(const MacroName& other) const { return text_ == other.text_; }

 private:
  std::string_view text_;
};

struct MacroField {
  MacroName name;
  FieldValue value;
};

// An ordered map from macro name to value. Names are distinct and keep their insertion order,
// which is also the order of the discovery document's members and of the console table's lines.
class MacroEntry {
 public:
  MacroEntry() = default;
  MacroEntry(std::initializer_list<MacroField> fields) : fields_(fields) {}

  // Appends a field. The name must not be in the entry yet.
  void add(MacroName name, FieldValue value) { fields_.push_back({name, std::move(value)}); }

  // The value under `name`; raises InternalError when the entry has no such name.
  const FieldValue& at(MacroName name) const;

  std::span<const MacroField> fields() const { return fields_; }
  bool empty() const { return fields_.empty(); }
  void clear() { fields_.clear(); }
  void reserve(std::size_t count) { fields_.reserve(count); }

 private:
  std::vector<MacroField> fields_;
};

}  // namespace sonda

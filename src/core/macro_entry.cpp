#include "core/macro_entry.hpp"

#include <string>

#include "core/failure.hpp"

namespace sonda {

const FieldValue& MacroEntry::at(MacroName name) const {
  for (const MacroField& field : fields_) {
    if (field.name == name) return field.value;
  }
  throw InternalError("a entrada não tem o campo " + std::string(name.text()));
}

}  // namespace sonda

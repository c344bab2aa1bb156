#pragma once

#include <cstddef>
#include <span>

#include "core/macro_entry.hpp"

namespace sonda {

// A list of entries that are made one at a time, when read: a reader fills one MacroEntry of
// its own for each, in turn. Hundreds of thousands of customers are then kept once, in their
// compact rows, however many readers (the discovery document, the report, each table) see them
// as entries of their own shape.
class MacroEntries {
 public:
  virtual ~MacroEntries() = default;

  virtual std::size_t size() const = 0;
  // Replaces the fields of `entry` with those of the entry at `index` (below size()).
  virtual void fill(std::size_t index, MacroEntry& entry) const = 0;
};

// Entries already built, read as such (a few entries; tests).
class BuiltMacroEntries final : public MacroEntries {
 public:
  explicit BuiltMacroEntries(std::span<const MacroEntry> entries) : entries_(entries) {}

  std::size_t size() const override { return entries_.size(); }
  void fill(std::size_t index, MacroEntry& entry) const override { entry = entries_[index]; }

 private:
  std::span<const MacroEntry> entries_;
};

}  // namespace sonda

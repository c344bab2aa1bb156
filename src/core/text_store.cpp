#include "core/text_store.hpp"

#include <cstring>

namespace sonda {

std::string_view TextStore::keep(std::string_view text) {
  if (text.empty()) return {};
  if (text.size() > kBlockSize / 4) {
    // A long text gets a block of its own; the block being filled stays last.
    auto& block = large_.emplace_back(std::make_unique<char[]>(text.size()));
    std::memcpy(block.get(), text.data(), text.size());
    return {block.get(), text.size()};
  }
  if (used_ + text.size() > kBlockSize) {
    blocks_.push_back(std::make_unique<char[]>(kBlockSize));
    used_ = 0;
  }
  char* copy = blocks_.back().get() + used_;
  std::memcpy(copy, text.data(), text.size());
  used_ += text.size();
  return {copy, text.size()};
}

}  // namespace sonda

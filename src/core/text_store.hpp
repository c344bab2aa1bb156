#pragma once

#include <memory>
#include <string_view>
#include <vector>

namespace sonda {

// Keeps copies of texts in large blocks, so that a result set's texts outlive the result itself
// at a fraction of its memory (no per-value allocation, header or terminator). Texts are never
// moved once kept.
class TextStore {
 public:
  // A copy of `text` that lives as long as the store.
  std::string_view keep(std::string_view text);

 private:
  static constexpr std::size_t kBlockSize = 1 << 20;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::vector<std::unique_ptr<char[]>> large_;
  std::size_t used_ = kBlockSize;  // of the last block
};

}  // namespace sonda

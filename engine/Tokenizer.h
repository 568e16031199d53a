#pragma once
// Splits command lines into arguments and joins them back.

#include <string>
#include <string_view>
#include <vector>

namespace orvex {

using Args = std::vector<std::string>;

class Tokenizer {
  public:
    explicit Tokenizer(size_t lineSize = 1024) : lineSize_(lineSize) {}
    // Splits at `sep` and at TAB. The line is first cut to lineSize-1 characters and at an embedded
    // NUL. With keepEmpty every separator ends a field; otherwise runs collapse.
    Args Split(std::string_view line, char sep = ' ', bool keepEmpty = false) const;

  private:
    size_t lineSize_;
};

// Arguments first..end separated by single spaces, leaving out those whose first character is
// `skip` (skip 0 leaves out empty arguments).
std::string Join(const Args& args, char skip = 0, size_t first = 1);

}  // namespace orvex

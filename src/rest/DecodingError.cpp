#include "rest/DecodingError.hpp"

namespace quorvane {

DecodingError::DecodingError(Kind kind, std::string codingPath, const std::string& detail)
    : std::runtime_error(codingPath.empty() ? detail : detail + " (at " + codingPath + ")"),
      kind_(kind),
      codingPath_(std::move(codingPath)) {}

}  // namespace quorvane

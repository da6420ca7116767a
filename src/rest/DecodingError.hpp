#pragma once

#include <stdexcept>
#include <string>

namespace quorvane {

/// Why a JSON body could not be read as the expected record. `codingPath` names the failing value
/// from the root, for example "sessions[1].token"; it is empty for the root itself.
class DecodingError : public std::runtime_error {
public:
    enum class Kind {
        typeMismatch,   ///< the value has another JSON type, or a number is not a whole int64
        valueNotFound,  ///< a required value is null
        keyNotFound,    ///< a required key is missing
        dataCorrupted,  ///< the bytes are not JSON at all
    };

    DecodingError(Kind kind, std::string codingPath, const std::string& detail);

    Kind kind() const { return kind_; }
    const std::string& codingPath() const { return codingPath_; }

private:
    Kind kind_;
    std::string codingPath_;
};

}  // namespace quorvane

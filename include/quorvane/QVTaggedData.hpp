#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {

/// A payload with its tag: the content type of the bytes, usually a MIME type (see WellKnownTags).
/// The tag is free text; nothing checks it.
class QVTaggedData {
public:
    QVTaggedData(std::string tag, std::vector<std::uint8_t> data) : tag_(std::move(tag)), data_(std::move(data)) {}

    const std::string& tag() const { return tag_; }
    const std::vector<std::uint8_t>& data() const& { return data_; }
    /// The bytes, moved out of a tagged data that is going away.
    std::vector<std::uint8_t> data() && { return std::move(data_); }

    bool operator==(const QVTaggedData&) const = default;

private:
    std::string tag_;
    std::vector<std::uint8_t> data_;
};

}  // namespace quorvane

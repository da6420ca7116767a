#pragma once

#include <string>

#include "quorvane/QVTaggedData.hpp"

namespace quorvane {

/// One part of the answer to a query, named by the query's id.
class QVQueryResponse {
public:
    QVQueryResponse(std::string respondingTo, QVTaggedData data)
        : respondingTo_(std::move(respondingTo)), data_(std::move(data)) {}

    const std::string& respondingTo() const { return respondingTo_; }
    const QVTaggedData& data() const { return data_; }

private:
    std::string respondingTo_;
    QVTaggedData data_;
};

}  // namespace quorvane

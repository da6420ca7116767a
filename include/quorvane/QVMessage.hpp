#pragma once

#include <cstdint>

#include "quorvane/QVTaggedData.hpp"

namespace quorvane {

/// What notifications, commands and queries have in common.
class QVMessage {
public:
    virtual ~QVMessage() = default;

    /// The transport id under which a received message arrived; 0 for a message built to be sent.
    virtual std::uint16_t id() const = 0;
    /// The message's category: any 16-bit number, QVCategory names the usual ones.
    virtual std::uint16_t category() const = 0;
    virtual const QVTaggedData& data() const = 0;
};

/// The fields every message kind stores.
class QVMessageFields : public QVMessage {
public:
    std::uint16_t id() const override { return id_; }
    std::uint16_t category() const override { return category_; }
    const QVTaggedData& data() const override { return data_; }

protected:
    QVMessageFields(std::uint16_t id, std::uint16_t category, QVTaggedData data)
        : id_(id), category_(category), data_(std::move(data)) {}

private:
    std::uint16_t id_;
    std::uint16_t category_;
    QVTaggedData data_;
};

}  // namespace quorvane

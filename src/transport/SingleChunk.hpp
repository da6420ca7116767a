#pragma once

#include <cstdint>
#include <span>

#include "quorvane/Promise.hpp"
#include "transport/ChunkDigest.hpp"
#include "transport/ChunkHelper.hpp"

namespace quorvane {

/// The record of a single-frame message that was delivered, kept so that a copy the sender
/// resends is acknowledged but not delivered again.
///
/// The record knows the message's id and a digest of its bytes (chunkDigest): a message that
/// reuses the id after the 16-bit counter wrapped, but carries other bytes, is not a copy. It is
/// kept for the sender's whole resend window and then expires silently.
class SingleChunk : public ChunkHelper {
public:
    /// The sender's first time-out (90 s) and three resends 30 s apart, plus room for its sweeps
    /// and for frames queued behind others.
    static constexpr double retentionTimeout = 210.0;

    SingleChunk(std::uint16_t id, std::span<const std::uint8_t> bytes);

    std::uint16_t id() const { return id_; }
    std::uint64_t digest() const { return digest_; }
    /// True when `bytes` are those of the recorded message.
    bool matches(std::span<const std::uint8_t> bytes) const { return chunkDigest(bytes) == digest_; }

    /// An already fulfilled promise.
    Promise<void> completion() const { return Promise<void>::value(); }

private:
    std::uint16_t id_;
    std::uint64_t digest_;
};

}  // namespace quorvane

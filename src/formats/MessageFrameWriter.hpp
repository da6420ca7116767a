#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quorvane {

/// Builds the finished bytes of data-channel frames, one MessageFrame per call. Control frames
/// (retry, acknowledgement, failure) carry the id and category of the message they speak about.
class MessageFrameWriter {
public:
    /// A keep-alive frame.
    static std::vector<std::uint8_t> heartbeat();
    /// A whole message that fits in one frame.
    static std::vector<std::uint8_t> singleMessage(std::uint16_t msgid, std::uint16_t category,
                                                   std::span<const std::uint8_t> data);
    /// Chunk `position` (0-based) of a message cut into `length` chunks.
    static std::vector<std::uint8_t> chunkedMessage(std::uint16_t msgid, std::uint16_t category, std::uint16_t position,
                                                    std::uint16_t length, std::span<const std::uint8_t> data);
    /// Asks the sender to send the chunks at `chunks` again.
    static std::vector<std::uint8_t> chunkedMessageRetry(std::uint16_t msgid, std::uint16_t category,
                                                         std::span<const std::uint16_t> chunks);
    /// The message arrived whole.
    static std::vector<std::uint8_t> messageAck(std::uint16_t msgid, std::uint16_t category);
    /// The receiver gave up on the message.
    static std::vector<std::uint8_t> messageFailed(std::uint16_t msgid, std::uint16_t category);
};

}  // namespace quorvane

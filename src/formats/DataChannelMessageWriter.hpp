#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "messages_generated.h"

namespace quorvane {

/// Builds the finished bytes of application messages, one DataChannelMessage per call. Every
/// message carries its text id and its sending time in whole seconds since 1970; every string
/// passed is written (an empty text stays a present, empty string).
class DataChannelMessageWriter {
public:
    static std::vector<std::uint8_t> notification(std::string_view id, std::uint32_t timestamp, std::uint16_t category,
                                                  std::string_view tag, std::span<const std::uint8_t> data);
    static std::vector<std::uint8_t> command(std::string_view id, std::uint32_t timestamp, std::uint16_t category,
                                             CommandAcknowledgementType acknowledgeon, std::string_view tag,
                                             std::span<const std::uint8_t> data);
    static std::vector<std::uint8_t> query(std::string_view id, std::uint32_t timestamp, std::uint16_t category,
                                           std::string_view tag, std::span<const std::uint8_t> data);
    /// A successful acknowledgement of the command whose id is `acknowledging`.
    static std::vector<std::uint8_t> commandAcknowledgement(std::string_view id, std::uint32_t timestamp,
                                                            std::string_view acknowledging);
    /// A failed acknowledgement of the command whose id is `acknowledging`.
    static std::vector<std::uint8_t> commandError(std::string_view id, std::uint32_t timestamp,
                                                  std::string_view acknowledging, std::uint32_t statusCode,
                                                  std::string_view message);
    /// One part of the answer to the query whose id is `respondingto`.
    static std::vector<std::uint8_t> queryResponse(std::string_view id, std::uint32_t timestamp,
                                                   std::string_view respondingto, std::string_view tag,
                                                   std::span<const std::uint8_t> data, bool isLastMessage);
    /// The failure answer to the query whose id is `respondingto`.
    static std::vector<std::uint8_t> queryError(std::string_view id, std::uint32_t timestamp,
                                                std::string_view respondingto, std::uint32_t statusCode,
                                                std::string_view message);
};

}  // namespace quorvane

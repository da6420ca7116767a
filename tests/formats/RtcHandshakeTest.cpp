#include <gtest/gtest.h>

#include "formats/RtcHandshakeView.hpp"
#include "formats/RtcHandshakeWriter.hpp"
#include "formats/WireTesting.hpp"
#include "support/ReadAll.hpp"

using namespace quorvane;
using quorvane::testing::hasField;
using quorvane::testing::readAll;

namespace {

using Bytes = std::vector<std::uint8_t>;

const RtcHandshake& rootOf(const Bytes& bytes) { return *flatbuffers::GetRoot<RtcHandshake>(bytes.data()); }

}  // namespace

TEST(RtcHandshake, OfferIsTwoTablesDeep) {
    auto bytes = RtcHandshakeWriter::offer("token", 1700000000, "offer", "v=0\r\n");
    auto handshake = parseRtcHandshake(bytes);
    ASSERT_TRUE(handshake);
    EXPECT_EQ(handshake->messageType(), Message::Offer);
    EXPECT_EQ(handshake->token(), "token");
    EXPECT_EQ(handshake->timestamp(), 1700000000u);
    EXPECT_EQ(handshake->offer()->type(), "offer");
    EXPECT_EQ(handshake->offer()->sdp(), "v=0\r\n");
    EXPECT_FALSE(handshake->answer());
    EXPECT_FALSE(handshake->iceCandidate());

    auto answerBytes = RtcHandshakeWriter::answer("", 0, "answer", "sdp");
    auto answer = parseRtcHandshake(answerBytes);
    EXPECT_EQ(answer->messageType(), Message::Answer);
    EXPECT_EQ(answer->answer()->sdp(), "sdp");
    // An empty token is still present; a zero timestamp is left out and reads back as 0.
    EXPECT_EQ(answer->token(), "");
    EXPECT_FALSE(hasField(&rootOf(answerBytes), RtcHandshake::VT_TIMESTAMP));
    EXPECT_EQ(answer->timestamp(), 0u);
}

TEST(RtcHandshake, IceCandidateIndexesRoundTrip) {
    auto zero = RtcHandshakeWriter::iceCandidate("t", 1, "candidate:1", 0, "", "");
    EXPECT_FALSE(hasField(rootOf(zero).message_as_IceCandidate(), IceCandidate::VT_SDPMLINEINDEX));
    auto candidate = parseRtcHandshake(zero)->iceCandidate();
    EXPECT_EQ(candidate->sdpMLineIndex(), 0);
    EXPECT_EQ(candidate->candidate(), "candidate:1");
    EXPECT_EQ(candidate->sdpMid(), "");  // present and empty, not absent
    EXPECT_EQ(candidate->usernameFragment(), "");

    auto negative = RtcHandshakeWriter::iceCandidate("t", 1, "c", -3, "0", "");
    EXPECT_EQ(parseRtcHandshake(negative)->iceCandidate()->sdpMLineIndex(), -3);
    EXPECT_EQ(parseRtcHandshake(negative)->iceCandidate()->sdpMid(), "0");
}

TEST(RtcHandshake, DisconnectCarriesTheLeavingClient) {
    auto bytes = RtcHandshakeWriter::disconnect("t", 1, "client-1");
    EXPECT_EQ(static_cast<int>(rootOf(bytes).message_type()), 4);
    EXPECT_EQ(parseRtcHandshake(bytes)->messageType(), Message::Disconnect);
    EXPECT_EQ(parseRtcHandshake(bytes)->disconnect(), "client-1");
}

TEST(RtcHandshake, UnknownOrMissingMembersReadAsNone) {
    flatbuffers::FlatBufferBuilder builder;
    auto token = builder.CreateString("t");
    auto disconnect = CreateDisconnect(builder);
    builder.Finish(CreateRtcHandshake(builder, token, 0, static_cast<Message>(5), disconnect.Union()));
    Bytes unknown(builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize());
    auto handshake = parseRtcHandshake(unknown);
    ASSERT_TRUE(handshake);
    EXPECT_EQ(handshake->messageType(), Message::NONE);
    EXPECT_FALSE(handshake->disconnect());

    flatbuffers::FlatBufferBuilder bare;
    auto offer = CreateOffer(bare);
    auto bareToken = bare.CreateString("t");
    bare.Finish(CreateRtcHandshake(bare, bareToken, 0, Message::Offer, offer.Union()));
    Bytes withoutDescription(bare.GetBufferPointer(), bare.GetBufferPointer() + bare.GetSize());
    EXPECT_EQ(parseRtcHandshake(withoutDescription)->messageType(), Message::Offer);
    EXPECT_FALSE(parseRtcHandshake(withoutDescription)->offer());
}

TEST(RtcHandshake, AHandshakeWithoutTokenIsRejected) {
    // Written without the generated builder, whose own check would stop a missing token.
    flatbuffers::FlatBufferBuilder builder;
    auto start = builder.StartTable();
    builder.AddElement<std::uint32_t>(RtcHandshake::VT_TIMESTAMP, 5, 0);
    builder.Finish(flatbuffers::Offset<RtcHandshake>(builder.EndTable(start)));
    EXPECT_FALSE(parseRtcHandshake({builder.GetBufferPointer(), builder.GetSize()}));
}

TEST(RtcHandshake, DamagedBuffersAreRejectedOrReadSafely) {
    std::vector<Bytes> sources{
        RtcHandshakeWriter::offer("token", 1700000000, "offer", "v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\n"),
        RtcHandshakeWriter::iceCandidate("token", 5, "candidate:1 1 udp 1 127.0.0.1 5000 typ host", 1, "0", ""),
    };
    for (const auto& valid : sources) {
        auto expected = readAll(*parseRtcHandshake(valid));
        quorvane::testing::forEachTruncation(valid, [&](const Bytes& bytes) {
            if (auto handshake = parseRtcHandshake(bytes)) EXPECT_EQ(readAll(*handshake), expected);
        });
        quorvane::testing::forEachBitFlip(valid, [](const Bytes& bytes) {
            if (auto handshake = parseRtcHandshake(bytes)) readAll(*handshake);
        });
    }
    quorvane::testing::forEachRandomBuffer(20000, 128, [](const Bytes& bytes) {
        if (auto handshake = parseRtcHandshake(bytes)) readAll(*handshake);
    });
}

#include <gtest/gtest.h>

#include <flatbuffers/flatbuffers.h>

#include "formats/RtcHandshakeView.hpp"
#include "formats/RtcHandshakeWriter.hpp"
#include "quorvane/QVError.hpp"
#include "signaling/SignalClientFixture.hpp"

using namespace quorvane;
using quorvane::testing::outcome;
using PublishStatus = MqttTransport::PublishResult::Status;
using Bytes = std::vector<std::uint8_t>;

namespace {

class SignalClientProtocol : public quorvane::testing::SignalClientFixture {
public:
    std::size_t countLogged(const std::string& line) const {
        const auto lines = log();
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
    }
};

template <class Build>
Bytes handshake(Build build) {
    flatbuffers::FlatBufferBuilder builder;
    auto token = builder.CreateString("token");
    auto [type, member] = build(builder);
    builder.Finish(CreateRtcHandshake(builder, token, 0, type, member));
    return Bytes(builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize());
}

std::pair<Message, flatbuffers::Offset<void>> candidateWithoutMid(flatbuffers::FlatBufferBuilder& builder) {
    auto text = builder.CreateString("candidate:2");
    return {Message::IceCandidate, CreateIceCandidate(builder, text).Union()};
}

std::pair<Message, flatbuffers::Offset<void>> candidateWithoutText(flatbuffers::FlatBufferBuilder& builder) {
    auto mid = builder.CreateString("0");
    return {Message::IceCandidate, CreateIceCandidate(builder, 0, 1, mid).Union()};
}

std::pair<Message, flatbuffers::Offset<void>> offerWithoutSdp(flatbuffers::FlatBufferBuilder& builder) {
    auto type = builder.CreateString("offer");
    auto description = CreateSessionDescription(builder, type);
    return {Message::Offer, CreateOffer(builder, description).Union()};
}

std::pair<Message, flatbuffers::Offset<void>> answerWithoutDescription(flatbuffers::FlatBufferBuilder& builder) {
    return {Message::Answer, CreateAnswer(builder).Union()};
}

std::pair<Message, flatbuffers::Offset<void>> typeNone(flatbuffers::FlatBufferBuilder&) {
    return {Message::NONE, 0};
}

std::pair<Message, flatbuffers::Offset<void>> typeFive(flatbuffers::FlatBufferBuilder& builder) {
    return {static_cast<Message>(5), CreateDisconnect(builder).Union()};
}

}  // namespace

TEST_F(SignalClientProtocol, AnnouncementsRecordNewIdsAnswerAndJoin) {
    struct Case {
        const char* name;
        std::vector<std::string> heard;
        std::vector<std::string> answered;
        bool joined;
    };
    const std::vector<Case> cases{
        {"own bare id", {"A"}, {}, false},
        {"peer's bare id", {"B"}, {"A B"}, true},
        {"a known peer announcing afresh is answered again", {"B", "B"}, {"A B", "A B"}, true},
        {"echoes and known ids", {"B", "A B", "B A"}, {"A B"}, true},
        {"the peer answering first", {"B A"}, {"A B"}, true},
        {"empty ids", {"", " ", "  ", "A ", " A"}, {}, false},
        {"empty ids between real ones", {"B  C "}, {"A B C"}, true},
        {"three sides", {"B", "C B", "B A C"}, {"A B", "A B C"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mqtt = std::make_shared<quorvane::testing::FakeMqttTransport>();
        client = makeClient();
        connect();
        for (const auto& text : c.heard) announce(text);
        EXPECT_EQ(reannouncements(), c.answered);
        EXPECT_EQ(client->hasJoined(), c.joined);
    }
    EXPECT_FALSE(logged("DEBUG mqtt didReceive: Received announcement: A"));
    EXPECT_TRUE(logged("DEBUG mqtt didReceive: Received announcement: B A C"));
    EXPECT_TRUE(logged("DEBUG announce: Publishing Announcement for ClientId: A B C and Topic: session/announce"));
}

TEST_F(SignalClientProtocol, PeerAnnouncingItselfAnewAfterTheJoinIsReported) {
    connect();
    announce("B");  // the join itself
    announce("B A");
    EXPECT_TRUE(delegate->signals().empty());
    announce("B");
    EXPECT_EQ(delegate->signals(), std::vector<std::string>{"rejoined"});

    client->reset();
    settle();
    connect();
    announce("B");  // a join afresh
    EXPECT_EQ(delegate->signals(), std::vector<std::string>{"rejoined"});
}

TEST_F(SignalClientProtocol, AtMostSixteenIdsAreKeptAndAnAnnouncementLeavesOneBoundedLine) {
    std::string manyIds = "B0";
    std::string sixteenKnown = "A B0";
    for (int i = 1; i < 20000; ++i) {
        manyIds += " B" + std::to_string(i);
        if (i < 16) sixteenKnown += " B" + std::to_string(i);
    }
    // Two-byte characters from byte 3 on: byte 256 is the second of one, so the cut comes before it.
    std::string longId = "B x";
    for (int i = 0; i < 50000; ++i) longId += "\u00e9";
    struct Case {
        const char* name;
        std::string heard;
        std::string answered;
        std::size_t logged;
    };
    for (const auto& c :
         {Case{"20,000 ids", manyIds, sixteenKnown, 256}, Case{"a long id", longId, "A " + longId, 255}}) {
        SCOPED_TRACE(c.name);
        mqtt = std::make_shared<quorvane::testing::FakeMqttTransport>();
        client = makeClient();
        connect();
        for (int time = 1; time <= 2; ++time) {
            const auto before = log().size();
            announce(c.heard);
            const auto lines = log();
            // Its receipt, and the first time also this side's answer naming the ids it learned.
            ASSERT_EQ(lines.size() - before, time == 1 ? 2u : 1u);
            EXPECT_EQ(lines[before], "DEBUG mqtt didReceive: Received announcement: " + c.heard.substr(0, c.logged) +
                                         "... [" + std::to_string(c.heard.size() - c.logged) + " more bytes]");
            for (auto line = lines.begin() + before; line != lines.end(); ++line) EXPECT_LE(line->size(), 400u);
        }
        EXPECT_EQ(reannouncements(), std::vector<std::string>{c.answered});
    }
}

TEST_F(SignalClientProtocol, AnnouncementsHeardWhileConnectingWaitForTheConnectOrForAReset) {
    mqtt->answerConnect(std::nullopt);
    auto connected = client->connect();
    settle();
    announce("B");
    EXPECT_TRUE(reannouncements().empty());
    mqtt->acceptConnection();
    settle();
    EXPECT_EQ(outcome(connected), "fulfilled");
    EXPECT_EQ(mqtt->texts(announceTopic), (std::vector<std::string>{"A", "A B"}));
    EXPECT_TRUE(client->hasJoined());

    client->reset();
    settle();
    mqtt->answerConnect(std::nullopt);
    auto again = client->connect();
    settle();
    announce("B");
    announce("C");
    client->reset();
    settle();
    EXPECT_EQ(countLogged("ERROR didReceive(announcement:): MQTT client is resetting"), 2u);
    EXPECT_FALSE(client->hasJoined());
    EXPECT_EQ(mqtt->texts(announceTopic).size(), 2u);
}

TEST_F(SignalClientProtocol, AFailedAnnouncementIsLoggedAndRepeatedOnceReconnected) {
    connect();
    mqtt->answerPublish(PublishStatus::refused);
    announce("B");
    EXPECT_TRUE(logged("WARN announce: Failed to publish announcement: Publish refused by MQTT client: refused by "
                       "the script"));
    EXPECT_TRUE(client->hasJoined());
    EXPECT_TRUE(reannouncements().empty());

    mqtt->answerPublish(PublishStatus::sent);
    mqtt->dropConnection();
    settle();
    clock->advance(1);
    settle();
    EXPECT_EQ(reannouncements(), std::vector<std::string>{"A B"});
}

TEST_F(SignalClientProtocol, OffersAnswersAndCandidatesWaitForTheJoinButDisconnectDoesNot) {
    connect();
    auto offer = client->sendSessionDescription(SdpType::offer, "offer-sdp");
    auto first = client->sendIceCandidate({"candidate:1", 3, "0"}, 3);
    auto second = client->sendIceCandidate({"candidate:2", 0, std::nullopt});
    auto answer = client->sendSessionDescription(SdpType::answer, "answer-sdp");
    auto disconnect = client->sendDisconnect();
    settle();
    ASSERT_EQ(mqtt->publications().size(), 2u);
    EXPECT_EQ(outcome(disconnect), "fulfilled");
    EXPECT_EQ(outcome(offer), "pending");

    announce("B");
    for (const auto* sent : {&offer, &first, &second, &answer}) EXPECT_EQ(outcome(*sent), "fulfilled");

    std::vector<std::string> signals;
    for (const auto& publication : mqtt->publications()) {
        if (publication.topic != peerInbox) continue;
        const auto parsed = parseRtcHandshake(publication.payload);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->token(), "token");
        EXPECT_EQ(parsed->timestamp(), 1'700'000'000u);
        switch (parsed->messageType()) {
            case Message::Offer:
                signals.push_back("offer " + *parsed->offer()->type() + " " + *parsed->offer()->sdp());
                break;
            case Message::Answer:
                signals.push_back("answer " + *parsed->answer()->type() + " " + *parsed->answer()->sdp());
                break;
            case Message::IceCandidate: {
                const auto candidate = parsed->iceCandidate();
                signals.push_back("candidate " + *candidate->candidate() + " " +
                                  std::to_string(candidate->sdpMLineIndex()) + " [" + *candidate->sdpMid() + "] [" +
                                  *candidate->usernameFragment() + "]");
                break;
            }
            case Message::Disconnect: signals.push_back("disconnect " + *parsed->disconnect()); break;
            default: ADD_FAILURE();
        }
    }
    EXPECT_EQ(signals, (std::vector<std::string>{"disconnect A", "offer offer offer-sdp",
                                                  "candidate candidate:1 3 [0] []", "candidate candidate:2 0 [] []",
                                                  "answer answer answer-sdp"}));
    for (const auto* line : {"DEBUG sendDisconnect: Preparing to send disconnect",
                             "DEBUG sendDisconnect: Sent Disconnect signal over MQTT Server",
                             "DEBUG sendOffer: Sent offer over MQTT server",
                             "DEBUG sendAnswer: Sent answer over MQTT server",
                             "DEBUG sendIceCandidate: Sent Candidate over MQTT Server : 3",
                             "DEBUG sendIceCandidate: Sent Candidate over MQTT Server "}) {
        EXPECT_TRUE(logged(line)) << line;
    }
}

TEST_F(SignalClientProtocol, AnEmptyTokenIsStillWritten) {
    client = makeClient({.ssl = 8883}, 10, "");
    connect();
    client->sendDisconnect();
    settle();
    const auto payload = mqtt->publications().back().payload;
    const auto parsed = parseRtcHandshake(payload);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->token(), "");
}

TEST_F(SignalClientProtocol, TheTimestampStaysWithinThirtyTwoBits) {
    connect();
    const std::vector<std::pair<double, std::uint32_t>> clocks{
        {-5.0, 0}, {1'700'000'000.9, 1'700'000'000u}, {4'294'967'295.5, 4'294'967'295u}, {1e10, 4'294'967'295u}};
    for (const auto& [now, expected] : clocks) {
        ScopedVirtualClock wall(now);
        client->sendDisconnect();
        settle();
        EXPECT_EQ(parseRtcHandshake(mqtt->publications().back().payload)->timestamp(), expected) << now;
    }
}

TEST_F(SignalClientProtocol, OnlyOffersAndAnswersAreSent) {
    connect();
    announce("B");
    for (auto [type, name] : {std::pair{SdpType::prAnswer, "pranswer"}, std::pair{SdpType::rollback, "rollback"}}) {
        auto sent = client->sendSessionDescription(type, "sdp");
        EXPECT_EQ(outcome(sent), std::string("Unhandled session description type: ") + name);
        EXPECT_THROW(sent.wait(), QVError);
    }
    settle();
    EXPECT_TRUE(mqtt->texts(peerInbox).empty());
}

TEST_F(SignalClientProtocol, ReceivedBuffersReachTheDelegateOnlyWhenVerifiedAndComplete) {
    struct Case {
        const char* name;
        std::string topic;
        Bytes payload;
        std::vector<std::string> signals;
    };
    auto offer = RtcHandshakeWriter::offer("other token", 1, "offer", "v=0");
    auto truncated = Bytes(offer.begin(), offer.end() - 4);
    const std::vector<Case> cases{
        {"offer", inbox, offer, {"offer v=0"}},
        {"answer", inbox, RtcHandshakeWriter::answer("token", 1, "answer", "a=1"), {"answer a=1"}},
        {"candidate", inbox, RtcHandshakeWriter::iceCandidate("token", 1, "candidate:1", 2, "1", ""),
         {"candidate candidate:1 2 1"}},
        {"candidate with an empty media id", inbox, RtcHandshakeWriter::iceCandidate("token", 1, "c", 0, "", ""),
         {"candidate c 0 "}},
        {"candidate without media id", inbox, handshake(candidateWithoutMid), {"candidate candidate:2 0 -"}},
        {"disconnect", inbox, RtcHandshakeWriter::disconnect("token", 1, "someone else"), {"disconnect"}},
        {"signal on the announce topic that is not text", announceTopic,
         RtcHandshakeWriter::answer("token", 1, "answer", "\xff"), {"answer \xff"}},
        {"offer without sdp", inbox, handshake(offerWithoutSdp), {}},
        {"answer without description", inbox, handshake(answerWithoutDescription), {}},
        {"candidate without text", inbox, handshake(candidateWithoutText), {}},
        {"type none", inbox, handshake(typeNone), {}},
        {"type above 4", inbox, handshake(typeFive), {}},
        {"truncated", inbox, truncated, {}},
        {"not a handshake", inbox, {1, 2, 3, 4, 5, 6, 7, 8}, {}},
        {"empty", inbox, {}, {}},
    };
    connect();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        delegate = std::make_shared<quorvane::testing::RecordingSignalDelegate>();
        client->setDelegate(delegate);
        const auto invalidLines = countLogged("DEBUG mqtt didReceive: Received invalid RTC message type");
        mqtt->deliver(c.topic, c.payload);
        settle();
        EXPECT_EQ(delegate->signals(), c.signals);
        EXPECT_EQ(countLogged("DEBUG mqtt didReceive: Received invalid RTC message type"),
                  invalidLines + (c.signals.empty() ? 1 : 0));
    }
    EXPECT_EQ(countLogged("DEBUG mqtt didReceive: Got disconnect!"), 1u);
    // Only the offer carries another session's token: noted, and still handled.
    EXPECT_EQ(countLogged("WARN mqtt didReceive: Received a signal whose token is not this session's"), 1u);
    EXPECT_FALSE(client->hasJoined());

    // Without a delegate signals are dropped quietly; a disconnect is still logged.
    delegate.reset();
    mqtt->deliver(inbox, RtcHandshakeWriter::disconnect("token", 1, "B"));
    mqtt->deliver(inbox, offer);
    settle();
    EXPECT_EQ(countLogged("DEBUG mqtt didReceive: Got disconnect!"), 2u);
}

// The camera and screen streams of one WebRtcClient: their tracks on each peer connection, the
// start of capture at the connected state with its reports, and the end of capture with the
// session. The host has added a screen and a camera stream before the session starts; capture
// runs on a scripted camera and a synthetic screen recorder. The connected state is reported to
// the client by the test.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "connection/WebRtcClientFixture.hpp"
#include "formats/RtcHandshakeWriter.hpp"
#include "support/MediaFakes.hpp"

namespace quorvane {
namespace {

using namespace testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const FrameFormat kVga{{640, 480}, {1, 30}};

class WebRtcClientMediaTest : public WebRtcClientFixture {
protected:
    void prepare(WebRtcClient& made) override {
        WebRtcClientTesting::useCaptureFactories(
            made,
            CameraVideoCaptureFactory(store,
                                      [this](std::shared_ptr<rtc::VideoSource>) {
                                          std::lock_guard lock(mutex_);
                                          return capturers_.emplace_back(std::make_shared<FakeCameraCapturer>());
                                      }),
            ScreenCaptureFactory(recorder));
        EXPECT_TRUE(made.addScreenSharing(screenStream()));
        EXPECT_TRUE(made.addVideoStream(cameraStream()));
    }

    /// A fresh broker, delegate, recorder and cameras, for the next client.
    void startOver() {
        mqtt = std::make_shared<FakeMqttTransport>();
        hears = std::make_shared<RecordingTransportDelegate>();
        recorder = std::make_shared<SyntheticScreenRecorder>();
        std::lock_guard lock(mutex_);
        capturers_.clear();
    }

    static std::shared_ptr<VideoStreamConfiguration<ScreenFormat>> screenStream() {
        return std::make_shared<VideoStreamConfiguration<ScreenFormat>>(ScreenFormat{{1080, 1920}}, nullptr);
    }
    static std::shared_ptr<VideoStreamConfiguration<CameraFormat>> cameraStream() {
        return std::make_shared<VideoStreamConfiguration<CameraFormat>>(CameraFormat("Cam", true, kVga), nullptr);
    }

    /// The capturer of the camera stream set up `index`-th.
    std::shared_ptr<FakeCameraCapturer> capturer(std::size_t index) {
        std::lock_guard lock(mutex_);
        return capturers_.at(index);
    }

    void reportConnected() {
        WebRtcClientTesting::reportConnectionState(*client, rtc::PeerConnectionState::connected);
        settle();
    }

    /// The media reports, in order.
    std::vector<std::string> mediaReports() const {
        std::vector<std::string> reports;
        for (const auto& event : hears->events()) {
            if (event.ends_with(" added") || event.find(" failed: ") != std::string::npos) reports.push_back(event);
        }
        return reports;
    }

    /// The SDP texts of the offers published to the answer side.
    std::vector<std::string> offers() const {
        std::vector<std::string> texts;
        for (auto publication : mqtt->publications()) {
            auto view = publication.topic == answerInbox ? parseRtcHandshake(publication.payload) : std::nullopt;
            if (view && view->offer()) texts.push_back(view->offer()->sdp().value_or(""));
        }
        return texts;
    }

    std::shared_ptr<FakeDeviceCatalogue> catalogue = std::make_shared<FakeDeviceCatalogue>(
        std::vector<FakeDeviceCatalogue::Entry>{{{"usb-1", "Cam"}, {{640, 480, {{1, 30}}, 0}}}});
    std::shared_ptr<CameraStore> store = std::make_shared<CameraStore>(catalogue);
    std::shared_ptr<SyntheticScreenRecorder> recorder = std::make_shared<SyntheticScreenRecorder>();

private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<FakeCameraCapturer>> capturers_;
};

TEST_F(WebRtcClientMediaTest, StreamsAddedBeforeConnectGoOnEveryNewPeerConnection) {
    connectOfferSide();
    EXPECT_FALSE(client->addScreenSharing(screenStream())) << "one screen stream per client";
    ASSERT_TRUE(eventually([&] { return offers().size() == 1; }));

    // A silent channel: the reconnect makes a new peer connection and a new offer.
    settle();
    const auto announced = mqtt->texts(announceTopic).size();
    client->dataChannelFiredHeartbeatTimeout();
    ASSERT_TRUE(eventually([&] { return mqtt->texts(announceTopic).size() > announced; }));
    mqtt->deliver(announceTopic, "answer-client");
    ASSERT_TRUE(eventually([&] { return offers().size() == 2; }));
    for (const auto& offer : offers()) {
        EXPECT_THAT(offer, HasSubstr("a=msid:SCREEN SCREEN_TRACK"));
        EXPECT_THAT(offer, HasSubstr("a=msid:CAMERA CAMERA_TRACK"));
    }
    // Nothing starts before the connected state.
    settle();
    EXPECT_EQ(recorder->recordingsBegun(), 0);
    EXPECT_TRUE(capturer(0)->requests().empty());
    EXPECT_TRUE(mediaReports().empty());
    EXPECT_FALSE(logged("DEBUG addVideoStream")) << "logged only when added to a connected session";
}

TEST_F(WebRtcClientMediaTest, TracksThePeersOfferHasNoRoomForAreOfferedOnceThePeerHasJoined) {
    // After a reconnect the broker may hand over the peer's offer before the peer is heard.
    client = make(configuration(WebRtcClientRole::answer));
    client->connectAsAnswer().wait();
    deliver(answerInbox, RtcHandshakeWriter::offer("token", 0, "offer", peerOffer()));
    ASSERT_TRUE(eventually(
        [&] { return logged("DEBUG peerConnection didChange: peerConnection new signaling state: stable"); }));
    settle();
    EXPECT_EQ(countOn(offerInbox, Message::Answer), 0u) << "the answer waits for the peer";

    mqtt->deliver(announceTopic, "offer-client");
    ASSERT_TRUE(eventually([&] { return countOn(offerInbox, Message::Offer) == 1; }));
    EXPECT_EQ(countOn(offerInbox, Message::Answer), 1u);
    const auto offer = signalTexts(offerInbox, Message::Offer).front();
    EXPECT_THAT(offer, HasSubstr("a=msid:SCREEN SCREEN_TRACK"));
    EXPECT_THAT(offer, HasSubstr("a=msid:CAMERA CAMERA_TRACK"));
}

TEST_F(WebRtcClientMediaTest, ConnectedStatesStartTheScreenThenTheCamerasAndReportEach) {
    connectOfferSide();
    reportConnected();
    EXPECT_THAT(log(), ::testing::IsSupersetOf({"DEBUG peerConnection newState: Starting screen capture",
                                                "DEBUG peerConnection newState: Starting video capture"}));
    recorder->finishStart();
    capturer(0)->answerNext(std::make_exception_ptr(std::runtime_error("camera busy")));
    settle();
    EXPECT_THAT(mediaReports(), ElementsAre("screen added", "camera failed: camera busy"));

    // The next connected state reports the running screen again and tries the camera again.
    WebRtcClientTesting::reportConnectionState(*client, rtc::PeerConnectionState::disconnected);
    reportConnected();
    capturer(0)->answerNext();
    settle();
    EXPECT_THAT(mediaReports(), ElementsAre("screen added", "camera failed: camera busy", "screen added", "camera added"));
    EXPECT_EQ(recorder->recordingsBegun(), 1);
    EXPECT_FALSE(logged("ERROR")) << "the outcomes are reported, not logged";

    // A camera added to the connected session starts at once.
    client->addVideoStream(cameraStream());
    settle();
    EXPECT_TRUE(logged("DEBUG addVideoStream: Adding video {\"cameraName\":\"Cam\""));
    EXPECT_TRUE(logged("DEBUG peerConnection newState: Already connected, starting video capture"));
    capturer(1)->answerNext();
    settle();
    EXPECT_EQ(mediaReports().back(), "camera added");
}

TEST_F(WebRtcClientMediaTest, TrackThePeerConnectionRefusesIsReportedAsAFailureAndNeverStarted) {
    connectOfferSide();
    WebRtcClientTesting::peerConnection(*client)->close();
    client->addVideoStream(cameraStream());
    settle();
    const std::string refused = "Failed to add the CAMERA track to the peer connection";
    EXPECT_THAT(mediaReports(), ElementsAre("camera failed: " + refused));
    EXPECT_TRUE(logged("ERROR addTrack: " + refused));

    reportConnected();
    recorder->finishStart();
    capturer(0)->answerNext();
    settle();
    EXPECT_TRUE(capturer(1)->requests().empty());
    EXPECT_THAT(mediaReports(), ElementsAre("camera failed: " + refused, "screen added", "camera added"));
}

TEST_F(WebRtcClientMediaTest, CaptureEndsWithTheSession) {
    const std::vector<std::pair<std::string, std::function<void()>>> ends{
        {"host's reset", [&] { client->resetState(false).wait(); }},
        {"peer's disconnect", [&] { deliver(answerInbox, RtcHandshakeWriter::disconnect("token", 0, "offer-client")); }},
        {"release", [&] { client.reset(); }},
    };
    for (const auto& [name, end] : ends) {
        SCOPED_TRACE(name);
        startOver();
        connectAnswerSide();
        reportConnected();
        recorder->finishStart();  // the camera's start is still under way when the session ends
        settle();
        end();
        capturer(0)->answerNext();
        if (client) settle();

        EXPECT_FALSE(recorder->isRecording());
        EXPECT_FALSE(capturer(0)->requests().back().isStart);
        EXPECT_THAT(mediaReports(), ElementsAre("screen added")) << "a start the end overtook is not reported";
    }
}

}  // namespace
}  // namespace quorvane

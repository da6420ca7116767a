// A session whose sides share video: the answer side a screen and a camera added before the
// session starts and a camera added once it is connected, the offer side a camera added before
// (so the offer has room for one of the answer side's tracks only). Fake cameras and synthetic
// screen recorders capture, fed with frames by the test; each side counts the frames that arrive
// on each track of its peer's.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "integration/WebRtcClientSessionFixture.hpp"
#include "rtc/VideoSource.hpp"
#include "rtc/VideoTrack.hpp"
#include "support/MediaFakes.hpp"
#include "support/RecordingRenderer.hpp"

namespace quorvane {
namespace {

using namespace testing;
using ::testing::UnorderedElementsAreArray;

const FrameFormat kVga{{640, 480}, {1, 30}};

/// The cameras and the screen of one side, producing about 30 frames a second while it lives.
/// Camera requests are answered as they come; a start request made on WebRTC's signaling thread
/// is noted.
class FakeCapture {
public:
    FakeCapture() : thread_([this] { run(); }) {
        rtc::PeerConnectionFactory::shared()->runOnSignalingThread(
            [this] { signalingThread_ = std::this_thread::get_id(); });
    }
    ~FakeCapture() {
        stop_ = true;
        thread_.join();
    }

    void useIn(WebRtcClient& client) {
        WebRtcClientTesting::useCaptureFactories(
            client,
            CameraVideoCaptureFactory(store_,
                                      [this](std::shared_ptr<rtc::VideoSource> source) {
                                          auto capturer = std::make_shared<Capturer>(*this);
                                          std::lock_guard lock(mutex_);
                                          sources_.push_back(std::move(source));
                                          capturers_.push_back(capturer);
                                          return capturer;
                                      }),
            ScreenCaptureFactory(recorder_));
    }

    bool startedOnSignalingThread() const { return startedOnSignalingThread_; }

private:
    class Capturer : public FakeCameraCapturer {
    public:
        explicit Capturer(FakeCapture& capture) : capture_(capture) {}
        void startCapture(const rtc::CaptureDevice& device, const rtc::CaptureFormat& format,
                          std::int64_t framesPerSecond, StartCompletion completion) override {
            if (std::this_thread::get_id() == capture_.signalingThread_) capture_.startedOnSignalingThread_ = true;
            FakeCameraCapturer::startCapture(device, format, framesPerSecond, std::move(completion));
        }

    private:
        FakeCapture& capture_;
    };

    void run() {
        const auto picture = SyntheticScreenRecorder::videoSample(320, 240, 0).imageBuffer;
        while (!stop_) {
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            std::vector<std::shared_ptr<rtc::VideoSource>> sources;
            std::vector<std::shared_ptr<Capturer>> capturers;
            {
                std::lock_guard lock(mutex_);
                sources = sources_;
                capturers = capturers_;
            }
            for (const auto& capturer : capturers) capturer->answerNext();
            for (const auto& source : sources) source->deliverFrame(picture, std::chrono::nanoseconds(now).count());
            recorder_->finishStart();
            recorder_->emit({rtc::ScreenSample::Type::video, picture, std::chrono::duration<double>(now).count()});
            std::this_thread::sleep_for(33ms);
        }
    }

    std::shared_ptr<CameraStore> store_ = std::make_shared<CameraStore>(std::make_shared<FakeDeviceCatalogue>(
        std::vector<FakeDeviceCatalogue::Entry>{{{"usb-1", "Cam"}, {{640, 480, {{1, 30}}, 0}}}}));
    std::shared_ptr<SyntheticScreenRecorder> recorder_ = std::make_shared<SyntheticScreenRecorder>();
    std::thread::id signalingThread_;
    std::atomic<bool> startedOnSignalingThread_{false};
    std::mutex mutex_;
    std::vector<std::shared_ptr<rtc::VideoSource>> sources_;
    std::vector<std::shared_ptr<Capturer>> capturers_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::shared_ptr<VideoStreamConfiguration<CameraFormat>> cameraStream() {
    return std::make_shared<VideoStreamConfiguration<CameraFormat>>(CameraFormat("Cam", true, kVga), nullptr);
}

class WebRtcClientMediaSessionTest : public WebRtcClientSessionFixture {
protected:
    WebRtcClientMediaSessionTest() {
        offerCapture.useIn(*offer);
        answerCapture.useIn(*answer);
        answer->addScreenSharing(
            std::make_shared<VideoStreamConfiguration<ScreenFormat>>(ScreenFormat{{320, 240}}, nullptr));
        answer->addVideoStream(cameraStream());
        offer->addVideoStream(cameraStream());
    }

    /// Waits until the peer's tracks reaching `client` carry the streams `streamIds`, then until
    /// each has brought frames.
    static void expectFramesOn(WebRtcClient& client, std::vector<std::string> streamIds) {
        std::vector<rtc::PeerConnection::RemoteVideoTrack> tracks;
        ASSERT_TRUE(eventually([&] {
            tracks = WebRtcClientTesting::peerConnection(client)->remoteVideoTracks();
            return tracks.size() == streamIds.size();
        }));
        std::vector<std::string> arrived;
        std::vector<std::shared_ptr<RecordingRenderer>> counters;
        for (const auto& track : tracks) {
            arrived.push_back(track.streamIds.empty() ? "" : track.streamIds.front());
            counters.push_back(std::make_shared<RecordingRenderer>());
            track.track->addRenderer(counters.back());
        }
        EXPECT_THAT(arrived, UnorderedElementsAreArray(streamIds));
        for (std::size_t index = 0; index < tracks.size(); ++index) {
            EXPECT_TRUE(counters[index]->waitForFrames(10)) << "no frames on " << arrived[index];
        }
    }

    FakeCapture offerCapture;
    FakeCapture answerCapture;
};

TEST_F(WebRtcClientMediaSessionTest, TracksCarryFramesBeforeAndAfterAReconnect) {
    connectBoth(true);
    answer->addVideoStream(cameraStream());
    ASSERT_TRUE(answerHears->waitFor("camera added", 2));
    ASSERT_TRUE(answerHears->waitFor("screen added"));
    ASSERT_TRUE(offerHears->waitFor("camera added"));
    expectFramesOn(*offer, {"SCREEN", "CAMERA", "CAMERA"});
    expectFramesOn(*answer, {"CAMERA"});

    // The offer side's connection stops without a word: both sides reconnect on new connections.
    WebRtcClientTesting::peerConnection(*offer)->close();
    ASSERT_TRUE(offerHears->waitFor("established", 2));
    ASSERT_TRUE(answerHears->waitFor("established", 2));
    ASSERT_TRUE(answerHears->waitFor("screen added", 2)) << "capture is reported again at the new connected state";
    expectFramesOn(*offer, {"SCREEN", "CAMERA", "CAMERA"});
    expectFramesOn(*answer, {"CAMERA"});
    EXPECT_FALSE(offerCapture.startedOnSignalingThread());
    EXPECT_FALSE(answerCapture.startedOnSignalingThread());
}

}  // namespace
}  // namespace quorvane

#pragma once

// Test access to a WebRtcClient's insides, and a delegate that records its reports. Shared by
// the unit tests and the two-peer integration tests.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "connection/RtcPeerConnectionDelegate.hpp"
#include "connection/TransportLayerDelegate.hpp"
#include "connection/WebRtcClient.hpp"
#include "signaling/SignalClient.hpp"
#include "util/ErrorDescription.hpp"

namespace quorvane {

struct WebRtcClientTesting {
    /// The client's current peer connection, read on its queue.
    static std::shared_ptr<rtc::PeerConnection> peerConnection(WebRtcClient& client) {
        std::shared_ptr<rtc::PeerConnection> connection;
        client.queue_->sync([&] { connection = client.peerConnection_; });
        return connection;
    }
    /// What the client's current peer connection reports to: a test reports there as WebRTC would.
    static std::shared_ptr<rtc::PeerConnectionObserver> peerConnectionEvents(WebRtcClient& client) {
        std::shared_ptr<rtc::PeerConnectionObserver> events;
        client.queue_->sync([&] { events = client.peerConnectionEvents_; });
        return events;
    }
    static const DispatchQueuePtr& queue(const WebRtcClient& client) { return client.queue_; }
    static SignalClient& signals(const WebRtcClient& client) { return *client.signals_; }
    /// New streams capture with these in place of the machine's camera and screen.
    static void useCaptureFactories(WebRtcClient& client, CameraVideoCaptureFactory camera, ScreenCaptureFactory screen) {
        client.queue_->sync([&] {
            client.cameraCaptureFactory_ = std::move(camera);
            client.screenCaptureFactory_ = std::move(screen);
        });
    }
    /// Makes the client hear `state` from its current peer connection, as WebRTC would report it.
    static void reportConnectionState(WebRtcClient& client, rtc::PeerConnectionState state) {
        client.queue_->sync([&] { client.didChangeConnectionState(client.generation_, state); });
    }
};

namespace testing {

/// Records a transport's reports as texts: "received <bytes as text>", "progress", "failedToSend",
/// "failedToReceive", "established", "disconnect expected", "disconnect unexpected",
/// "willReset", "camera added", "screen added", "camera failed: <error>", "screen failed: <error>".
class RecordingTransportDelegate : public TransportLayerDelegate {
public:
    void transportLayerDidReceive(std::vector<std::uint8_t> data, std::uint16_t) override {
        record("received " + std::string(data.begin(), data.end()));
    }
    void transportLayerWillReceiveMessage(std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t) override {
        record("progress");
    }
    void transportLayerFailedToSend(const std::vector<std::uint8_t>&, std::uint16_t) override { record("failedToSend"); }
    void transportLayerFailedToReceiveMessage(std::uint16_t, std::uint16_t) override { record("failedToReceive"); }
    void transportLayerEstablishedConnection() override { record("established"); }
    void transportLayerDidDisconnect(bool expected) override {
        record(expected ? "disconnect expected" : "disconnect unexpected");
    }
    void transportLayerWillResetConnection() override { record("willReset"); }
    void transportLayerAddedMediaStream(std::shared_ptr<CameraStreamController>) override { record("camera added"); }
    void transportLayerAddedScreenCapture(std::shared_ptr<ScreenCaptureController>) override { record("screen added"); }
    void transportLayerFailedToAddMediaStream(std::exception_ptr error) override {
        record("camera failed: " + errorDescription(error));
    }
    void transportLayerFailedToAddScreenCapture(std::exception_ptr error) override {
        record("screen failed: " + errorDescription(error));
    }

    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::size_t count(const std::string& event) const {
        std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(std::count(events_.begin(), events_.end(), event));
    }
    /// Waits in real time until `event` has been reported `times` times in all.
    bool waitFor(const std::string& event, std::size_t times = 1,
                 std::chrono::milliseconds timeout = std::chrono::seconds(30)) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            return static_cast<std::size_t>(std::count(events_.begin(), events_.end(), event)) >= times;
        });
    }

private:
    void record(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> events_;
};

}  // namespace testing
}  // namespace quorvane

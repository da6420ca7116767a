// WebRtcClient: construction, the public operations and the queue helpers they use.

#include "connection/WebRtcClient.hpp"

#include <stdexcept>

#include <nlohmann/json.hpp>

#include "connection/WebRtcClientSupport.hpp"
#include "log/SessionMetrics.hpp"
#include "log/ZephLogger.hpp"
#include "rtc/PeerConnection.hpp"
#include "signaling/SignalClient.hpp"
#include "transport/WebRtcChunkAdapter.hpp"

namespace quorvane {

namespace {

std::vector<rtc::IceServer> iceServers(const std::vector<IceServer>& servers) {
    std::vector<rtc::IceServer> converted;
    for (const auto& server : servers) converted.push_back({server.urls, server.username, server.credential});
    return converted;
}

rtc::PeerConnectionConfiguration peerConnectionConfiguration(const ConnectionInformation& information) {
    rtc::PeerConnectionConfiguration configuration;
    configuration.iceServers = iceServers(information.iceServers);
    return configuration;
}

}  // namespace

// --- Construction -------------------------------------------------------------------------------

std::shared_ptr<WebRtcClient> WebRtcClient::create(const TransportLayerConfiguration& configuration,
                                                   MqttTransportFactory makeTransport) {
    const auto& session = configuration.session;
    const bool answerSide = configuration.role == WebRtcClientRole::answer;
    const auto offerTopic = session.topic + "/offer";
    const auto answerTopic = session.topic + "/answer";
    const auto& broker = configuration.connectionInformation.mqtt;
    if (!SignalClient::brokerPort(broker.ports)) {
        if (configuration.logger) {
            configuration.logger->error(true, "Quorvane", "WebRtcClient", "init",
                                        "Signal server web socket port unavailable");
        }
        return nullptr;
    }
    std::shared_ptr<SignalClient> signals;
    try {
        signals = SignalClient::create(configuration.services, broker, configuration.username, session.token,
                                       answerSide ? session.answerClient : session.offerClient, session.topic,
                                       answerSide ? offerTopic : answerTopic, answerSide ? answerTopic : offerTopic,
                                       configuration.timeout, configuration.logger, std::move(makeTransport));
    } catch (const std::invalid_argument& error) {
        ClassLogger(configuration.logger, "WebRtcClient").error("init", error.what());
        return nullptr;
    }
    std::shared_ptr<WebRtcClient> client(new WebRtcClient(configuration, std::move(signals)));
    client->delegate_ = configuration.delegate;
    client->signals_->setDelegate(client);
    client->dataChannelManager_->setDelegate(client);
    return client;
}

std::shared_ptr<TransportLayer> makeWebRtcClient(const TransportLayerConfiguration& configuration) {
    return WebRtcClient::create(configuration);
}

WebRtcClient::WebRtcClient(const TransportLayerConfiguration& configuration, std::shared_ptr<SignalClient> signals)
    : log_(configuration.logger, "WebRtcClient"),
      queue_(DispatchQueue::create("WebRtcClient")),
      role_(configuration.role),
      configuration_(peerConnectionConfiguration(configuration.connectionInformation)),
      timeout_(configuration.timeout),
      signals_(std::move(signals)),
      dataChannelManager_(std::make_shared<WebRtcChunkAdapter>(configuration.logger)),
      hasPeerConnection_(Promise<std::shared_ptr<rtc::PeerConnection>>::pending()),
      receivedRemoteSession_(Promise<void>::pending()),
      connected_(Promise<void>::pending()) {}

WebRtcClient::~WebRtcClient() {
    log_.debug("Deinit", "WebRtcClient deinitialized");
    signals_->tearDown();
    // The session ends with the client: what still waits to be sent is rejected as closed.
    dataChannelManager_->shutDown();
    if (peerConnection_) peerConnection_->close();
    stopCapture();
}

// --- Queue helpers ------------------------------------------------------------------------------

template <class Step>
Promise<void> WebRtcClient::onQueue(Step step) {
    auto result = Promise<void>::pending();
    queue_->async([self = shared_from_this(), step = std::move(step), resolver = result.resolver]() mutable {
        firstly([&] { return step(*self); }).pipeTo(resolver);
    });
    return result.promise;
}

template <class Work>
void WebRtcClient::runOnQueue(Work work) {
    if (queue_->isCurrent()) {
        work();
    } else {
        queue_->sync(work);
    }
}

// --- Transport layer ----------------------------------------------------------------------------

void WebRtcClient::setDelegate(std::weak_ptr<TransportLayerDelegate> delegate) {
    runOnQueue([&] { delegate_ = std::move(delegate); });
}

Promise<void> WebRtcClient::connectAsOffer() {
    return onQueue([](WebRtcClient& self) { return self.firstConnect(true); });
}

Promise<void> WebRtcClient::connectAsAnswer() {
    return onQueue([](WebRtcClient& self) { return self.firstConnect(false); });
}

Promise<void> WebRtcClient::resetState(bool sendDisconnect) {
    // At once: a send made after this call is refused, whatever the queue still holds.
    dataChannelManager_->shutDown();
    return onQueue([sendDisconnect](WebRtcClient& self) { return self.terminalReset(sendDisconnect); });
}

Promise<void> WebRtcClient::reconnect() {
    return onQueue([](WebRtcClient& self) { return self.startReconnect(); });
}

Promise<void> WebRtcClient::sendMessage(std::vector<std::uint8_t> data, std::uint16_t category,
                                        std::shared_ptr<SessionMetrics> metrics) {
    // The metrics count the message's size after the send.
    const auto size = data.size();
    return dataChannelManager_->sendData(std::move(data), category)
        .done([metrics = std::move(metrics), size] {
            if (metrics) metrics->updateMessageMetrics(size);
        }, queue_);
}

bool WebRtcClient::addVideoStream(std::shared_ptr<VideoStreamConfiguration<CameraFormat>> configuration) {
    post([configuration = std::move(configuration)](WebRtcClient& self) {
        if (self.peerConnected()) {
            self.log_.debug("addVideoStream", "Adding video " + nlohmann::json(configuration->source()).dump());
        }
        self.setupVideoStream(configuration);
    });
    return true;
}

bool WebRtcClient::addScreenSharing(std::shared_ptr<VideoStreamConfiguration<ScreenFormat>> configuration) {
    bool accepted = false;
    runOnQueue([&] {
        if (screenCaptureInitializer_) return;
        screenCaptureInitializer_ = configuration;
        accepted = true;
    });
    if (!accepted) return false;
    post([configuration = std::move(configuration)](WebRtcClient& self) {
        if (self.peerConnected()) self.log_.debug("addScreenSharing", "Adding screen share");
        self.setupScreenShare(configuration);
    });
    return true;
}

}  // namespace quorvane

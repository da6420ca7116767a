#include "client/QuorvaneClientImpl.hpp"

#include <stdexcept>
#include <utility>

#include "client/LogTexts.hpp"
#include "client/MessageIds.hpp"
#include "log/SessionMetrics.hpp"
#include "log/ZephLogger.hpp"
#include "network/NetworkStatus.hpp"
#include "quorvane/Errors.hpp"
#include "quorvane/PrintLogger.hpp"
#include "quorvane/QVError.hpp"
#include "rest/QuorvaneServices.hpp"
#include "util/ErrorDescription.hpp"

namespace quorvane {

namespace {

/// The longest time-out a client accepts, in seconds: a day.
constexpr int longestTimeout = 24 * 60 * 60;

/// What a start-up and the waits of a client the host has released are rejected with.
QuorvaneError clientReleased() {
    return QuorvaneError::failedToInitialize("Deinitialized", "Quorvane Client has been deinitialized");
}

/// What a start-up that the host's disconnect overtook is rejected with.
QuorvaneError startUpStopped() {
    return QuorvaneError::failedToInitialize("Disconnected", "The session was disconnected while it was starting");
}

}  // namespace

std::shared_ptr<QuorvaneClient> makeQuorvaneClient(std::string apiUrlBase, std::string apiKey, bool retainLogs,
                                                   int timeout, std::shared_ptr<Logger> logger,
                                                   const std::shared_ptr<QuorvaneDelegate>& delegate,
                                                   const DispatchQueuePtr& dispatchQueue,
                                                   QuorvaneClientDependencies dependencies) {
    if (timeout <= 0 || timeout > longestTimeout) {
        throw std::invalid_argument("The time-out must be from 1 to " + std::to_string(longestTimeout) +
                                    " seconds; " + std::to_string(timeout) + " was given");
    }
    auto client = std::make_shared<QuorvaneClientImpl>(std::move(apiUrlBase), std::move(apiKey), retainLogs, timeout,
                                                       std::move(logger), delegate, dispatchQueue,
                                                       std::move(dependencies));
    // The host's references share a count of their own: when the last of them goes, the client is
    // released from the host at once, also while work it has queued still holds it.
    return std::shared_ptr<QuorvaneClient>(client.get(), [client](QuorvaneClient*) mutable {
        client->release();
        client.reset();
    });
}

QuorvaneClientImpl::QuorvaneClientImpl(std::string apiUrlBase, std::string apiKey, bool retainLogs, int timeout,
                                       std::shared_ptr<Logger> logger,
                                       const std::shared_ptr<QuorvaneDelegate>& delegate,
                                       const DispatchQueuePtr& dispatchQueue, QuorvaneClientDependencies dependencies)
    : internalLogger_(std::make_shared<ZephLogger>(logger ? std::move(logger) : std::make_shared<PrintLogger>(),
                                                   LogLevel::TRACE, retainLogs)),
      log_(internalLogger_, "QuorvaneClient"),
      networkStatus_(dependencies.networkStatus ? std::move(dependencies.networkStatus) : NetworkStatus::create()),
      services_(std::make_shared<QuorvaneServices>(std::move(apiUrlBase), apiKey, networkStatus_,
                                                   std::move(dependencies.restOptions))),
      sessionMetrics_(std::make_shared<SessionMetrics>(internalLogger_)),
      internalQueue_(DispatchQueue::create("QuorvaneClient")),
      logUploadQueue_(DispatchQueue::create("QuorvaneClient.logUpload")),
      username_(std::move(apiKey)),
      timeout_(timeout),
      makeTransport_(std::move(dependencies.makeTransport)),
      makeMessageId_(dependencies.makeMessageId ? std::move(dependencies.makeMessageId) : [] { return makeId(10); }),
      delegate_(delegate),
      dispatchQueue_(dispatchQueue) {}

void QuorvaneClientImpl::release() {
    log_.debug("Deinit", "QuorvaneClient deinitialized");
    // No report begins from here on, and no log line once the console is shut too; only then are
    // the reports under way waited for, so that what they log is not printed either.
    reports_.shut();
    internalLogger_->closeConsole();
    reports_.close();
    // No answer reaches a released client: settle what waits for one now rather than never.
    internalQueue_->async([self = shared_from_this()] {
        self->settleWaits(std::make_exception_ptr(clientReleased()), std::nullopt);
    });
}

// --- Properties ----------------------------------------------------------------------------------

std::shared_ptr<QuorvaneDelegate> QuorvaneClientImpl::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void QuorvaneClientImpl::setDelegate(const std::shared_ptr<QuorvaneDelegate>& delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = delegate;
}

DispatchQueuePtr QuorvaneClientImpl::dispatchQueue() const {
    std::lock_guard lock(mutex_);
    return dispatchQueue_.lock();
}

void QuorvaneClientImpl::setDispatchQueue(const DispatchQueuePtr& queue) {
    std::lock_guard lock(mutex_);
    dispatchQueue_ = queue;
}

std::shared_ptr<Logger> QuorvaneClientImpl::logger() const { return internalLogger_->logger(); }

void QuorvaneClientImpl::setLogger(std::shared_ptr<Logger> logger) { internalLogger_->setLogger(std::move(logger)); }

std::shared_ptr<TransportLayer> QuorvaneClientImpl::transport() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

QuorvaneClientImpl::Sending QuorvaneClientImpl::sending() const {
    std::lock_guard lock(mutex_);
    return {messages_, session_};
}

std::uint64_t QuorvaneClientImpl::disconnectsSoFar() const {
    std::lock_guard lock(mutex_);
    return disconnects_;
}

bool QuorvaneClientImpl::isConnected() const {
    auto current = transport();
    return current && current->isConnected();
}

// --- Start-up ------------------------------------------------------------------------------------

Promise<std::string> QuorvaneClientImpl::initiateSupportSession() {
    internalLogger_->setRole(WebRtcClientRole::offer);
    sessionMetrics_->startCollection();
    std::weak_ptr<QuorvaneClientImpl> weak = weak_from_this();
    return startTransport(services_->createSupportSession(), WebRtcClientRole::offer)
        .map([weak](const StartedSession& started) {
            // The connection's outcome reaches the host through the delegate, not this promise.
            std::weak_ptr<TransportLayer> transport = started.transport;
            started.transport->connectAsOffer().catchError([weak, transport](const std::exception_ptr& error) {
                auto self = weak.lock();
                auto current = transport.lock();
                if (self && current) self->offerConnectFailed(current, error);
            });
            return started.session.pin;
        });
}

Promise<void> QuorvaneClientImpl::connectToSupportSession(const std::string& pin) {
    if (pin.empty()) return Promise<void>::error(std::make_exception_ptr(QuorvaneError::invalidUsage()));
    internalLogger_->setRole(WebRtcClientRole::answer);
    internalLogger_->setPin(pin);
    sessionMetrics_->startCollection();
    return startTransport(services_->getSupportSession(pin), WebRtcClientRole::answer)
        .then([](const StartedSession& started) { return started.transport->connectAsAnswer(); });
}

Promise<QuorvaneClientImpl::StartedSession> QuorvaneClientImpl::startTransport(Promise<QuorvaneSession> found, WebRtcClientRole role) {
    std::weak_ptr<QuorvaneClientImpl> weak = weak_from_this();
    const auto disconnects = disconnectsSoFar();
    using Found = std::pair<QuorvaneSession, ConnectionInformation>;
    return found
        .then([weak, role](const QuorvaneSession& session) {
            auto self = weak.lock();
            if (!self) throw clientReleased();
            if (role == WebRtcClientRole::offer) self->internalLogger_->setPin(session.pin);
            self->internalLogger_->setSessionId(session.sessionId);
            return self->services_->getConnectionInformation().map(
                [session](const ConnectionInformation& information) { return Found{session, information}; });
        })
        .map([weak, role, disconnects](const Found& found) {
            auto self = weak.lock();
            if (self && self->disconnectsSoFar() != disconnects) throw startUpStopped();
            auto transport = self ? self->installTransport(role, found.first, found.second, disconnects) : nullptr;
            if (!transport) {
                throw QuorvaneError::failedToInitialize("Missing Needed Data", "The data transfer client was not created");
            }
            return StartedSession{std::move(transport), found.first};
        });
}

std::shared_ptr<TransportLayer> QuorvaneClientImpl::installTransport(WebRtcClientRole role,
                                                                     const QuorvaneSession& session,
                                                                     const ConnectionInformation& information,
                                                                     std::uint64_t disconnects) {
    auto transport = makeTransport_({weak_from_this(), services_, role, username_, session, timeout_, information,
                                     internalLogger_});
    if (!transport) return nullptr;

    std::shared_ptr<TransportLayer> previous;
    std::uint64_t ended;
    ScreenConfiguration screen;
    std::vector<CameraConfiguration> cameras;
    {
        std::lock_guard lock(mutex_);
        if (disconnects_ != disconnects) throw startUpStopped();
        previous = std::exchange(messages_, transport);
        ended = session_++;
        disconnectedByHost_ = false;
        screen = screenCaptureInitializer_;
        cameras = mediaStreams_;
    }
    if (previous) {
        previous->setDelegate({});
        previous->resetState(false);
        settleUntimedWaits(ended);
    }
    if (screen) transport->addScreenSharing(screen);
    for (const auto& camera : cameras) transport->addVideoStream(camera);
    return transport;
}

void QuorvaneClientImpl::offerConnectFailed(const std::shared_ptr<TransportLayer>& transport,
                                            const std::exception_ptr& error) {
    {
        std::lock_guard lock(mutex_);
        if (messages_ != transport || disconnectedByHost_) return;
    }
    log_.error("initiateSupportSession", "Failed to connect as offer: " + errorDescription(error));
    transportLayerDidDisconnect(false);
}

// --- Streams -------------------------------------------------------------------------------------

bool QuorvaneClientImpl::addVideoStream(CameraConfiguration configuration) {
    std::shared_ptr<TransportLayer> current;
    {
        std::lock_guard lock(mutex_);
        mediaStreams_.push_back(configuration);
        current = messages_;
    }
    if (!current) return true;
    const bool connected = current->isConnected();
    const bool added = current->addVideoStream(std::move(configuration));
    return connected ? added : true;
}

bool QuorvaneClientImpl::addScreenSharing(ScreenConfiguration configuration) {
    std::shared_ptr<TransportLayer> current;
    {
        std::lock_guard lock(mutex_);
        if (screenCaptureInitializer_) return false;
        screenCaptureInitializer_ = configuration;
        current = messages_;
    }
    if (!current) return true;
    const bool connected = current->isConnected();
    const bool added = current->addScreenSharing(std::move(configuration));
    return connected ? added : true;
}

// --- Shut-down -----------------------------------------------------------------------------------

Promise<void> QuorvaneClientImpl::disconnect(bool sendDisconnect) {
    std::uint64_t ended;
    {
        std::lock_guard lock(mutex_);
        ++disconnects_;
        ended = session_;
    }
    settleUntimedWaits(ended);
    return closeSession(sendDisconnect);
}

Promise<void> QuorvaneClientImpl::closeSession(bool sendDisconnect) {
    log_.info("WebRtcClient.disconnect", "Closing session");
    std::shared_ptr<TransportLayer> current;
    {
        std::lock_guard lock(mutex_);
        current = messages_;
        disconnectedByHost_ = current != nullptr;
    }
    if (!current) return Promise<void>::value();
    return current->resetState(sendDisconnect);
}

void QuorvaneClientImpl::settleUntimedWaits(std::uint64_t ended) {
    internalQueue_->async([self = shared_from_this(), ended] {
        self->settleWaits(std::make_exception_ptr(QVError("The session ended before the peer answered")), ended);
    });
}

void QuorvaneClientImpl::settleWaits(const std::exception_ptr& error, std::optional<std::uint64_t> ended) {
    const auto settles = [&](bool untimed, std::uint64_t session) { return !ended || (untimed && session <= *ended); };
    // Removed first, with their timers, then rejected.
    std::vector<Resolver<void>> commands;
    std::erase_if(pendingCommands_, [&](auto& entry) {
        if (!settles(entry.second.untimed, entry.second.session)) return false;
        commands.push_back(entry.second.resolver);
        return true;
    });
    for (const auto& resolver : commands) resolver.reject(error);
    std::vector<std::string> queries;
    for (const auto& [id, query] : pendingQueries_) {
        if (settles(query.untimed, query.session)) queries.push_back(id);
    }
    for (const auto& id : queries) failQuery(id, error);
}

void QuorvaneClientImpl::endSession() {
    sessionMetrics_->endCollection();
    // Writing the upload's body may take a while; it keeps no queue of the library waiting.
    logUploadQueue_->async([logger = internalLogger_, services = services_] { logger->sendToServer(services); });
}

// --- Transport events ----------------------------------------------------------------------------

void QuorvaneClientImpl::transportLayerWillReceiveMessage(std::uint16_t id, std::uint16_t category,
                                                          std::uint16_t numChunksReceived, std::uint16_t totalChunks) {
    const float percent =
        totalChunks == 0 ? 0.0f : static_cast<float>(numChunksReceived) / static_cast<float>(totalChunks) * 100;
    log_.debug("transportLayerWillReceiveMessage",
               "[" + formatPercent(percent) + "%] Receiving message with category " + std::to_string(category));
    deliver("quorvaneWillReceiveMessage", [=](QuorvaneDelegate& delegate) {
        delegate.quorvaneWillReceiveMessage(id, category, numChunksReceived, totalChunks);
    });
}

void QuorvaneClientImpl::transportLayerEstablishedConnection() {
    log_.debug("webRtcClientEstablishedConnection", "Established WebRTC connection");
    deliver("quorvaneDidConnect", [](QuorvaneDelegate& delegate) { delegate.quorvaneDidConnect(); });
}

void QuorvaneClientImpl::transportLayerDidDisconnect(bool expected) {
    log_.debug("webRtcClientDidExpectedDisconnect", "WebRTC Client disconnected");
    endSession();
    settleUntimedWaits(sending().session);
    deliver("quorvaneDidDisconnect", [expected](QuorvaneDelegate& delegate) { delegate.quorvaneDidDisconnect(expected); });
    // The session is over; a start-up the host has begun meanwhile goes on.
    if (expected) closeSession(false);
}

void QuorvaneClientImpl::transportLayerWillResetConnection() {
    sessionMetrics_->incrementReconnects();
    deliver("quorvaneWillResetConnection", [](QuorvaneDelegate& delegate) { delegate.quorvaneWillResetConnection(); });
}

void QuorvaneClientImpl::transportLayerAddedMediaStream(std::shared_ptr<CameraStreamController> controller) {
    deliver("quorvaneStartedVideoCapture", [controller = std::move(controller)](QuorvaneDelegate& delegate) {
        delegate.quorvaneStartedVideoCapture(controller);
    });
}

void QuorvaneClientImpl::transportLayerAddedScreenCapture(std::shared_ptr<ScreenCaptureController> controller) {
    deliver("quorvaneStartedScreenCapture", [controller = std::move(controller)](QuorvaneDelegate& delegate) {
        delegate.quorvaneStartedScreenCapture(controller);
    });
}

void QuorvaneClientImpl::transportLayerFailedToAddMediaStream(std::exception_ptr error) {
    deliver("quorvaneFailedToStartVideoCapture", [error = std::move(error)](QuorvaneDelegate& delegate) {
        delegate.quorvaneFailedToStartVideoCapture(error);
    });
}

void QuorvaneClientImpl::transportLayerFailedToAddScreenCapture(std::exception_ptr error) {
    deliver("quorvaneFailedToStartScreenCapture", [error = std::move(error)](QuorvaneDelegate& delegate) {
        delegate.quorvaneFailedToStartScreenCapture(error);
    });
}

// --- Reports to the host -------------------------------------------------------------------------

void QuorvaneClientImpl::deliver(const char* method, std::function<void(QuorvaneDelegate&)> call,
                                 std::function<void(std::exception_ptr)> onThrow) {
    hostQueue()->async([self = shared_from_this(), method, call = std::move(call), onThrow = std::move(onThrow)] {
        self->reports_.run([&] { self->callHost(self->delegate().get(), method, call, onThrow); });
    });
}

DispatchQueuePtr QuorvaneClientImpl::hostQueue() const {
    auto queue = dispatchQueue();
    return queue ? queue : DispatchQueue::main();
}

void QuorvaneClientImpl::callHost(QuorvaneDelegate* delegate, const char* method,
                                  const std::function<void(QuorvaneDelegate&)>& call,
                                  const std::function<void(std::exception_ptr)>& onThrow) const {
    if (!delegate) return;
    auto error = runHostCode(method, [&] { call(*delegate); });
    if (error && onThrow) onThrow(error);
}

std::exception_ptr QuorvaneClientImpl::runHostCode(const char* method, const std::function<void()>& code) const {
    try {
        code();
        return nullptr;
    } catch (...) {
        auto error = std::current_exception();
        log_.error(method, "Host code threw: " + errorDescription(error));
        return error;
    }
}

}  // namespace quorvane

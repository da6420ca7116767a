#pragma once

// Shared set-up of the session client's tests: the mock REST service, a network that is online,
// clients on fake transports, and a delegate that records what it hears.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "MockRestService.hpp"
#include "async/Clock.hpp"
#include "client/QuorvaneClientDependencies.hpp"
#include "network/NetworkStatus.hpp"
#include "quorvane/QuorvaneClient.hpp"
#include "support/FakeReachabilitySource.hpp"
#include "support/FakeTransport.hpp"
#include "support/RecordingDelegate.hpp"
#include "support/RecordingLogger.hpp"

namespace quorvane::testing {

/// The error a promise settles with (null when fulfilled); fails the test when it does not settle
/// within a generous guard.
template <class T>
std::exception_ptr outcome(const Promise<T>& promise) {
    auto done = std::make_shared<std::promise<void>>();
    promise.ensure([done] { done->set_value(); }).catchError([](const std::exception_ptr&) {});
    if (done->get_future().wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "promise did not settle";
        return nullptr;
    }
    return promise.error();
}

/// The error a promise was rejected with, as E; fails the test for any other outcome.
template <class E, class T>
E rejection(const Promise<T>& promise) {
    auto error = outcome(promise);
    try {
        if (error) std::rethrow_exception(error);
    } catch (const E& e) {
        return e;
    } catch (const std::exception& other) {
        ADD_FAILURE() << "rejected with another error: " << other.what();
        throw;
    }
    ADD_FAILURE() << "fulfilled";
    throw std::logic_error("fulfilled");
}

/// The mock REST service, an online network and a virtual clock for the client's tests.
class ClientTest : public ::testing::Test {
protected:
    static constexpr const char* apiKey = "mock-api-key";

    ClientTest();
    ~ClientTest() override;

    /// A client whose transports come from `transports`.
    std::shared_ptr<QuorvaneClient> makeClient(FakeTransportFactory& transports,
                                               const std::shared_ptr<QuorvaneDelegate>& delegate,
                                               const DispatchQueuePtr& queue = nullptr,
                                               std::function<std::string()> makeMessageId = {});
    /// A client whose transports `makeTransport` builds.
    std::shared_ptr<QuorvaneClient> makeClient(TransportLayerFactory makeTransport,
                                               const std::shared_ptr<QuorvaneDelegate>& delegate,
                                               const DispatchQueuePtr& queue = nullptr,
                                               std::function<std::string()> makeMessageId = {});
    /// The client's log lines, "LEVEL message".
    std::vector<std::string> logLines() const;
    bool logged(const std::string& line) const;
    /// Lets work that hops between the fake transports, the clients and the main queue run out.
    void settle(const std::vector<std::shared_ptr<FakeTransport>>& ends = {}) const;
    /// Settles until `condition` holds; false when it still does not after 20 s.
    bool eventually(const std::function<bool()>& condition) const;

    ScopedVirtualClock clock_;
    mock::MockRestService service_;
    std::string base_;
    std::shared_ptr<FakeReachabilitySource> network_ = std::make_shared<FakeReachabilitySource>(FakeReachabilitySource::online);
    std::shared_ptr<NetworkStatus> gate_;
    std::shared_ptr<RecordingLogger> console_ = std::make_shared<RecordingLogger>();
};

/// Two clients joined in one session over a pair of fake transports, the data channel open.
class ConnectedClientsTest : public ClientTest {
protected:
    void SetUp() override;

    std::shared_ptr<FakeTransport> offerEnd_, answerEnd_;
    FakeTransportFactory offerTransports_, answerTransports_;
    std::shared_ptr<RecordingDelegate> offerHost_ = std::make_shared<RecordingDelegate>();
    std::shared_ptr<RecordingDelegate> answerHost_ = std::make_shared<RecordingDelegate>();
    std::shared_ptr<QuorvaneClient> offer_, answer_;
    std::function<std::string()> offerMessageIds_;  ///< the offer client's message ids, when set
};

}  // namespace quorvane::testing

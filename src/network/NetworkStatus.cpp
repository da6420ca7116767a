#include "network/NetworkStatus.hpp"

#include <iostream>

namespace quorvane {

namespace {

std::shared_ptr<Reachability> makeMonitor() {
    try {
        return Reachability::create();
    } catch (const ReachabilityError&) {
        return nullptr;
    }
}

}  // namespace

NetworkStatus::NetworkStatus(std::shared_ptr<Reachability> reachability)
    : reachability_(std::move(reachability)), reachableQueue_(DispatchQueue::create("reachableQueue")) {}

std::shared_ptr<NetworkStatus> NetworkStatus::create(std::shared_ptr<Reachability> reachability) {
    if (!reachability) reachability = makeMonitor();
    auto gate = std::shared_ptr<NetworkStatus>(new NetworkStatus(std::move(reachability)));
    try {
        if (!gate->reachability_) throw ReachabilityError(ReachabilityError::Kind::failedToCreateWithAddress, 0);
        gate->reachability_->startNotifier();
    } catch (const ReachabilityError&) {
        std::cout << "Unable to start notifier" << std::endl;
    }
    if (gate->reachability_) {
        std::weak_ptr<NetworkStatus> weakGate = gate;
        gate->reachability_->setWhenReachable([weakGate](Reachability&) {
            auto self = weakGate.lock();
            if (!self) return;
            self->reachableQueue_->async([weakGate] {
                if (auto gate = weakGate.lock()) gate->releaseWaiters();
            });
        });
    }
    return gate;
}

NetworkStatus::~NetworkStatus() {
    if (reachability_) reachability_->stopNotifier();
    // Nothing would ever release them now: let them through rather than hold them forever.
    for (const auto& resolver : reachablePromises_) resolver.fulfill();
}

bool NetworkStatus::mayPass() const {
    if (!reachability_) return true;
    // A failed flag read stops the monitor: without a running monitor nobody would release a waiter.
    return reachability_->connection() != Reachability::Connection::unavailable || !reachability_->notifierRunning();
}

Guarantee<void> NetworkStatus::waitForInternet() {
    auto pending = Guarantee<void>::pending();
    if (mayPass()) {
        pending.resolver.fulfill();
        return pending.guarantee;
    }
    // Checked again when parking: a report may have come between the read above and this block.
    // Waiters parked earlier go first, so that waiters are always released in the order they came.
    reachableQueue_->async([self = shared_from_this(), resolver = pending.resolver] {
        if (self->mayPass()) {
            self->releaseWaiters();
            resolver.fulfill();
        } else {
            self->reachablePromises_.push_back(resolver);
        }
    });
    return pending.guarantee;
}

void NetworkStatus::releaseWaiters() {
    auto waiters = std::move(reachablePromises_);
    reachablePromises_.clear();
    for (const auto& resolver : waiters) resolver.fulfill();
}

}  // namespace quorvane

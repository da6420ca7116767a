#include "Sender.hpp"

#include <chrono>
#include <cstdio>

#include "Payloads.hpp"
#include "Text.hpp"
#include "quorvane/QVCategory.hpp"
#include "quorvane/WellKnownTags.hpp"

namespace quorvane::session {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", value);
    return text;
}

std::string quoted(const std::string& text) { return "\"" + shown(text) + "\""; }

}  // namespace

void Answer::add(const std::string& part) {
    std::lock_guard lock(mutex_);
    parts_.push_back(part);
}

std::vector<std::string> Answer::parts() const {
    std::lock_guard lock(mutex_);
    return parts_;
}

void Sender::reportResult(const Promise<void>& promise, const std::string& what, const std::string& success) {
    const auto start = Clock::now();
    promise.done([console = &console_, what, success, start] {
        console->line("result: " + what + " " + success + " after " + seconds(secondsSince(start)));
    });
    (void)promise.catchError([console = &console_, what, start](std::exception_ptr error) {
        console->line("result: " + what + " failed after " + seconds(secondsSince(start)) + ": " +
                      describeError(error));
    });
}

bool Sender::sayIfQueued(const std::string& what) {
    if (client_->isConnected()) return false;
    console_.line(what + " queued until the peer connects");
    return true;
}

Promise<void> Sender::chat(const std::string& text) {
    if (!sayIfQueued("chat " + quoted(text))) console_.line("chat to the peer: " + shown(text));
    auto sent = client_->sendChat(text, textTag(), static_cast<std::uint16_t>(QVCategory::Chat));
    reportResult(sent, "chat " + quoted(text), "handed to the transport");
    return sent;
}

Promise<void> Sender::notify(const std::string& text) {
    sayIfQueued("notification " + quoted(text));
    auto sent =
        client_->sendNotification(QVNotification(static_cast<std::uint16_t>(QVCategory::Default), textData(text)));
    reportResult(sent, "notification " + quoted(text), "handed to the transport");
    return sent;
}

Promise<void> Sender::command(const std::string& text, QVAcknowledgeOn acknowledgeOn, double timeout) {
    sayIfQueued("command " + quoted(text));
    auto sent = client_->sendCommand(
        QVCommand(static_cast<std::uint16_t>(QVCategory::Default), textData(text), acknowledgeOn), timeout);
    reportResult(sent, "command " + quoted(text), "acknowledged");
    return sent;
}

SentQuery Sender::sendQuery(QVQuery query, const std::string& what, double timeout) {
    sayIfQueued(what);
    auto answer = std::make_shared<Answer>();
    auto receipt = client_->sendQuery(
        std::move(query), timeout, [console = &console_, what, answer](const QVTaggedData& data, bool isLast) {
            const std::string part(data.data().begin(), data.data().end());
            answer->add(part);
            console->line("answer to " + what + ": " + describeData(data) + (isLast ? " (last part)" : ""));
        });
    reportResult(receipt.complete(), what, "answered");
    return {receipt, answer};
}

SentQuery Sender::query(const std::string& text, double timeout) {
    return sendQuery(QVQuery(static_cast<std::uint16_t>(QVCategory::Default), textData(text)), "query " + quoted(text),
                     timeout);
}

Promise<void> Sender::bytes(std::size_t size) {
    auto data = generatedBytes(size, static_cast<std::uint32_t>(size));
    console_.line("sending " + std::to_string(size) + " bytes, sha256 " + sha256Hex(data));
    sayIfQueued(std::to_string(size) + " bytes");
    auto sent = client_->sendBytes(std::move(data), std::string(rawValue(WellKnownTags::bytes)),
                                   static_cast<std::uint16_t>(QVCategory::Default));
    reportResult(sent, std::to_string(size) + " bytes", "handed to the transport");
    return sent;
}

SentQuery Sender::file(const std::string& name, std::vector<std::uint8_t> bytes, double timeout) {
    const std::string checksum = sha256Hex(bytes);
    console_.line("sending file " + quoted(name) + ": " + std::to_string(bytes.size()) + " bytes, sha256 " + checksum);
    auto sent = sendQuery(QVQuery(fileCategory, fileData(name, std::move(bytes))), "file " + quoted(name), timeout);
    sent.receipt.complete().done([console = &console_, name, checksum, answer = sent.answer] {
        const auto parts = answer->parts();
        const bool intact = !parts.empty() && parts.back() == "sha256 " + checksum;
        console->line("result: file " + quoted(name) +
                      (intact ? " arrived intact (the peer's checksum matches)" : " arrived damaged"));
    });
    return sent;
}

}  // namespace quorvane::session

#include "quorvane/QuorvaneClient.hpp"

#include "client/QuorvaneClientDependencies.hpp"
#include "quorvane/DefaultCategory.hpp"
#include "quorvane/DefaultTag.hpp"

namespace quorvane {

std::shared_ptr<QuorvaneClient> QuorvaneClient::create(std::string apiUrlBase, std::string apiKey, bool retainLogs,
                                                       int timeout, std::shared_ptr<Logger> logger,
                                                       const std::shared_ptr<QuorvaneDelegate>& delegate,
                                                       const DispatchQueuePtr& dispatchQueue) {
    return makeQuorvaneClient(std::move(apiUrlBase), std::move(apiKey), retainLogs, timeout, std::move(logger),
                              delegate, dispatchQueue, {});
}

void QuorvaneClient::setByteDefaults(std::uint16_t category, std::string tag) {
    DefaultCategory::Bytes().set(category);
    DefaultTag::Bytes().set(std::move(tag));
}

void QuorvaneClient::setLogDefaults(std::uint16_t category, std::string tag) {
    DefaultCategory::Log().set(category);
    DefaultTag::Log().set(std::move(tag));
}

void QuorvaneClient::setObjectDefaults(std::uint16_t category, std::string tag) {
    DefaultCategory::Object().set(category);
    DefaultTag::Object().set(std::move(tag));
}

}  // namespace quorvane

#include "log/ClassLogger.hpp"

namespace quorvane {

ClassLogger::ClassLogger(std::shared_ptr<ZephLogger> logger, std::string klass, std::string pkg)
    : logger_(std::move(logger)), klass_(std::move(klass)), pkg_(std::move(pkg)) {}

void ClassLogger::trace(const std::string& method, const std::string& message) const {
    if (logger_) logger_->trace(false, pkg_, klass_, method, message);
}

void ClassLogger::debug(const std::string& method, const std::string& message) const {
    if (logger_) logger_->debug(false, pkg_, klass_, method, message);
}

void ClassLogger::info(const std::string& method, const std::string& message) const {
    if (logger_) logger_->info(false, pkg_, klass_, method, message);
}

void ClassLogger::warn(const std::string& method, const std::string& message) const {
    if (logger_) logger_->warn(false, pkg_, klass_, method, message);
}

void ClassLogger::error(const std::string& method, const std::string& message) const {
    if (logger_) logger_->error(false, pkg_, klass_, method, message);
}

}  // namespace quorvane

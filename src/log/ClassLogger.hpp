#pragma once

#include <memory>
#include <string>

#include "log/ZephLogger.hpp"

namespace quorvane {

/// One component's view of the structured logger: the package and class are fixed, so a line is
/// one call with the operation name and the message (store flag off, no data). A null logger logs
/// nothing.
class ClassLogger {
public:
    ClassLogger(std::shared_ptr<ZephLogger> logger, std::string klass, std::string pkg = "Quorvane");

    void trace(const std::string& method, const std::string& message) const;
    void debug(const std::string& method, const std::string& message) const;
    void info(const std::string& method, const std::string& message) const;
    void warn(const std::string& method, const std::string& message) const;
    void error(const std::string& method, const std::string& message) const;

    /// The structured logger itself, for lines with data or the store flag.
    const std::shared_ptr<ZephLogger>& logger() const { return logger_; }

private:
    std::shared_ptr<ZephLogger> logger_;
    std::string klass_;
    std::string pkg_;
};

}  // namespace quorvane

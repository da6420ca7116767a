#include "util/ErrorDescription.hpp"

namespace quorvane {

std::string errorDescription(const std::exception_ptr& error) {
    if (!error) return "Unknown error";
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

}  // namespace quorvane

#include "client/MessageIds.hpp"

#include <cmath>
#include <limits>
#include <random>
#include <string_view>

namespace quorvane {

std::string makeId(std::size_t length) {
    static constexpr std::string_view alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string id(length, ' ');
    for (auto& character : id) character = alphabet[pick(generator)];
    return id;
}

std::uint32_t messageTimestamp(double secondsSince1970) {
    constexpr double largest = std::numeric_limits<std::uint32_t>::max();
    if (!(secondsSince1970 > 0)) return 0;  // also NaN
    if (secondsSince1970 >= largest) return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(std::trunc(secondsSince1970));
}

}  // namespace quorvane

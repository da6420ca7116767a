// Feeds arbitrary bytes to parseRtcHandshake as if they were a received signaling message,
// and reads every field of whatever it accepts.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "formats/RtcHandshakeView.hpp"
#include "support/ReadAll.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy: reading past its end is caught by the address sanitizer.
    const std::vector<std::uint8_t> bytes(data, data + size);
    if (auto parsed = quorvane::parseRtcHandshake(bytes)) {
        volatile std::size_t sink = quorvane::testing::readAll(*parsed);
        (void)sink;
    }
    return 0;
}

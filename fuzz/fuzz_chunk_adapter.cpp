// Feeds arbitrary buffers to the receive path of a chunk adapter, as a peer could. The adapter
// lives across inputs, so that assemblers, records and limits carry state from one to the next.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "transport/WebRtcChunkAdapter.hpp"

namespace {

quorvane::WebRtcChunkAdapter& adapter() {
    // A small byte limit keeps the fuzzer's memory bounded while it exercises the limits.
    static auto* instance = new std::shared_ptr<quorvane::WebRtcChunkAdapter>(
        std::make_shared<quorvane::WebRtcChunkAdapter>(
            nullptr, quorvane::WebRtcChunkAdapter::Settings{.maxReassemblingMessages = 64,
                                                            .maxReassemblingBytes = 64u << 20}));
    return **instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& receiver = adapter();
    receiver.dataChannelDidReceive(std::vector<std::uint8_t>(data, data + size));
    receiver.dispatchQueue()->sync([] {});
    return 0;
}

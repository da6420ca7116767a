#include "Payloads.hpp"

#include <openssl/evp.h>

#include <random>

#include "Text.hpp"
#include "quorvane/Errors.hpp"
#include "quorvane/QVError.hpp"
#include "quorvane/WellKnownTags.hpp"

namespace quorvane::session {

namespace {

const std::string fileTagPrefix = "application/octet-stream; name=";
const std::string checksumField = "; sha256=";
constexpr std::size_t printableLength = 200;

}  // namespace

const std::string& textTag() {
    static const std::string tag(rawValue(WellKnownTags::text));
    return tag;
}

QVTaggedData textData(const std::string& text) { return QVTaggedData(textTag(), {text.begin(), text.end()}); }

std::string describeData(const QVTaggedData& data) {
    const auto& bytes = data.data();
    if (data.tag() == textTag() && bytes.size() <= printableLength) {
        return "\"" + printable(std::string(bytes.begin(), bytes.end())) + "\"";
    }
    return std::to_string(bytes.size()) + " bytes, sha256 " + sha256Hex(bytes) + " (" + shown(data.tag()) + ")";
}

std::string sha256Hex(const std::vector<std::uint8_t>& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return hex;
}

std::vector<std::uint8_t> generatedBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; i += 4) {
        const std::uint32_t word = random();
        for (std::size_t k = 0; k < 4 && i + k < size; ++k) bytes[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
    }
    return bytes;
}

QVTaggedData fileData(const std::string& name, std::vector<std::uint8_t> bytes) {
    std::string tag = fileTagPrefix + name + checksumField + sha256Hex(bytes);
    return QVTaggedData(std::move(tag), std::move(bytes));
}

std::size_t fileTagSize(const std::string& name) {
    return fileTagPrefix.size() + name.size() + checksumField.size() + 2 * 32;  // a SHA-256 in hexadecimal
}

std::optional<FileTag> parseFileTag(const std::string& tag) {
    if (!tag.starts_with(fileTagPrefix)) return std::nullopt;
    const auto checksumAt = tag.rfind(checksumField);
    if (checksumAt == std::string::npos || checksumAt < fileTagPrefix.size()) return std::nullopt;
    return FileTag{tag.substr(fileTagPrefix.size(), checksumAt - fileTagPrefix.size()),
                   tag.substr(checksumAt + checksumField.size())};
}

// The peer's errors carry the peer's own text.
std::string describeError(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const QVError& e) {
        return "error " + std::to_string(e.statusCode()) + ": " + shown(e.message());
    } catch (const QuorvaneError& e) {
        return shown(e.title().empty() ? e.errorDescription() : e.title() + ": " + e.errorDescription());
    } catch (const std::exception& e) {
        return shown(e.what());
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace quorvane::session

#include "sha256.h"

#include <new>
#include <openssl/evp.h>
#include <utility>

namespace tolvar {

struct Sha256::State {
    EVP_MD_CTX* context = nullptr;
};

namespace {

EVP_MD_CTX* startContext() {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    // Only an allocation can fail here; treat it as the allocation failure it is.
    if (context == nullptr || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
    return context;
}

} // namespace

Sha256::Sha256() : state(new State{startContext()}) {}

Sha256::~Sha256() {
    if (state != nullptr)
        EVP_MD_CTX_free(state->context);
    delete state;
}

Sha256::Sha256(Sha256&& other) noexcept : state(std::exchange(other.state, nullptr)) {}

Sha256& Sha256::operator=(Sha256&& other) noexcept {
    std::swap(state, other.state);
    return *this;
}

void Sha256::update(const void* data, std::size_t size) {
    if (size > 0)
        EVP_DigestUpdate(state->context, data, size);
}

Digest Sha256::finish() {
    Digest digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(state->context, digest.data(), &length);
    EVP_DigestInit_ex(state->context, EVP_sha256(), nullptr);
    return digest;
}

Digest sha256Of(std::string_view bytes) {
    Sha256 hash;
    hash.update(bytes.data(), bytes.size());
    return hash.finish();
}

std::string toHex(const Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (const unsigned char byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::optional<Digest> digestFromHex(std::string_view text) {
    Digest digest{};
    if (text.size() != digest.size() * 2)
        return std::nullopt;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = nibble(text[2 * i]);
        const int low = nibble(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        digest[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return digest;
}

} // namespace tolvar

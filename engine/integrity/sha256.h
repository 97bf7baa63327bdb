#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tolvar {

using Digest = std::array<unsigned char, 32>;

// Incremental SHA-256 through OpenSSL's libcrypto, which uses the processor's SHA
// instructions where it has them. One object hashes one stream; it may be moved to and used
// on another thread, but not shared.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(Sha256&& other) noexcept;
    Sha256& operator=(Sha256&& other) noexcept;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, std::size_t size);
    // The digest of everything given since construction or the last finish; starts afresh.
    Digest finish();

private:
    struct State;
    State* state;
};

// The digest of one buffer.
Digest sha256Of(std::string_view bytes);

// 64 lower-case hex digits, as sha256sum prints them.
std::string toHex(const Digest& digest);

// Reads 64 hex digits (either case); empty optional for anything else.
std::optional<Digest> digestFromHex(std::string_view text);

} // namespace tolvar

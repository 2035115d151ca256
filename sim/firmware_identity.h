#pragma once
// The identity block of the firmware the simulated card runs. Each
// component's firmware carries, at its base address + 0x10, 16 bytes
// (little-endian):
//   "VNID", component id, variant, major, minor, 4 zero bytes
// After a reset the card reads its Primary and Station versions from these
// blocks in flash; where a block is missing it keeps its configured version.
// Component ids are those of the images' info records (0x15, 0x1F).

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

#include "sim/machine_config.h"

namespace varnel::sim {

inline constexpr uint32_t kPrimaryBase = 0x000000;
inline constexpr uint32_t kStationBase = 0x020000;
inline constexpr uint32_t kIdentityOffset = 0x10;

using IdentityBlock = std::array<uint8_t, 16>;

inline IdentityBlock EncodeIdentity(uint16_t component, const FirmwareIdentity& v) {
    IdentityBlock block{'V', 'N', 'I', 'D'};
    const uint16_t words[4] = {component, v.variant, v.major, v.minor};
    for (int i = 0; i < 4; ++i) {
        block[4 + 2 * i] = static_cast<uint8_t>(words[i]);
        block[5 + 2 * i] = static_cast<uint8_t>(words[i] >> 8);
    }
    return block;
}

// The version a block holds for `component`, or nothing when it holds none.
inline std::optional<FirmwareIdentity> DecodeIdentity(const IdentityBlock& block, uint16_t component) {
    const auto word = [&](int i) { return static_cast<uint16_t>(block[i] | block[i + 1] << 8); };
    if (std::memcmp(block.data(), "VNID", 4) != 0 || word(4) != component) return std::nullopt;
    return FirmwareIdentity{word(6), word(8), word(10)};
}

}  // namespace varnel::sim

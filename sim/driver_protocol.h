#pragma once
// The card driver's request protocol as the simulated driver answers it:
// the OIDs, the RIDs and the layout of the RID and Aux buffers. Written
// from the protocol itself (docs/simulated-machine.md, "The driver"), not
// taken from the program's card layer, so that the card layer's tests hold
// two implementations of the wire against each other.

#include <cstddef>
#include <cstdint>

namespace varnel::sim::protocol {

// The private requests have 0xFF in the top byte of their OID.
inline constexpr uint32_t kPrivateOidMask = 0xFF000000;

// The requests the driver answers, by OID, with their type.
enum Oid : uint32_t {
    kOidReadRid = 0xFF010181,           // query: a RID record
    kOidCheckSupport = 0xFF010183,      // query: the driver support check
    kOidEnableAux = 0xFF010184,         // set: the Aux Port on, for this open handle
    kOidReadAux = 0xFF010186,           // query: Aux read
    kOidBlockProtocols = 0xFF010187,    // set: the network protocols blocked, as writes need
    kOidUnblockProtocols = 0xFF010188,  // set: and unblocked
    kOidWriteAux = 0xFF01018C,          // set: Aux write to the flash
    kOidEndCardAccess = 0xFF020198,     // set: end of card access; the card resets
    kOidPermanentAddress = 0x01010101,  // query, published: the MAC address
    kOidDriverVersion = 0x00010116,     // query, published: the driver version
};

// Buffer sizes of the fixed-size answers.
inline constexpr uint32_t kPermanentAddressBytes = 6;
inline constexpr uint32_t kDriverVersionBytes = 4;
inline constexpr uint32_t kSupportCheckBytes = 8;

// A RID read: a 504-byte buffer of the length word (the payload's words
// plus one; 0 when there is no such record), the RID word, then the
// payload. All words little-endian.
inline constexpr uint32_t kRidBufferBytes = 504;
inline constexpr size_t kRidWordOffset = 2;
inline constexpr size_t kRidPayloadOffset = 4;

// The records the card answers, by RID.
enum Rid : uint16_t {
    kRidPrimaryIdentity = 0xFD02,  // component id, variant, major, minor
    kRidCardType = 0xFD04,         // the card type in word 2 of 4
    kRidStationIdentity = 0xFD20,  // component id, variant, major, minor
    kRidFirmwareText = 0xFFFF,     // 32 bytes of text, zero-padded
};
inline constexpr size_t kFirmwareTextBytes = 32;

// Component ids, in the identity RIDs and the flash's identity blocks.
inline constexpr uint16_t kComponentPrimary = 0x15;
inline constexpr uint16_t kComponentStation = 0x1F;

// An Aux read or write: the 32-bit address, the 16-bit byte count, then
// that many data bytes (at most 2042); the buffer is exactly that long.
// Bit 31 of a read's address selects the flash copy ("NVRAM").
inline constexpr size_t kAuxCountOffset = 4;
inline constexpr size_t kAuxHeaderBytes = 6;
inline constexpr uint16_t kAuxMaxData = 2042;
inline constexpr uint32_t kAuxNvramBit = 0x80000000;

}  // namespace varnel::sim::protocol

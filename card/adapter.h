#pragma once
// CAdapter: the connection to one network adapter and the card behind its
// driver. Every card operation is one of its methods:
//   adapter.cpp            discovery, opening, card type
//   driver_requests.cpp    the single private requests
//   card_versions.cpp      firmware versions and text
//   flash_programming.cpp  programming the flash, reading and writing the PDA
// It reaches the driver only through NdisLibrary, the adapter keys only
// through Registry, and shows its messages (no owner window) through Host.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/ndis_library.h"
#include "platform/registry.h"

namespace varnel {

class CFirmwareImage;
class CPda;
struct CComponentVersion;

// The buffer of a RID read: the driver is told it is 504 bytes.
#pragma pack(push, 1)
struct RidRecord {
    uint16_t length;  // 0 afterwards: no record came back
    uint16_t rid;
    uint8_t payload[500];
    // Payload word n, little-endian.
    uint16_t Word(size_t n) const { return static_cast<uint16_t>(payload[2 * n] | payload[2 * n + 1] << 8); }
};

// The buffer of an Aux Port read or write.
struct AuxRecord {
    static constexpr uint16_t kMaxData = 2042;
    uint32_t address;  // bit 31 set selects the NVRAM copy
    uint16_t count;
    uint8_t data[kMaxData];
};
#pragma pack(pop)
static_assert(sizeof(RidRecord) == 504);
static_assert(sizeof(AuxRecord) == 2048);

// Private OIDs of the card's driver, and the two published ones used.
inline constexpr uint32_t kOidReadRid = 0xFF010181;
inline constexpr uint32_t kOidCheckSupport = 0xFF010183;
inline constexpr uint32_t kOidEnableAux = 0xFF010184;
inline constexpr uint32_t kOidReadAux = 0xFF010186;
inline constexpr uint32_t kOidBlockProtocols = 0xFF010187;
inline constexpr uint32_t kOidUnblockProtocols = 0xFF010188;
inline constexpr uint32_t kOidWriteAux = 0xFF01018C;
inline constexpr uint32_t kOidEndCardAccess = 0xFF020198;
inline constexpr uint32_t kOidPermanentAddress = 0x01010101;
inline constexpr uint32_t kOidDriverVersion = 0x00010116;

// RIDs of the card firmware.
inline constexpr uint16_t kRidPrimaryIdentity = 0xFD02;
inline constexpr uint16_t kRidCardType = 0xFD04;
inline constexpr uint16_t kRidStationIdentity = 0xFD20;
inline constexpr uint16_t kRidFirmwareText = 0xFFFF;

// Card types and their PDA addresses.
inline constexpr uint16_t kCardType1 = 1;
inline constexpr uint16_t kCardType6405 = 2;
inline constexpr uint16_t kCardTypeUnsupported = 0xFFFF;
inline constexpr uint32_t kPdaAddressType1 = 0x003F0000;
inline constexpr uint32_t kPdaAddressType6405 = 0x007F0000;
// Bit 31 of an Aux read address selects the NVRAM copy.
inline constexpr uint32_t kNvramBit = 0x80000000;
// Address bits 17 and 18, which a type-1 card ignores.
inline constexpr uint32_t kType1AddressMask = 0xFFF9FFFF;

// Flash programming: pieces of at most 2042 bytes, never crossing 64 KiB.
inline constexpr uint16_t kPieceMax = AuxRecord::kMaxData;
inline constexpr uint32_t kPieceBoundary = 0x10000;
inline constexpr uint16_t kPdaBytes = 0x400;

// One entry of the adapter list: the display name and the registry subkey
// index that Open takes.
struct AdapterEntry {
    std::string name;
    int index = 0;
};

class CAdapter {
public:
    CAdapter(NdisLibrary& library, Registry& registry, Host& host);
    ~CAdapter();
    CAdapter(const CAdapter&) = delete;
    CAdapter& operator=(const CAdapter&) = delete;

    // Discovery and opening.
    bool EnumerateAdapters(std::vector<AdapterEntry>& list);
    bool Open(int index, bool determineCardType);
    // The name the adapter of registry subkey `index` is opened by (its
    // device on Windows NT and later, its subkey on Windows 95): what tells
    // one card from another on this machine. "" when there is no such
    // adapter.
    std::string OpenName(int index);
    bool IsOpen() const { return m_hAdapter != kInvalidAdapter; }
    void Close();
    bool CheckNdisLibrary();
    void DetermineCardType();

    // Single requests.
    bool ReadRid(RidRecord& record, uint16_t rid);
    bool CheckDriverSupport();
    bool EnableAux();
    bool BlockProtocols(bool block);
    bool EndCardAccess();
    bool ReadAux(AuxRecord& record);
    bool WriteAux(AuxRecord& record);
    bool ReadPermanentAddress(uint8_t mac[6]);
    int32_t GetDriverVersion();

    // Firmware versions on the card; with `primary` and `station`, the
    // versions read go there too (left as they are when the read fails).
    bool GetFirmwareVersions(std::string& text, int index, CComponentVersion* primary = nullptr,
                             CComponentVersion* station = nullptr);
    bool GetFirmwareText(std::string& text);

    // Bulk transfers through the Aux Port. Without `force` a piece the card
    // already holds is not written: m_knownFlash answers for it when it can,
    // else the piece is read first.
    bool WriteAuxBlock(AuxRecord& record, bool force, bool verify);
    // What this run already read of the flash (the firmware backup): the
    // bytes the card holds at `address`, `count` of them, or null when that
    // piece is not known. Unset: nothing is known.
    std::function<const uint8_t*(uint32_t address, uint16_t count)> m_knownFlash;
    // Programs the image piece by piece. A stop request (StopRequested) is
    // looked at before every piece: the piece in flight is written, then
    // programming ends, false, with m_bStopped set.
    bool ProgramImage(CFirmwareImage& image, ProgressBar* progress, bool force, bool verify, bool askOnError);
    bool ReadCardPda(CPda& pda);
    // The PDA copy in flash ("NVRAM"), which a PDA write replaces: its raw
    // 1024 bytes into `record`. False when the read fails.
    bool ReadFlashPda(AuxRecord& record);
    // Writes the PDA; a stop request seen before the write leaves the card's
    // PDA as it is (false, with m_bStopped set).
    bool WriteCardPda(const CPda& pda, bool force, bool verify);

    uint16_t m_nCardType = 0;
    uint32_t m_dwPdaAddress = 0;
    // The requests sent to the driver since this was last cleared, by OID.
    std::map<uint32_t, uint32_t> m_requestsSent;
    // The card type could not be read and was assumed: reading goes on at
    // the assumed PDA address, but nothing may be written there.
    bool m_bCardTypeAssumed = false;
    // The last ProgramImage: its pieces, those written whole, and whether a
    // stop request ended it (or the last WriteCardPda).
    int m_nPieces = 0;
    int m_nPiecesWritten = 0;
    bool m_bStopped = false;

private:
    // The common request sequence: one request, its NDIS status.
    NdisStatus Request(uint32_t type, uint32_t oid, void* buffer, uint32_t length);
    // The adapter key of this system.
    std::string AdapterKey();
    void ReleaseEvent();
    MessageAnswer Show(const std::string& text, const std::string& caption, MessageIcon icon,
                       MessageButtons buttons = MessageButtons::Ok);

    NdisLibrary& m_library;
    Registry& m_registry;
    Host& m_host;
    AdapterHandle m_hAdapter = kInvalidAdapter;
    Overlapped m_overlapped;
};

// Loads a PDA copy's 512 words into `pda` (emptied first); true when it
// holds records and its CRC matches.
bool LoadPdaCopy(CPda& pda, const AuxRecord& record);

// A RID's firmware identity: payload words 1, 2, 3 are variant, major, minor.
CComponentVersion VersionFromRid(const RidRecord& record);

// A driver version as GetDriverVersion returns it, as text: the major
// number and the minor in hex, the build in decimal ("2.1a.7").
std::string DriverVersionText(int32_t version);

}  // namespace varnel

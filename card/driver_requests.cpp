// The single private requests to the card's driver. Each is one NDIS
// request; status 0 is the only success.

#include <cstring>

#include "card/adapter.h"

namespace varnel {

NdisStatus CAdapter::Request(uint32_t type, uint32_t oid, void* buffer, uint32_t length) {
    DriverRequest request;  // the reserved areas are left as they are
    request.requestType = type;
    request.oid = oid;
    request.buffer = length ? buffer : nullptr;
    request.bufferLength = length;
    request.bytesWritten = 0;
    request.bytesNeeded = 0;
    ++m_requestsSent[oid];
    return m_library.MakeNdisRequest(m_hAdapter, request, m_overlapped, 1);
}

bool CAdapter::ReadRid(RidRecord& record, uint16_t rid) {
    if (!IsOpen()) return false;
    record.rid = rid;
    record.length = 0;
    const NdisStatus status = Request(kNdisQuery, kOidReadRid, &record, sizeof record);
    return status == kNdisSuccess && record.length != 0;
}

bool CAdapter::CheckDriverSupport() {
    uint8_t buffer[8];
    buffer[0] = buffer[1] = 0;
    const NdisStatus status = Request(kNdisQuery, kOidCheckSupport, buffer, sizeof buffer);
    if (status == kNdisInvalidOid) {
        Show("Your current WLAN driver does not support this version of VarnelFlash. You may need to upgrade the "
             "driver.",
             "Incompatible Driver Error", MessageIcon::Warning);
        return false;
    }
    return status == kNdisSuccess;
}

bool CAdapter::EnableAux() { return Request(kNdisSet, kOidEnableAux, nullptr, 0) == kNdisSuccess; }

bool CAdapter::BlockProtocols(bool block) {
    return Request(kNdisSet, block ? kOidBlockProtocols : kOidUnblockProtocols, nullptr, 0) == kNdisSuccess;
}

bool CAdapter::EndCardAccess() { return Request(kNdisSet, kOidEndCardAccess, nullptr, 0) == kNdisSuccess; }

bool CAdapter::ReadAux(AuxRecord& record) {
    const uint32_t address = record.address;
    if (m_nCardType == kCardType1) record.address &= kType1AddressMask;  // the card ignores bits 17 and 18
    EnableAux();
    if (record.count > AuxRecord::kMaxData) record.count = AuxRecord::kMaxData;
    record.data[0] = 0xDE;
    record.data[1] = 0xAD;
    const NdisStatus status = Request(kNdisQuery, kOidReadAux, &record, record.count + 6u);
    if (m_nCardType == kCardType1) record.address = address;
    return status == kNdisSuccess;
}

bool CAdapter::WriteAux(AuxRecord& record) {
    // The record cannot hold more than 2042 bytes: a larger count is a
    // caller's fault, refused rather than cut.
    if (record.count > AuxRecord::kMaxData) return false;
    return Request(kNdisSet, kOidWriteAux, &record, record.count + 6u) == kNdisSuccess;
}

bool CAdapter::ReadPermanentAddress(uint8_t mac[6]) {
    return Request(kNdisQuery, kOidPermanentAddress, mac, 6) == kNdisSuccess;
}

int32_t CAdapter::GetDriverVersion() {
    uint32_t version = 0;
    if (Request(kNdisQuery, kOidDriverVersion, &version, sizeof version) != kNdisSuccess) return 0;
    return static_cast<int32_t>(version);
}

}  // namespace varnel

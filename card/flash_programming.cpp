// Bulk transfers through the Aux Port: programming the flash piece by
// piece, and reading and writing the card's PDA.

#include <cstdio>
#include <cstring>

#include "card/adapter.h"
#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "pda/pda.h"
#include "platform/stop_request.h"

namespace varnel {

namespace {

// The words of a PDA copy as the "Invalid PDA data:" message shows them.
std::string WordList(const AuxRecord& record) {
    std::string text;
    for (size_t i = 0; i < 128; ++i) {
        char word[8];
        std::snprintf(word, sizeof word, " %x", unsigned(record.data[2 * i] | record.data[2 * i + 1] << 8));
        text += word;
    }
    return text;
}

int LoadWords(CPda& pda, const AuxRecord& record) {
    uint16_t words[PdaMaxWords];
    for (size_t i = 0; i < PdaMaxWords; ++i)
        words[i] = static_cast<uint16_t>(record.data[2 * i] | record.data[2 * i + 1] << 8);
    pda.Clear();
    return pda.LoadFromWords(words, PdaMaxWords);
}

}  // namespace

bool LoadPdaCopy(CPda& pda, const AuxRecord& record) {
    return LoadWords(pda, record) > 0 && pda.InputCrc() == pda.StoredCrc();
}

bool CAdapter::WriteAuxBlock(AuxRecord& record, bool force, bool verify) {
    // The record holds at most 2042 data bytes; a larger count is refused
    // before anything is read, compared or sent.
    if (record.count > AuxRecord::kMaxData) return false;
    AuxRecord check{};
    if (!force) {
        const uint8_t* known = m_knownFlash ? m_knownFlash(record.address, record.count) : nullptr;
        if (known == nullptr) {
            check.address = record.address;
            check.count = record.count;
            if (!ReadAux(check)) return false;
            known = check.data;
        }
        if (std::memcmp(known, record.data, record.count) == 0) return true;  // already on the card
    }
    if (!WriteAux(record)) return false;
    if (verify) {
        check.address = record.address;
        check.count = record.count;
        if (!ReadAux(check) || std::memcmp(check.data, record.data, record.count) != 0) return false;
    }
    return true;
}

bool CAdapter::ProgramImage(CFirmwareImage& image, ProgressBar* progress, bool force, bool verify, bool askOnError) {
    m_nPieces = image.CountPieces(kPieceMax, kPieceBoundary);
    m_nPiecesWritten = 0;
    m_bStopped = false;
    // Only the flash takes image data: nothing at or above the record
    // ranges, nothing with the NVRAM select bit. Such an image is refused
    // whole, before its first request.
    for (uint16_t n = 1; n <= image.BlockCount(); ++n) {
        const CImageBlock& block = image.Block(n);
        if (block.address >= kImageAddressLimit || block.length > kImageAddressLimit - block.address) {
            char text[120];
            std::snprintf(text, sizeof text,
                          "The image holds data at %08X, outside the card's flash. Update not attempted.",
                          unsigned{block.address});
            Show(text, "Programming error.", MessageIcon::Error);
            return false;
        }
    }
    m_library.ResetEvent(m_overlapped.event);
    if (progress) {
        progress->SetRange(0, m_nPieces);
        progress->SetPosition(1);
        progress->SetPosition(0);
    }
    bool setUp = BlockProtocols(true);
    if (!setUp) {
        Show("Attempt to block protocols failed.", "Setup Error", MessageIcon::None);
    } else if (!EnableAux()) {
        Show("Enable Aux failed.", "Setup Error", MessageIcon::None);
        setUp = false;
    }
    if (!setUp) {
        Show("Update not attempted.", "Card Communication Failed", MessageIcon::None);
        return false;
    }

    image.Rewind();
    int pieces = 0;
    bool error = false;
    AuxRecord record{};
    uint32_t address;
    uint16_t length;
    while (image.ReadNext(record.data, address, length, kPieceMax, kPieceBoundary)) {
        // A stop asked for while the last piece was written ends the
        // programming here, between two pieces.
        if (StopRequested()) {
            m_bStopped = true;
            error = true;
            break;
        }
        record.address = address;
        record.count = length;
        ++pieces;
        if (!WriteAuxBlock(record, force, verify)) {
            error = true;
            bool goOn = false;
            if (askOnError)
                goOn = Show("Error programming block. Continue anyway?", "Programming error.", MessageIcon::None,
                            MessageButtons::YesNo) == MessageAnswer::Yes;
            if (!goOn) break;
        } else {
            ++m_nPiecesWritten;
        }
        if (progress) progress->SetPosition(pieces);
    }
    return !error;
}

bool CAdapter::ReadCardPda(CPda& pda) {
    AuxRecord ram{};
    ram.address = m_dwPdaAddress;
    ram.count = kPdaBytes;
    AuxRecord nvram{};
    nvram.address = m_dwPdaAddress | kNvramBit;
    nvram.count = kPdaBytes;
    bool haveNvram = false;

    if (!ReadAux(ram)) return false;
    int processed = LoadWords(pda, ram);
    if (processed <= 0) {
        ReadAux(nvram);
        haveNvram = true;
        processed = LoadWords(pda, nvram);
    }
    if (processed > 0 && pda.InputCrc() == pda.StoredCrc()) return true;

    // Show both copies; when the RAM copy loaded but failed its check, the
    // NVRAM copy is read now for the message (the PDA keeps the RAM copy).
    if (!haveNvram && !ReadAux(nvram)) std::memset(nvram.data, 0xFF, kPdaBytes);
    Show(" From RAM:\r\n" + WordList(ram) + "\r\n From NVRAM:\r\n" + WordList(nvram),
         "Invalid PDA data:", MessageIcon::None);
    return false;
}

bool CAdapter::ReadFlashPda(AuxRecord& record) {
    record = AuxRecord{};
    record.address = m_dwPdaAddress | kNvramBit;
    record.count = kPdaBytes;
    return ReadAux(record);
}

bool CAdapter::WriteCardPda(const CPda& pda, bool force, bool verify) {
    AuxRecord record{};
    record.address = m_dwPdaAddress;
    const std::vector<uint16_t> words = pda.ToWords();
    // A PDA that does not fit is never written, not even as an empty record.
    if (words.empty()) return false;
    for (size_t i = 0; i < words.size(); ++i) {
        record.data[2 * i] = static_cast<uint8_t>(words[i]);
        record.data[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
    }
    record.count = static_cast<uint16_t>(2 * words.size());
    m_bStopped = false;
    m_library.ResetEvent(m_overlapped.event);
    BlockProtocols(true);
    CheckDriverSupport();
    EnableAux();
    // A stop asked for while the card was made ready: the PDA stays as it is.
    if (StopRequested()) {
        m_bStopped = true;
        return false;
    }
    const bool result = WriteAuxBlock(record, force, verify);
    CheckDriverSupport();
    return result;
}

}  // namespace varnel

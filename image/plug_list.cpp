#include "image/plug_list.h"

namespace varnel {

int CPlugList::Add(uint32_t code, uint32_t address, uint16_t length) {
    const CPlugRecord record{code, address, length};
    auto found = m_records.find(address);
    if (found != m_records.end()) {
        found->second = record;
        return 0;
    }
    const bool atEnd = !m_records.empty() && m_records.rbegin()->first < address;
    m_records.emplace(address, record);
    return atEnd ? 2 : 1;
}

void CPlugList::Clear() {
    m_records.clear();
    m_cursor = m_records.end();
}

void CPlugList::Rewind() { m_cursor = m_records.begin(); }

const CPlugRecord* CPlugList::Next() {
    if (m_cursor == m_records.end()) return nullptr;
    return &(m_cursor++)->second;
}

}  // namespace varnel

#include "backend_win32/registry.h"

#include <vector>

#include "backend_win32/access_library_abi.h"

namespace varnel::win32 {

namespace {

// An open key, closed when it goes.
class Key {
public:
    Key(RegistryHive hive, const std::string& path) {
        HKEY root = hive == RegistryHive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &m_key) != ERROR_SUCCESS) m_key = nullptr;
    }
    ~Key() {
        if (m_key) ::RegCloseKey(m_key);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

}  // namespace

bool Win32Registry::KeyExists(RegistryHive hive, const std::string& key) { return Key(hive, key).Get() != nullptr; }

std::optional<std::string> Win32Registry::SubkeyName(RegistryHive hive, const std::string& key, uint32_t index) {
    const Key open(hive, key);
    if (!open.Get()) return std::nullopt;
    char name[256];  // the longest key name the registry allows, and its NUL
    DWORD length = sizeof name;
    if (::RegEnumKeyExA(open.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return std::nullopt;
    return std::string(name, length);
}

std::optional<std::string> Win32Registry::StringValue(RegistryHive hive, const std::string& key,
                                                      const std::string& name) {
    const Key open(hive, key);
    if (!open.Get()) return std::nullopt;
    for (int attempt = 0; attempt < 3; ++attempt) {  // the value may grow between the two calls
        DWORD type = 0;
        DWORD size = 0;
        if (::RegQueryValueExA(open.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return std::nullopt;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
        std::vector<char> data(size + 1, '\0');
        DWORD got = size;
        const LONG result =
            ::RegQueryValueExA(open.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
        if (result == ERROR_MORE_DATA) continue;
        if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
        // A stored string need not end in NUL; it ends at the first one.
        const std::string text(data.data(), got);
        return text.substr(0, text.find('\0'));
    }
    return std::nullopt;
}

}  // namespace varnel::win32

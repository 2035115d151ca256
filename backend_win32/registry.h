#pragma once
// Registry over the Win32 registry, read only. A 32-bit program reads the
// 32-bit view of HKEY_LOCAL_MACHINE\Software on 64-bit Windows.

#include "platform/registry.h"

namespace varnel::win32 {

class Win32Registry final : public Registry {
public:
    bool KeyExists(RegistryHive hive, const std::string& key) override;
    std::optional<std::string> SubkeyName(RegistryHive hive, const std::string& key, uint32_t index) override;
    std::optional<std::string> StringValue(RegistryHive hive, const std::string& key, const std::string& name) override;
};

}  // namespace varnel::win32

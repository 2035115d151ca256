#pragma once
// The registry, read only: keys, subkey enumeration, string values.

#include <cstdint>
#include <optional>
#include <string>

namespace varnel {

enum class RegistryHive { LocalMachine, CurrentUser };

class Registry {
public:
    virtual ~Registry() = default;

    virtual bool KeyExists(RegistryHive hive, const std::string& key) = 0;
    // The name of subkey `index` of `key`, or nothing past the last one.
    virtual std::optional<std::string> SubkeyName(RegistryHive hive, const std::string& key, uint32_t index) = 0;
    // A string value, or nothing when the key or the value is missing.
    virtual std::optional<std::string> StringValue(RegistryHive hive, const std::string& key,
                                                   const std::string& name) = 0;
};

}  // namespace varnel

// A registry held in memory, for native tests. It answers like the Win32
// registry as the service object reads it: paths are relative to
// HKEY_LOCAL_MACHINE and backslash-separated, key and value names compare
// without regard to letter case, values enumerate in the order they were
// first set, and the Win32 adapter's limits hold (value names up to 127
// characters, data up to 1024 bytes, a string counting its terminator).
//
// Lifecycle: an opened key stays usable after the view changes; it sees later
// values, and reads fail once the key has been deleted.
// Concurrency: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "seams/RegistryView.h"

namespace norvik {

class InMemoryRegistryView final : public RegistryView {
public:
    InMemoryRegistryView();
    ~InMemoryRegistryView() override;
    InMemoryRegistryView(const InMemoryRegistryView&) = delete;
    InMemoryRegistryView& operator=(const InMemoryRegistryView&) = delete;

    // Creates the key and its missing parents; an existing key is kept.
    void CreateKey(const std::string& path);
    // Set a value, creating the key when needed. Replacing a value keeps its
    // place in the enumeration order.
    void SetString(const std::string& path, const std::string& name, const std::string& data);
    void SetDword(const std::string& path, const std::string& name, uint32_t data);
    // A value of any other type (REG_BINARY, REG_MULTI_SZ, ...), read as Other.
    void SetBinary(const std::string& path, const std::string& name, const std::vector<uint8_t>& data);
    // Deletes the key with its values and subkeys; false when there is none.
    bool DeleteKey(const std::string& path);
    bool DeleteValue(const std::string& path, const std::string& name);
    // Empties the whole view.
    void Clear();

    std::unique_ptr<RegistryKey> OpenKeyForRead(const std::string& path) override;

    struct State;  // shared with the keys it opened

private:
    std::shared_ptr<State> state_;
};

}  // namespace norvik

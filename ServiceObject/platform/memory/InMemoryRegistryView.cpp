#include "platform/memory/InMemoryRegistryView.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <string_view>

namespace norvik {
namespace {

// The limits of the Win32 adapter's buffers, so that native tests meet them too.
constexpr size_t kMaxValueNameLength = 127;
constexpr size_t kMaxValueDataSize = 1024;

std::string Folded(std::string_view text) {
    std::string folded(text);
    std::transform(folded.begin(), folded.end(), folded.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return folded;
}

std::vector<std::string> PathComponents(const std::string& path) {
    std::vector<std::string> components;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) components.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return components;
}

struct StoredValue {
    std::string name;
    RegistryValue value;
    size_t dataSize = 0;  // as the registry would report it
};

struct Node {
    std::vector<StoredValue> values;
    std::map<std::string, std::shared_ptr<Node>> children;  // by folded name
    bool deleted = false;

    StoredValue* FindValue(const std::string& name) {
        const std::string folded = Folded(name);
        for (StoredValue& stored : values) {
            if (Folded(stored.name) == folded) return &stored;
        }
        return nullptr;
    }

    void MarkDeleted() {
        deleted = true;
        for (auto& child : children) child.second->MarkDeleted();
    }
};

}  // namespace

struct InMemoryRegistryView::State {
    std::mutex mutex;
    std::shared_ptr<Node> root = std::make_shared<Node>();

    // Caller holds `mutex`.
    std::shared_ptr<Node> Find(const std::string& path) {
        std::shared_ptr<Node> node = root;
        for (const std::string& component : PathComponents(path)) {
            auto child = node->children.find(Folded(component));
            if (child == node->children.end()) return nullptr;
            node = child->second;
        }
        return node;
    }

    // Caller holds `mutex`.
    std::shared_ptr<Node> FindOrCreate(const std::string& path) {
        std::shared_ptr<Node> node = root;
        for (const std::string& component : PathComponents(path)) {
            std::shared_ptr<Node>& child = node->children[Folded(component)];
            if (!child) child = std::make_shared<Node>();
            node = child;
        }
        return node;
    }

    void Set(const std::string& path, const std::string& name, const RegistryValue& value, size_t dataSize) {
        std::lock_guard<std::mutex> lock(mutex);
        std::shared_ptr<Node> node = FindOrCreate(path);
        if (StoredValue* existing = node->FindValue(name)) {
            existing->value = value;
            existing->dataSize = dataSize;
        } else {
            node->values.push_back(StoredValue{name, value, dataSize});
        }
    }
};

namespace {

class InMemoryKey final : public RegistryKey {
public:
    InMemoryKey(std::shared_ptr<InMemoryRegistryView::State> state, std::shared_ptr<Node> node)
        : state_(std::move(state)), node_(std::move(node)) {}

    ValueNameStatus EnumValueName(uint32_t index, std::string& name) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (node_->deleted || index >= node_->values.size()) return ValueNameStatus::End;
        const std::string& stored = node_->values[index].name;
        if (stored.size() > kMaxValueNameLength) return ValueNameStatus::TooLong;
        name = stored;
        return ValueNameStatus::Found;
    }

    bool QueryValue(const std::string& name, RegistryValue& value) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (node_->deleted) return false;
        const StoredValue* stored = node_->FindValue(name);
        if (stored == nullptr || stored->dataSize > kMaxValueDataSize) return false;
        value = stored->value;
        return true;
    }

private:
    std::shared_ptr<InMemoryRegistryView::State> state_;
    std::shared_ptr<Node> node_;
};

}  // namespace

InMemoryRegistryView::InMemoryRegistryView() : state_(std::make_shared<State>()) {}
InMemoryRegistryView::~InMemoryRegistryView() = default;

void InMemoryRegistryView::CreateKey(const std::string& path) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->FindOrCreate(path);
}

void InMemoryRegistryView::SetString(const std::string& path, const std::string& name, const std::string& data) {
    RegistryValue value;
    value.type = RegistryValueType::String;
    value.text = data.substr(0, data.find('\0'));
    state_->Set(path, name, value, data.size() + 1);
}

void InMemoryRegistryView::SetDword(const std::string& path, const std::string& name, uint32_t data) {
    RegistryValue value;
    value.type = RegistryValueType::Dword;
    value.number = data;
    state_->Set(path, name, value, sizeof data);
}

void InMemoryRegistryView::SetBinary(const std::string& path, const std::string& name,
                                     const std::vector<uint8_t>& data) {
    RegistryValue value;
    value.type = RegistryValueType::Other;
    state_->Set(path, name, value, data.size());
}

bool InMemoryRegistryView::DeleteKey(const std::string& path) {
    std::vector<std::string> components = PathComponents(path);
    if (components.empty()) return false;
    const std::string leaf = Folded(components.back());
    components.pop_back();

    std::lock_guard<std::mutex> lock(state_->mutex);
    std::shared_ptr<Node> parent = state_->root;
    for (const std::string& component : components) {
        auto child = parent->children.find(Folded(component));
        if (child == parent->children.end()) return false;
        parent = child->second;
    }
    auto doomed = parent->children.find(leaf);
    if (doomed == parent->children.end()) return false;
    doomed->second->MarkDeleted();
    parent->children.erase(doomed);
    return true;
}

bool InMemoryRegistryView::DeleteValue(const std::string& path, const std::string& name) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::shared_ptr<Node> node = state_->Find(path);
    if (!node) return false;
    const std::string folded = Folded(name);
    auto doomed = std::find_if(node->values.begin(), node->values.end(),
                               [&](const StoredValue& stored) { return Folded(stored.name) == folded; });
    if (doomed == node->values.end()) return false;
    node->values.erase(doomed);
    return true;
}

void InMemoryRegistryView::Clear() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->root->MarkDeleted();
    state_->root = std::make_shared<Node>();
}

std::unique_ptr<RegistryKey> InMemoryRegistryView::OpenKeyForRead(const std::string& path) {
    std::shared_ptr<Node> node;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        node = state_->Find(path);
    }
    if (!node) return nullptr;
    return std::make_unique<InMemoryKey>(state_, std::move(node));
}

}  // namespace norvik

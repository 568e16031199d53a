#pragma once
// The keyed collection every table of both servers is built on: members carry a numeric id,
// an optional name and a payload, kept in insertion order.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

template <class T>
class KeyedList {
  public:
    struct Node {
        int32_t id = 0;
        std::optional<std::string> name;
        T data{};
    };
    using iterator = typename std::list<Node>::iterator;
    using const_iterator = typename std::list<Node>::const_iterator;

    explicit KeyedList(std::string listName = {}) : listName_(std::move(listName)) {}

    const std::string& ListName() const { return listName_; }

    // Appends at the tail.
    Node& Create(int32_t id, std::optional<std::string> name, T data = T{}) {
        nodes_.push_back(Node{id, std::move(name), std::move(data)});
        return nodes_.back();
    }

    // Id search walks from the tail and stops at the first member with id 0.
    Node* FindId(int32_t id) {
        for (auto it = nodes_.rbegin(); it != nodes_.rend(); ++it) {
            if (it->id == id) return &*it;
            if (it->id == 0) return nullptr;
        }
        return nullptr;
    }

    // Name search walks from the head; members without a name are skipped.
    Node* FindName(std::string_view name, bool ignoreCase) {
        for (auto& n : nodes_) {
            if (!n.name) continue;
            const std::string& s = *n.name;
            if (s.empty() != name.empty()) continue;
            if (!s.empty() && std::toupper(static_cast<unsigned char>(s[0])) !=
                                  std::toupper(static_cast<unsigned char>(name[0])))
                continue;
            if (Equal(s, name, ignoreCase)) return &n;
        }
        return nullptr;
    }

    size_t Count() const { return nodes_.size(); }
    bool Empty() const { return nodes_.empty(); }

    uint32_t MaxId() const {
        uint32_t m = 0;
        for (const auto& n : nodes_) m = std::max(m, static_cast<uint32_t>(n.id));
        return m;
    }

    // Removes the member that `node` points at; false when it is not in this list.
    bool Release(const Node* node) {
        for (auto it = nodes_.begin(); it != nodes_.end(); ++it)
            if (&*it == node) {
                nodes_.erase(it);
                return true;
            }
        return false;
    }
    iterator Erase(iterator it) { return nodes_.erase(it); }
    void Clear() { nodes_.clear(); }

    iterator begin() { return nodes_.begin(); }
    iterator end() { return nodes_.end(); }
    const_iterator begin() const { return nodes_.begin(); }
    const_iterator end() const { return nodes_.end(); }

  private:
    static bool Equal(std::string_view a, std::string_view b, bool ignoreCase) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i) {
            unsigned char x = a[i], y = b[i];
            if (ignoreCase ? std::tolower(x) != std::tolower(y) : x != y) return false;
        }
        return true;
    }

    std::string listName_;
    std::list<Node> nodes_;
};

}  // namespace orvex

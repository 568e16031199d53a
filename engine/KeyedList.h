#pragma once
// The keyed collection every table of both servers is built on: members carry a numeric id,
// an optional name and a payload, kept in insertion order. Ids and names are indexed, so a
// lookup costs the same whatever the table's size; keys are fixed once a member exists (a
// rename goes through the list), so the indexes can never disagree with the members.

#include <cctype>
#include <cstdint>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace orvex {

template <class T>
class KeyedList {
  public:
    struct Node {
        Node(int32_t i, std::optional<std::string> n, T d, uint64_t order)
            : id(i), name(std::move(n)), data(std::move(d)), order_(order) {}
        const int32_t id;
        const std::optional<std::string> name;
        T data;

      private:
        friend class KeyedList;
        uint64_t order_;  // grows with every insertion: list order without walking the list
    };
    using iterator = typename std::list<Node>::iterator;
    using const_iterator = typename std::list<Node>::const_iterator;

    explicit KeyedList(std::string listName = {}) : listName_(std::move(listName)) {}
    KeyedList(const KeyedList& other) : listName_(other.listName_) { CopyMembers(other); }
    KeyedList& operator=(const KeyedList& other) {
        if (this != &other) {
            Clear();
            listName_ = other.listName_;
            CopyMembers(other);
        }
        return *this;
    }
    // Moving a std::list keeps its iterators valid, so the indexes move along.
    KeyedList(KeyedList&&) noexcept = default;
    KeyedList& operator=(KeyedList&&) noexcept = default;

    const std::string& ListName() const { return listName_; }

    // Appends at the tail.
    Node& Create(int32_t id, std::optional<std::string> name, T data = T{}) {
        nodes_.emplace_back(id, std::move(name), std::move(data), nextOrder_++);
        AddToIndexes(std::prev(nodes_.end()));
        return nodes_.back();
    }

    // The last member with this id, unless a member with id 0 stands after it (id 0 ends a
    // search from the tail).
    Node* FindId(int32_t id) {
        const Node* found = LastWithId(id);
        if (!found) return nullptr;
        if (id != 0) {
            const Node* barrier = LastWithId(0);
            if (barrier && barrier->order_ > found->order_) return nullptr;
        }
        return const_cast<Node*>(found);
    }

    // The first member with this id in list order, wherever members with id 0 stand.
    Node* FindFirstId(int32_t id) {
        auto bucket = byId_.find(static_cast<uint32_t>(id));
        return bucket == byId_.end() ? nullptr : &*bucket->second.begin()->second;
    }

    // The first named member, in list order, whose name matches.
    Node* FindName(std::string_view name, bool ignoreCase) {
        Node* hit = nullptr;
        ForEachNamed(name, ignoreCase, [&](Node& n) {
            hit = &n;
            return false;
        });
        return hit;
    }

    // Calls fn(Node&) for every member with a matching name, in list order, while it returns
    // true (or returns nothing). fn must not add or remove members.
    template <class F>
    void ForEachNamed(std::string_view name, bool ignoreCase, F&& fn) {
        auto bucket = byName_.find(Fold(name));
        if (bucket == byName_.end()) return;
        for (auto& [order, it] : bucket->second) {
            if (!ignoreCase && *it->name != name) continue;
            if constexpr (std::is_void_v<decltype(fn(*it))>) {
                fn(*it);
            } else if (!fn(*it)) {
                return;
            }
        }
    }

    size_t Count() const { return nodes_.size(); }
    bool Empty() const { return nodes_.empty(); }

    // Ids compared as unsigned numbers.
    uint32_t MaxId() const { return byId_.empty() ? 0 : byId_.rbegin()->first; }

    // Removes the member that `node` points at; false when it is not in this list.
    bool Release(const Node* node) {
        auto at = byAddress_.find(node);
        if (at == byAddress_.end()) return false;
        Erase(at->second);
        return true;
    }
    iterator Erase(iterator it) {
        RemoveFromIndexes(it);
        return nodes_.erase(it);
    }
    // Gives a member new keys in its place in the list; the node returned replaces `node`.
    Node* Rekey(const Node* node, int32_t id, std::optional<std::string> name) {
        auto at = byAddress_.find(node);
        if (at == byAddress_.end()) return nullptr;
        iterator old = at->second;
        auto fresh = nodes_.emplace(old, id, std::move(name), std::move(old->data), old->order_);
        Erase(old);
        AddToIndexes(fresh);
        return &*fresh;
    }
    void Clear() {
        nodes_.clear();
        byAddress_.clear();
        byId_.clear();
        byName_.clear();
    }

    iterator begin() { return nodes_.begin(); }
    iterator end() { return nodes_.end(); }
    const_iterator begin() const { return nodes_.begin(); }
    const_iterator end() const { return nodes_.end(); }

  private:
    using Ordered = std::map<uint64_t, iterator>;

    static std::string Fold(std::string_view s) {
        std::string out(s);
        for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return out;
    }

    const Node* LastWithId(int32_t id) const {
        auto bucket = byId_.find(static_cast<uint32_t>(id));
        if (bucket == byId_.end()) return nullptr;
        return &*bucket->second.rbegin()->second;
    }

    void AddToIndexes(iterator it) {
        byAddress_.emplace(&*it, it);
        byId_[static_cast<uint32_t>(it->id)].emplace(it->order_, it);
        if (it->name) byName_[Fold(*it->name)].emplace(it->order_, it);
    }

    void RemoveFromIndexes(iterator it) {
        byAddress_.erase(&*it);
        DropFrom(byId_, static_cast<uint32_t>(it->id), it->order_);
        if (it->name) DropFrom(byName_, Fold(*it->name), it->order_);
    }

    template <class Index, class Key>
    static void DropFrom(Index& index, const Key& key, uint64_t order) {
        auto bucket = index.find(key);
        if (bucket == index.end()) return;
        bucket->second.erase(order);
        if (bucket->second.empty()) index.erase(bucket);
    }

    void CopyMembers(const KeyedList& other) {
        for (const auto& n : other.nodes_) Create(n.id, n.name, n.data);
    }

    std::string listName_;
    std::list<Node> nodes_;
    uint64_t nextOrder_ = 0;
    std::unordered_map<const Node*, iterator> byAddress_;
    std::map<uint32_t, Ordered> byId_;
    std::unordered_map<std::string, Ordered> byName_;
};

}  // namespace orvex

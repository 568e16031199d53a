// Whether the symbolic links on a path keep it below its root. Every client path is checked here
// (through Resolve) before the system sees it.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/FileUtil.h"
#include "engine/FileUtilOs.h"

namespace orvex::FileUtil {

namespace {

constexpr int kMaxLinks = 40;  // as many as the system itself follows

// The components of a Linux path, "" and "." left out, ".." kept.
std::vector<std::string> Components(std::string_view path) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string_view::npos) j = path.size();
        std::string_view c = path.substr(i, j - i);
        if (!c.empty() && c != ".") out.emplace_back(c);
        i = j + 1;
    }
    return out;
}

// The directories walked so far, the root first; each is an O_PATH descriptor owned here.
class Walk {
  public:
    explicit Walk(int root) { dirs_.push_back(root); }
    ~Walk() {
        for (int fd : dirs_) close(fd);
    }
    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;
    int Here() const { return dirs_.back(); }
    bool AtRoot() const { return dirs_.size() == 1; }
    void Enter(int fd) { dirs_.push_back(fd); }
    void Up() {
        close(dirs_.back());
        dirs_.pop_back();
    }
    void BackToRoot() {
        while (!AtRoot()) Up();
    }

  private:
    std::vector<int> dirs_;
};

// An absolute link target below the root: the components after the root's real path; false when
// it points elsewhere.
bool BelowRoot(const std::string& rootOs, const std::vector<std::string>& target,
               std::vector<std::string>& rest) {
    char* real = realpath(rootOs.c_str(), nullptr);
    if (!real) return false;
    const std::vector<std::string> root = Components(real);
    free(real);
    if (target.size() < root.size() || !std::equal(root.begin(), root.end(), target.begin()))
        return false;
    rest.assign(target.begin() + static_cast<long>(root.size()), target.end());
    return true;
}

}  // namespace

bool StaysUnder(std::string_view root, std::string_view path) {
    if (root.empty()) return true;
    if (path.size() < root.size() || path.compare(0, root.size(), root) != 0) return false;
    const std::string rootOs = OsPath(root);
    // Pending components in reverse order: the next one is at the back.
    std::vector<std::string> todo = Components(Slashed(path.substr(root.size())));
    if (todo.empty()) return true;
    std::reverse(todo.begin(), todo.end());
    const int rootFd = open(rootOs.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    // Nothing below a root that cannot be opened can be reached either.
    if (rootFd < 0) return true;
    Walk walk(rootFd);
    int links = 0;
    while (!todo.empty()) {
        const std::string name = std::move(todo.back());
        todo.pop_back();
        if (name == "..") {
            if (walk.AtRoot()) return false;
            walk.Up();
            continue;
        }
        struct stat st {};
        // Missing or unreadable: the walk ends here, and so would the system's.
        if (fstatat(walk.Here(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
        if (S_ISLNK(st.st_mode)) {
            if (++links > kMaxLinks) return false;
            // On the heap: every session thread walks here, and its stack should stay small.
            std::string target(PATH_MAX, '\0');
            const ssize_t n = readlinkat(walk.Here(), name.c_str(), target.data(), target.size());
            if (n <= 0 || static_cast<size_t>(n) >= target.size()) return false;
            target.resize(static_cast<size_t>(n));
            std::vector<std::string> parts = Components(target);
            if (target[0] == '/') {
                std::vector<std::string> rest;
                if (!BelowRoot(rootOs, parts, rest)) return false;
                walk.BackToRoot();
                parts = std::move(rest);
            }
            todo.insert(todo.end(), parts.rbegin(), parts.rend());
            continue;
        }
        if (!S_ISDIR(st.st_mode)) return true;  // nothing can lie below a file
        const int fd =
            openat(walk.Here(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return true;
        walk.Enter(fd);
    }
    return true;
}

}  // namespace orvex::FileUtil

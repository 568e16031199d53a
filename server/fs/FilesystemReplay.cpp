// Changes read back from the journal at start-up. Each sets a record to the values it had or
// removes records, so playing a change again over a state that already holds it changes nothing.

#include <algorithm>

#include "engine/FileUtil.h"
#include "server/fs/Filesystem.h"

namespace orvex {

namespace {

uint32_t U32(const std::string& field) {
    return static_cast<uint32_t>(JournalFormat::Unsigned(field).value_or(0));
}

int32_t I32(const std::string& field) {
    return static_cast<int32_t>(JournalFormat::Signed(field).value_or(0));
}

}  // namespace

void Filesystem::Replay(const JournalFormat::Entry& e) {
    const std::vector<std::string>& f = e.fields;
    switch (e.kind) {
        case 'D':
            SetDirectoryAs(f[0], f[2].c_str(), U32(f[3]), U32(f[4]), I32(f[5]), I32(f[6]),
                           I32(f[7]), true, I32(f[1]));
            break;
        case 'F': {
            FileRecord values;
            const std::string dir = FileUtil::DirName(f[0]);
            if (dir.empty() || dir.size() >= f[0].size()) break;
            values.name = f[0].substr(dir.size());
            values.permissions = f[1].substr(0, kModeMax);
            values.owner = U32(f[2]);
            values.group = U32(f[3]);
            values.size = JournalFormat::Unsigned(f[4]).value_or(0);
            values.free = U32(f[5]);
            values.earnedRatio = I32(f[6]);
            if (static_cast<int32_t>(values.owner) <= 0) break;
            SetDirectory(dir, kUnknownDirectoryMode, values.owner, values.group, -1, 0, 0, false);
            PutFile(dir, values);
            break;
        }
        case 'd':
            DeleteDirectories(f[0]);
            break;
        case 'X': {
            LockGuard g(directoryLock_);
            if (Entry* entry = FindLocked(f[0])) MarkDeletedLocked(*entry);
            break;
        }
        case 'f':
            DeleteFileRecord(f[0]);
            break;
        case 'E': {
            LockGuard g(directoryLock_);
            Entry* entry = FindLocked(f[0]);
            if (!entry) break;
            for (FileRecord& file : entry->files.records) {
                file.deleted = true;
                file.changed = true;
            }
            MarkFilesDirtyLocked(*entry);
            break;
        }
        case 'M':
            MoveDirectories(f[0], f[1]);
            break;
        case 'A':
            dupes_.Add(U32(f[1]), "\\" + f[0], std::max<int64_t>(1, U32(f[2])));
            break;
        case 'R':
            dupes_.RemoveMatching("\\" + f[0]);
            break;
        case 'r':
            dupes_.RemoveName("\\" + f[0]);
            break;
        default:
            break;
    }
}

}  // namespace orvex

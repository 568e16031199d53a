#pragma once
// The journal of the filesystem records: every change is appended to fs/orvex.journal before
// the command that made it is answered, start-up replays it over what the filesystem files
// hold, and each write-back folds it into those files. A write-back first moves the journal
// aside to fs/orvex.journal.fold, so changes made while it writes go to a fresh journal; once
// every other file is written it marks the fold file with the digest of the orvex.fs it is about
// to write, and removes the fold file when done. A start-up that finds a fold file replays it
// unless orvex.fs already is the marked one.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "server/app/SiteConfigRecord.h"
#include "server/fs/JournalFormat.h"

namespace orvex {

class ServerSite;

class FsJournal {
  public:
    explicit FsJournal(ServerSite& site);
    ~FsJournal();
    FsJournal(const FsJournal&) = delete;
    FsJournal& operator=(const FsJournal&) = delete;

    // Start-up, before Open: the changes the files do not hold yet, in order. `tableDigest` is
    // the digest of the orvex.fs just loaded. Cut-short and unreadable entries are left out with
    // a warning, and the journal is rewritten without them.
    std::vector<JournalFormat::Entry> Recover(uint64_t tableDigest);
    // Starts appending (and, once a second, flushing). False: changes are not journaled.
    bool Open();
    // One change; nothing while the journal is not open.
    void Append(char kind, const std::vector<std::string_view>& fields);

    // Write-back, with the record locks held: the journal so far becomes part of the fold file
    // and an empty one takes its place. False when no journal is open.
    bool BeginFold();
    // Every file but orvex.fs is written; orvex.fs will have `digest`. False: not on disk.
    bool SealFold(uint64_t digest);
    // orvex.fs is written too: the fold file goes.
    void EndFold();

  private:
    std::string JournalPath() const;
    std::string FoldPath() const;
    void Warn(const JournalFormat::Read& read, const std::string& path);
    int OpenJournalLocked(bool truncate);
    void FlushEverySecond();
    void SyncFolder();

    ServerSite& site_;
    std::mutex mutex_;  // one writer at a time; guards everything below
    int fd_ = -1;
    uint64_t nextSeq_ = 1;
    bool unflushed_ = false;
    bool failedWrite_ = false;
    JournalSync mode_ = JournalSync::Second;
    bool stop_ = false;
    std::condition_variable wake_;
    std::thread flusher_;
};

}  // namespace orvex

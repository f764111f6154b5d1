#pragma once

#include "Models/IconArrangement.hpp"
#include "stashbay/runtime/Executor.hpp"
#include "stashbay/runtime/Task.hpp"

#include <filesystem>
#include <optional>

namespace stashbay {

// Keeps the user's arrangement in "<Application Support>/app.stashbay.Stashbay/arrangement.json"
// and the last arrangement read or written in memory. An actor: every operation runs on the
// store's own serial executor, so calls never interleave inside an operation.
//
// The store must outlive the tasks it hands out; its owner awaits them.
class ArrangementStore {
public:
    // Creates the folder (failures are ignored: a later save reports its own error).
    ArrangementStore();
    ArrangementStore(const ArrangementStore&) = delete;
    ArrangementStore& operator=(const ArrangementStore&) = delete;

    // The cached arrangement, else the decoded file, else (no file) the empty arrangement,
    // which is not cached. Throws the read error (ns::Error; also for a file over 4 MiB, refused
    // unread) or a DecodingError; caches nothing then and leaves the file alone.
    runtime::Task<IconArrangement> load();
    // Writes the file atomically (through a symbolic link to a regular file, keeping the file's
    // mode) and caches the arrangement. After a failed load the file that could not be read is
    // first moved aside to "arrangement.json.unreadable-<date>" and the move logged once the new
    // file is written; a failed move throws and nothing is written, and a failed write puts the
    // kept file back. Throws EncodingError or the write error (ns::Error, saying why), keeping
    // the previous cache and file.
    runtime::Task<void> save(IconArrangement arrangement);
    // Forgets the cache and deletes the file, if any. Throws the deletion error.
    runtime::Task<void> clear();
    // Forgets the cache only; the next load reads the file.
    runtime::Task<void> invalidateCache();

private:
    void putBack(const std::filesystem::path& kept);

    runtime::SerialExecutor executor_{"ArrangementStore"};
    // Absent when the user has no Application Support folder: nothing is read or written then.
    std::optional<std::filesystem::path> fileURL_;
    std::optional<IconArrangement> cachedArrangement_;
    // The last load failed on a file that is still the person's: keep it before saving over it.
    bool unreadableFileOnDisk_ = false;
};

}  // namespace stashbay

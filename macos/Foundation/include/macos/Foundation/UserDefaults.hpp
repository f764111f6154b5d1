#pragma once

#include "macos/CoreFoundation/Value.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ns {

namespace detail {
struct DefaultsObservers;
}

// A key-value observation of one user-defaults key. Destroying it, or invalidate(), ends it; it
// is harmless after the defaults it observed were reset.
class KeyValueObservation {
public:
    KeyValueObservation() = default;
    KeyValueObservation(std::weak_ptr<detail::DefaultsObservers> observers, std::uint64_t id)
        : observers_(std::move(observers)), id_(id) {}
    KeyValueObservation(KeyValueObservation&& other) noexcept { *this = std::move(other); }
    KeyValueObservation& operator=(KeyValueObservation&& other) noexcept;
    KeyValueObservation(const KeyValueObservation&) = delete;
    KeyValueObservation& operator=(const KeyValueObservation&) = delete;
    ~KeyValueObservation() { invalidate(); }

    void invalidate();

private:
    std::weak_ptr<detail::DefaultsObservers> observers_;
    std::uint64_t id_ = 0;
};

// The app's user defaults: one domain of property-list values by key, with the platform's
// readings, written through to a JSON file (or kept in memory only).
//
// The file is "defaults.json" under $XDG_CONFIG_HOME/app.stashbay.Stashbay/ (else
// ~/.config/app.stashbay.Stashbay/). It is one JSON object whose members are the keys; integers
// are written without and reals with a decimal point, so that the two stay apart. A file that is
// missing starts the defaults empty; so does one that cannot be read, is over 4 MiB (refused
// unread) or is not such an object, which is logged (persistence, error). The first write reads
// it again: if it can be read now, its values are taken with this run's writes over them;
// otherwise it is moved aside to "defaults.json.unreadable-<date>" before it is replaced (see
// FileManager::moveAside). A member the reader cannot take is left out: null (also inside arrays
// and dictionaries), or a value nested more than 64 levels deep; an integer beyond the signed
// 64-bit range reads as a real. A file holding any of these is moved aside to
// "defaults.json.original-<date>" before the first write replaces it. A real that is not finite
// has no JSON form: it lives in memory and is left out of the file.
//
// A failed write keeps the values in memory and the old file whole (a file moved aside for it is
// put back), and the next write tries again. The first failure is logged (persistence, error)
// with the file and the reason the system gave, and so is a failure for another reason; the same
// failure again is a debug record, and the first write that succeeds after failures says so.
//
// Thread-safe; observers run on the writer's thread, after the write, outside any lock.
class UserDefaults {
public:
    using Observer =
        std::function<void(const std::optional<cf::Value>& oldValue, const std::optional<cf::Value>& newValue)>;

    // In memory only when `persistFile` is absent; otherwise loaded from it at once.
    explicit UserDefaults(std::optional<std::filesystem::path> persistFile = std::nullopt);
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The process's defaults. Until resetStandard is first called they persist to
    // defaultPersistFile().
    static UserDefaults& standard();
    // Empties the standard defaults, ends every observation of them and loads them from
    // `persistFile` (in memory when absent). The world calls this between tests.
    static void resetStandard(std::optional<std::filesystem::path> persistFile);
    // The file under the user's configuration folder; none when neither XDG_CONFIG_HOME nor HOME is
    // set (a relative XDG_CONFIG_HOME counts as unset).
    static std::optional<std::filesystem::path> defaultPersistFile();

    std::optional<cf::Value> object(const std::string& key) const;
    // Missing or not a boolean, number or text: false. A number by its truth value; text the way
    // the platform reads it: after leading white space, "Y", "y", "T" or "t", or a digit 1 to 9
    // after an optional sign and zeros, is true.
    bool boolForKey(const std::string& key) const;
    // Missing or unreadable: 0. A boolean reads 0 or 1; text is read as a decimal number from its
    // start after white space (0 when it does not start with one).
    double doubleForKey(const std::string& key) const;
    // As doubleForKey, truncated toward zero and held to the 64-bit range; text reads its leading
    // decimal integer.
    std::int64_t integerForKey(const std::string& key) const;
    // Text, or a number's description ("1" for true); nothing otherwise.
    std::optional<std::string> stringForKey(const std::string& key) const;
    cf::Value::Dictionary dictionaryRepresentation() const;

    // Stores a boolean, number, text, array or dictionary (anything cf::Value converts from).
    // Throws std::invalid_argument for a value that holds an opaque object, as the platform
    // refuses values that are not property lists.
    void set(const cf::Value& value, const std::string& key);
    void removeObject(const std::string& key);

    // Calls `observer` synchronously after every write of `key`, set or removal, with the values
    // before and after. It fires on every write, also one that leaves the value as it was, as the
    // platform does for a set.
    [[nodiscard]] KeyValueObservation observe(std::string key, Observer observer);

    // What the reader took from a file: its values, and whether they differ from what the file
    // holds (a member left out, or an integer read as a real), so that a rewrite would lose some.
    struct DecodedFile {
        cf::Value::Dictionary values;
        bool lossy = false;
    };
    // The file's reader and writer; the reader never throws and answers nothing for a file that is
    // not a JSON object.
    static std::optional<DecodedFile> decodeFile(std::string_view text);
    static std::string encodeFile(const cf::Value::Dictionary& values);

private:
    enum class WriteFailure { unreadableNotKept, originalNotKept, notSaved };

    void reset(std::optional<std::filesystem::path> persistFile);
    void write(const std::string& key, std::optional<cf::Value> value);
    void takeMendedFileLocked();
    void persistLocked();
    void recordFailedWriteLocked(WriteFailure failure, const std::string& reason);

    mutable std::mutex mutex_;
    cf::Value::Dictionary values_;
    std::optional<std::filesystem::path> persistFile_;
    // The file could not be read at the last reset: the next write reads it again, and keeps it
    // aside if it still cannot be read.
    bool unreadableFileOnDisk_ = false;
    // The writes made since, to be put over the file's values should it become readable.
    std::map<std::string, std::optional<cf::Value>> writesSinceFailedRead_;
    // The file holds values a rewrite would lose: the next write keeps it aside first.
    bool lossyFileOnDisk_ = false;
    // The last write's failure and its reason, while writes fail.
    std::optional<std::pair<WriteFailure, std::string>> failingWrite_;
    std::shared_ptr<detail::DefaultsObservers> observers_;
};

}  // namespace ns

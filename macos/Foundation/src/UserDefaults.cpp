#include "macos/Foundation/UserDefaults.hpp"

#include "macos/Foundation/Error.hpp"
#include "macos/Foundation/FileManager.hpp"
#include "macos/os/Logger.hpp"
#include "stashbay/BuildInfo.hpp"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace ns {

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace detail {

// The observers of one generation of a defaults object; a reset starts a new one, which leaves
// the tokens of the old one pointing at nothing.
struct DefaultsObservers {
    struct Entry {
        std::uint64_t id;
        std::string key;
        std::shared_ptr<UserDefaults::Observer> observer;
    };

    std::uint64_t add(std::string key, UserDefaults::Observer observer) {
        std::lock_guard lock(mutex);
        auto id = nextID++;
        entries.push_back(Entry{id, std::move(key), std::make_shared<UserDefaults::Observer>(std::move(observer))});
        return id;
    }
    void remove(std::uint64_t id) {
        std::lock_guard lock(mutex);
        std::erase_if(entries, [id](const Entry& e) { return e.id == id; });
    }
    bool isRegistered(std::uint64_t id) const {
        std::lock_guard lock(mutex);
        return std::any_of(entries.begin(), entries.end(), [id](const Entry& e) { return e.id == id; });
    }
    void notify(const std::string& key, const std::optional<cf::Value>& oldValue,
                const std::optional<cf::Value>& newValue) {
        std::vector<Entry> matching;
        {
            std::lock_guard lock(mutex);
            for (auto& e : entries)
                if (e.key == key) matching.push_back(e);
        }
        // An observer may end another one, or itself, while this write is being delivered.
        for (auto& e : matching)
            if (isRegistered(e.id)) (*e.observer)(oldValue, newValue);
    }

    mutable std::mutex mutex;
    std::vector<Entry> entries;
    std::uint64_t nextID = 1;
};

}  // namespace detail

KeyValueObservation& KeyValueObservation::operator=(KeyValueObservation&& other) noexcept {
    if (this != &other) {
        invalidate();
        observers_ = std::move(other.observers_);
        id_ = std::exchange(other.id_, 0);
        other.observers_.reset();
    }
    return *this;
}

void KeyValueObservation::invalidate() {
    if (auto observers = observers_.lock()) observers->remove(id_);
    observers_.reset();
    id_ = 0;
}

namespace {

constexpr int maxNestingDepth = 64;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t skipSpace(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && isSpace(s[i])) ++i;
    return i;
}

bool textAsBool(std::string_view s) {
    std::size_t i = skipSpace(s);
    if (i == s.size()) return false;
    char c = s[i];
    if (c == 'Y' || c == 'y' || c == 'T' || c == 't') return true;
    if (c == '+' || c == '-') ++i;
    while (i < s.size() && s[i] == '0') ++i;
    return i < s.size() && s[i] >= '1' && s[i] <= '9';
}

// The leading decimal number of the text: [sign] digits [. digits] [e [sign] digits]. Out of range
// reads as an infinity or 0, as the platform's reading does.
double textAsDouble(std::string_view s) {
    std::size_t i = skipSpace(s);
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    const std::size_t digitsStart = i;
    while (i < s.size() && isDigit(s[i])) ++i;
    const std::size_t integerEnd = i;
    std::size_t fractionDigits = 0;
    if (i < s.size() && s[i] == '.') {
        std::size_t j = i + 1;
        while (j < s.size() && isDigit(s[j])) ++j;
        fractionDigits = j - i - 1;
        if (integerEnd > digitsStart || fractionDigits > 0) i = j;
    }
    if (integerEnd == digitsStart && fractionDigits == 0) return 0.0;
    long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        bool negativeExponent = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) negativeExponent = s[j++] == '-';
        std::size_t k = j;
        while (k < s.size() && isDigit(s[k])) {
            exponent = std::min(exponent * 10 + (s[k] - '0'), 1'000'000'000L);
            ++k;
        }
        if (k > j) {
            i = k;
            if (negativeExponent) exponent = -exponent;
        } else {
            exponent = 0;
        }
    }
    double value = 0.0;
    auto number = s.substr(digitsStart, i - digitsStart);
    auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value, std::chars_format::general);
    (void)end;
    if (ec == std::errc::result_out_of_range) {
        // Overflow when the first significant digit stands left of the decimal point.
        auto firstNonZero = std::find_if(number.begin(), number.end(), [](char c) { return c >= '1' && c <= '9'; });
        auto position = static_cast<long>(firstNonZero - number.begin());
        auto integerDigits = static_cast<long>(integerEnd - digitsStart);
        long magnitude = position < integerDigits ? integerDigits - position : integerDigits - position + 1;
        value = magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

std::int64_t textAsInteger(std::string_view s) {
    std::size_t i = skipSpace(s);
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    // Accumulate toward the sign so that the most negative value is reachable.
    std::int64_t value = 0;
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    for (; i < s.size() && isDigit(s[i]); ++i) {
        int digit = s[i] - '0';
        if (!negative) {
            if (value > (max - digit) / 10) return max;
            value = value * 10 + digit;
        } else {
            if (value < (min + digit) / 10) return min;
            value = value * 10 - digit;
        }
    }
    return value;
}

std::int64_t doubleAsInteger(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
    if (d <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
}

bool holdsObject(const cf::Value& value) {
    switch (value.kind()) {
        case cf::Value::Kind::object: return true;
        case cf::Value::Kind::array: return std::any_of(value.asArray()->begin(), value.asArray()->end(), holdsObject);
        case cf::Value::Kind::dictionary:
            return std::any_of(value.asDictionary()->begin(), value.asDictionary()->end(),
                               [](const auto& member) { return holdsObject(member.second); });
        default: return false;
    }
}

// The value of a JSON member; nothing for a null. `lossy` is set when the value read is not what
// the file holds: a null left out, or an integer beyond the signed 64-bit range read as a real.
std::optional<cf::Value> fromJson(const Json& j, bool& lossy) {
    switch (j.type()) {
        case Json::value_t::boolean: return cf::Value(j.get<bool>());
        case Json::value_t::number_integer: return cf::Value(static_cast<long long>(j.get<std::int64_t>()));
        case Json::value_t::number_unsigned: {
            auto u = j.get<std::uint64_t>();
            if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                return cf::Value(static_cast<long long>(u));
            lossy = true;
            return cf::Value(static_cast<double>(u));
        }
        // The parser refuses a number too large for a real, so every real read has a JSON form.
        case Json::value_t::number_float: return cf::Value(j.get<double>());
        case Json::value_t::string: return cf::Value(j.get<std::string>());
        case Json::value_t::array: {
            cf::Value::Array array;
            for (auto& element : j)
                if (auto v = fromJson(element, lossy)) array.push_back(std::move(*v));
            return cf::Value(std::move(array));
        }
        case Json::value_t::object: {
            cf::Value::Dictionary dictionary;
            for (auto& [key, member] : j.items())
                if (auto v = fromJson(member, lossy)) dictionary.emplace(key, std::move(*v));
            return cf::Value(std::move(dictionary));
        }
        default: lossy = true; return std::nullopt;
    }
}

std::optional<Json> toJson(const cf::Value& value) {
    switch (value.kind()) {
        case cf::Value::Kind::boolean: return Json(*value.asBool());
        case cf::Value::Kind::integer: return Json(*value.asInt64());
        case cf::Value::Kind::real: {
            double d = *value.asDouble();
            if (!std::isfinite(d)) return std::nullopt;
            return Json(d);
        }
        case cf::Value::Kind::string: return Json(*value.asString());
        case cf::Value::Kind::array: {
            auto array = Json::array();
            for (auto& element : *value.asArray())
                if (auto j = toJson(element)) array.push_back(std::move(*j));
            return array;
        }
        case cf::Value::Kind::dictionary: {
            auto object = Json::object();
            for (auto& [key, member] : *value.asDictionary())
                if (auto j = toJson(member)) object[key] = std::move(*j);
            return object;
        }
        case cf::Value::Kind::object: return std::nullopt;
    }
    return std::nullopt;
}

std::optional<fs::path> configHome() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && fs::path(xdg).is_absolute())
        return fs::path(xdg);
    if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home) / ".config";
    return std::nullopt;
}

}  // namespace

UserDefaults::UserDefaults(std::optional<fs::path> persistFile) { reset(std::move(persistFile)); }

namespace {
UserDefaults& standardStorage() {
    static UserDefaults defaults;
    return defaults;
}
// The standard defaults take the user's file on first use, unless a reset has chosen first: a
// test that resets before anything else never reads the real one.
std::once_flag standardLocationChosen;
}  // namespace

UserDefaults& UserDefaults::standard() {
    auto& defaults = standardStorage();
    std::call_once(standardLocationChosen, [&defaults] { defaults.reset(defaultPersistFile()); });
    return defaults;
}

void UserDefaults::resetStandard(std::optional<fs::path> persistFile) {
    auto& defaults = standardStorage();
    std::call_once(standardLocationChosen, [] {});
    defaults.reset(std::move(persistFile));
}

std::optional<fs::path> UserDefaults::defaultPersistFile() {
    auto home = configHome();
    if (!home) return std::nullopt;
    return *home / stashbay::build::bundleIdentifier / "defaults.json";
}

namespace {

// Far beyond any real preferences; a larger file is refused unread rather than held in memory.
constexpr std::size_t maxFileSize = 4 * 1024 * 1024;

// The defaults' file is the app's own, so its troubles go to the app's persistence records.
const os::Logger& persistenceLog() {
    static const os::Logger logger{stashbay::build::bundleIdentifier, "persistence"};
    return logger;
}

struct FileReading {
    enum class Kind { missing, decoded, unreadable } kind;
    UserDefaults::DecodedFile file;
    // Why an unreadable file could not be taken.
    std::string problem;
};

FileReading readDefaultsFile(const fs::path& path) {
    using Kind = FileReading::Kind;
    auto& files = FileManager::defaultManager();
    if (!files.fileExists(path)) return {Kind::missing, {}, {}};
    try {
        if (auto decoded = UserDefaults::decodeFile(files.contents(path, maxFileSize)))
            return {Kind::decoded, std::move(*decoded), {}};
        return {Kind::unreadable, {}, "not a JSON object"};
    } catch (const Error& error) {
        return {Kind::unreadable, {}, error.localizedDescription()};
    }
}

}  // namespace

void UserDefaults::reset(std::optional<fs::path> persistFile) {
    std::lock_guard lock(mutex_);
    values_.clear();
    observers_ = std::make_shared<detail::DefaultsObservers>();
    persistFile_ = std::move(persistFile);
    unreadableFileOnDisk_ = false;
    writesSinceFailedRead_.clear();
    lossyFileOnDisk_ = false;
    failingWrite_.reset();
    if (!persistFile_) return;
    auto reading = readDefaultsFile(*persistFile_);
    switch (reading.kind) {
        case FileReading::Kind::missing: return;
        case FileReading::Kind::decoded:
            values_ = std::move(reading.file.values);
            lossyFileOnDisk_ = reading.file.lossy;
            return;
        case FileReading::Kind::unreadable: break;
    }
    // An unreadable file starts the defaults empty, as a corrupt one does; the first write reads it
    // again and keeps it aside before it replaces it.
    unreadableFileOnDisk_ = true;
    std::string path = persistFile_->string();
    persistenceLog().error("The user defaults file %s could not be read (%s); starting with empty defaults", path,
                           reading.problem);
}

void UserDefaults::takeMendedFileLocked() {
    auto reading = readDefaultsFile(*persistFile_);
    // Still unreadable: this write keeps it aside.
    if (reading.kind == FileReading::Kind::unreadable) return;
    if (reading.kind == FileReading::Kind::decoded) {
        // The person mended it meanwhile: its values are the defaults, with this run's writes over them.
        values_ = std::move(reading.file.values);
        for (auto& [key, value] : writesSinceFailedRead_) {
            values_.erase(key);
            if (value) values_.emplace(key, *value);
        }
        lossyFileOnDisk_ = reading.file.lossy;
        std::string path = persistFile_->string();
        persistenceLog().info("The user defaults file %s can be read now; taking its values", path);
    }
    unreadableFileOnDisk_ = false;
    writesSinceFailedRead_.clear();
}

std::optional<cf::Value> UserDefaults::object(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

bool UserDefaults::boolForKey(const std::string& key) const {
    auto value = object(key);
    if (!value) return false;
    if (auto* text = value->asString()) return textAsBool(*text);
    return value->truthValue().value_or(false);
}

double UserDefaults::doubleForKey(const std::string& key) const {
    auto value = object(key);
    if (!value) return 0.0;
    if (auto* text = value->asString()) return textAsDouble(*text);
    return value->asDouble().value_or(0.0);
}

std::int64_t UserDefaults::integerForKey(const std::string& key) const {
    auto value = object(key);
    if (!value) return 0;
    if (auto* text = value->asString()) return textAsInteger(*text);
    if (value->kind() == cf::Value::Kind::integer) return *value->asInt64();
    return doubleAsInteger(value->asDouble().value_or(0.0));
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
    auto value = object(key);
    if (!value) return std::nullopt;
    switch (value->kind()) {
        case cf::Value::Kind::string: return *value->asString();
        case cf::Value::Kind::boolean: return std::string(*value->asBool() ? "1" : "0");
        case cf::Value::Kind::integer: return std::to_string(*value->asInt64());
        case cf::Value::Kind::real: return fmt::format("{}", *value->asDouble());
        default: return std::nullopt;
    }
}

cf::Value::Dictionary UserDefaults::dictionaryRepresentation() const {
    std::lock_guard lock(mutex_);
    return values_;
}

void UserDefaults::set(const cf::Value& value, const std::string& key) {
    if (holdsObject(value))
        throw std::invalid_argument("Attempt to insert a value that is not a property list for key " + key);
    write(key, value);
}

void UserDefaults::removeObject(const std::string& key) { write(key, std::nullopt); }

void UserDefaults::write(const std::string& key, std::optional<cf::Value> value) {
    std::optional<cf::Value> oldValue;
    std::shared_ptr<detail::DefaultsObservers> observers;
    {
        std::lock_guard lock(mutex_);
        if (unreadableFileOnDisk_) takeMendedFileLocked();
        if (auto it = values_.find(key); it != values_.end()) {
            oldValue = std::move(it->second);
            values_.erase(it);
        }
        if (value) values_.emplace(key, *value);
        if (unreadableFileOnDisk_) writesSinceFailedRead_[key] = value;
        persistLocked();
        observers = observers_;
    }
    observers->notify(key, oldValue, value);
}

void UserDefaults::persistLocked() {
    if (!persistFile_) return;
    auto& files = FileManager::defaultManager();
    std::string path = persistFile_->string();
    // A file that could not be read, or one holding values this write would lose, is kept first.
    const bool keeping = (unreadableFileOnDisk_ || lossyFileOnDisk_) && files.fileExists(*persistFile_);
    std::optional<fs::path> kept;
    if (keeping) {
        try {
            kept = files.moveAside(*persistFile_, unreadableFileOnDisk_ ? "unreadable" : "original");
        } catch (const Error& error) {
            // Not written over: the values stay in memory and the next write tries again.
            recordFailedWriteLocked(
                unreadableFileOnDisk_ ? WriteFailure::unreadableNotKept : WriteFailure::originalNotKept,
                error.localizedDescription());
            return;
        }
    }
    try {
        files.createDirectory(persistFile_->parent_path(), true);
        files.writeAtomically(*persistFile_, encodeFile(values_));
    } catch (const Error& error) {
        // The values stay in memory and the next write tries again; the kept file goes back to its
        // place, to be kept again then.
        if (kept) {
            try {
                files.putBack(*kept, *persistFile_);
            } catch (const Error& putBackError) {
                persistenceLog().error("The user defaults file %s stays kept (%@)", path, putBackError);
                unreadableFileOnDisk_ = lossyFileOnDisk_ = false;
                writesSinceFailedRead_.clear();
            }
        }
        recordFailedWriteLocked(WriteFailure::notSaved, error.localizedDescription());
        return;
    }
    if (kept) {
        std::string keptPath = kept->string();
        if (unreadableFileOnDisk_)
            persistenceLog().error("The user defaults file %s could not be read; kept it as %s", path, keptPath);
        else
            persistenceLog().error("The user defaults file %s held values a rewrite would lose; kept it as %s", path,
                                   keptPath);
    }
    unreadableFileOnDisk_ = lossyFileOnDisk_ = false;
    writesSinceFailedRead_.clear();
    if (failingWrite_) {
        persistenceLog().info("The user defaults file %s was saved again", path);
        failingWrite_.reset();
    }
}

// The first failure, and one for another reason, is an error record; the same failure again is a
// debug record, so that a folder that stays read-only does not fill the log with one per change.
void UserDefaults::recordFailedWriteLocked(WriteFailure failure, const std::string& reason) {
    std::string path = persistFile_->string();
    const bool repeated = failingWrite_ && failingWrite_->first == failure && failingWrite_->second == reason;
    failingWrite_ = std::pair(failure, reason);
    if (repeated) {
        persistenceLog().debug("The user defaults file %s still could not be saved (%s)", path, reason);
        return;
    }
    switch (failure) {
        case WriteFailure::unreadableNotKept:
            persistenceLog().error("The unreadable user defaults file %s could not be kept (%s); not saving over it",
                                   path, reason);
            return;
        case WriteFailure::originalNotKept:
            persistenceLog().error(
                "The user defaults file %s holds values a rewrite would lose and could not be kept (%s); not saving "
                "over it",
                path, reason);
            return;
        case WriteFailure::notSaved:
            persistenceLog().error(
                "The user defaults file %s could not be saved (%s); the values stay in memory and are written at "
                "the next change",
                path, reason);
            return;
    }
}

KeyValueObservation UserDefaults::observe(std::string key, Observer observer) {
    std::shared_ptr<detail::DefaultsObservers> observers;
    {
        std::lock_guard lock(mutex_);
        observers = observers_;
    }
    auto id = observers->add(std::move(key), std::move(observer));
    return KeyValueObservation(observers, id);
}

std::optional<UserDefaults::DecodedFile> UserDefaults::decodeFile(std::string_view text) {
    // The callback drops a top-level member that nests too deeply before the deep part is built,
    // so that neither the conversion nor any destructor recurses without bound. A start event's
    // depth is that of the new container; an end event's that of the closed one.
    bool memberTooDeep = false;
    bool lossy = false;
    auto limitDepth = [&memberTooDeep, &lossy](int depth, Json::parse_event_t event, Json&) {
        switch (event) {
            case Json::parse_event_t::object_start:
            case Json::parse_event_t::array_start:
                if (depth < maxNestingDepth) return true;
                memberTooDeep = lossy = true;
                return false;
            case Json::parse_event_t::object_end:
            case Json::parse_event_t::array_end:
                if (depth != 1 || !memberTooDeep) return true;
                memberTooDeep = false;
                return false;
            default: return true;
        }
    };
    try {
        auto json = Json::parse(text.begin(), text.end(), limitDepth, /*allow_exceptions=*/false);
        if (!json.is_object()) return std::nullopt;
        auto value = fromJson(json, lossy);
        if (!value || !value->asDictionary()) return std::nullopt;
        return DecodedFile{std::move(*value->asDictionary()), lossy};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string UserDefaults::encodeFile(const cf::Value::Dictionary& values) {
    auto json = toJson(cf::Value(values)).value_or(Json::object());
    // Text that is not valid UTF-8 is written with replacement characters rather than refused.
    return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace ns

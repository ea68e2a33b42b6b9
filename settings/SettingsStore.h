#pragma once
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "util/Bytes.h"
#include "util/Result.h"

namespace vaultry {

using Date = std::chrono::system_clock::time_point;
using StringArray = std::vector<std::string>;
struct Value;
using Dictionary = std::map<std::string, Value, std::less<>>;

// One typed value of the store.
struct Value {
    std::variant<std::string, std::uint64_t, Date, Bytes, StringArray, Dictionary> v;

    Value() = default;
    Value(std::string s) : v(std::move(s)) {}
    Value(const char* s) : v(std::string(s)) {}
    Value(std::uint64_t n) : v(n) {}
    Value(Date d) : v(d) {}
    Value(Bytes b) : v(std::move(b)) {}
    Value(StringArray a) : v(std::move(a)) {}
    Value(Dictionary d) : v(std::move(d)) {}
    template <typename T>
    const T* as() const {
        return std::get_if<T>(&v);
    }
    bool operator==(const Value&) const = default;
};

// Property-list form of a dictionary, and back; used by the store and by anything that reads
// property lists from outside. parsePlist accepts XML lists; a binary list, or anything but a
// dictionary at the root, is an error. Values of other plist types (booleans, reals, mixed
// arrays) are left out with a log line.
Result<Dictionary> parsePlist(std::string_view bytes);
std::string toXmlPlist(const Dictionary& dict);

// The per-user settings store: an XML property list shared by the GUI and the command-line tool.
// set() is visible at once in this process; flush() writes the file atomically under an advisory
// lock, after taking in the keys another process changed, so concurrent writers of different keys
// never lose each other's values. Thread-safe.
class SettingsStore {
public:
    explicit SettingsStore(std::filesystem::path file);

    const std::filesystem::path& file() const { return file_; }

    std::optional<Value> get(std::string_view key) const;
    // Typed reads: a value of another type counts as absent and is logged.
    std::optional<std::string> string(std::string_view key) const;
    std::optional<std::uint64_t> number(std::string_view key) const;
    std::optional<Date> date(std::string_view key) const;
    std::optional<Bytes> data(std::string_view key) const;
    std::optional<StringArray> stringArray(std::string_view key) const;
    bool contains(std::string_view key) const { return get(key).has_value(); }

    void set(std::string_view key, Value value);
    void remove(std::string_view key);
    // Writes the store to disk. Fails only when the file cannot be written.
    Status flush();
    // Takes in what other processes wrote; local changes not yet flushed are kept.
    void reload();

    // One step of an edit of a list: add appends the item, remove takes out every equal item.
    struct ArrayChange {
        enum Kind { Add, Remove } kind;
        std::string item;
    };
    // Applies the changes, in order, to the list under `key` as the file holds it now, and
    // writes the store as flush() does, all under the file lock: lists two processes edit at
    // once keep both processes' changes. Returns the list as written.
    Result<StringArray> changeArray(std::string_view key, const std::vector<ArrayChange>& changes);
    // The same for several lists in one write, so that lists kept in step (a record and its
    // kind) are never written one without the other. Returns the lists as written, in order.
    struct ListChanges {
        std::string_view key;
        std::vector<ArrayChange> changes;
    };
    Result<std::vector<StringArray>> changeArrays(const std::vector<ListChanges>& lists);

    Dictionary snapshot() const;

private:
    template <typename T>
    std::optional<T> typed(std::string_view key, const char* typeName) const;
    Dictionary readDisk();  // with the file lock held, or at start
    Dictionary mergedWithDisk();
    Dictionary mergedWith(Dictionary disk);
    Status writeMerged(Dictionary merged);  // with the file lock held

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    Dictionary values_;
    std::set<std::string, std::less<>> dirty_;  // keys set or removed since the last flush
};

}  // namespace vaultry

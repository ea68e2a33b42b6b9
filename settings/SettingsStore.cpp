#include "settings/SettingsStore.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>

#include "util/AtomicFile.h"
#include "util/Log.h"
#include "util/TimeText.h"

namespace vaultry {
namespace {

// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr std::int64_t kPlistEpoch = 978307200;

struct PlistFree {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// A text up to its first NUL: libplist asserts on texts with NULs inside when copying them out.
std::string textOf(plist_t node) {
    std::uint64_t len = 0;
    const char* p = plist_get_string_ptr(node, &len);
    return p ? std::string(p, ::strnlen(p, len)) : std::string();
}

std::optional<Value> fromNode(plist_t node, const std::string& key) {
    switch (plist_get_node_type(node)) {
        case PLIST_STRING:
            return Value(textOf(node));
        case PLIST_UINT: {
            std::uint64_t n = 0;
            plist_get_uint_val(node, &n);
            return Value(n);
        }
        case PLIST_DATE: {
            std::int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            auto t = std::chrono::system_clock::from_time_t(static_cast<std::time_t>(kPlistEpoch + sec));
            return Value(Date(t + std::chrono::microseconds(usec)));
        }
        case PLIST_DATA: {
            char* d = nullptr;
            std::uint64_t len = 0;
            plist_get_data_val(node, &d, &len);
            Bytes out(reinterpret_cast<std::uint8_t*>(d), reinterpret_cast<std::uint8_t*>(d) + len);
            std::free(d);
            return Value(std::move(out));
        }
        case PLIST_ARRAY: {
            StringArray out;
            const std::uint32_t n = plist_array_get_size(node);
            for (std::uint32_t i = 0; i < n; ++i) {
                plist_t item = plist_array_get_item(node, i);
                if (plist_get_node_type(item) != PLIST_STRING) {
                    logLine("settings: \"" + key + "\" is an array with other items than texts; left out");
                    return std::nullopt;
                }
                out.push_back(textOf(item));
            }
            return Value(std::move(out));
        }
        case PLIST_DICT: {
            Dictionary out;
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            for (;;) {
                char* k = nullptr;
                plist_t v = nullptr;
                plist_dict_next_item(node, it, &k, &v);
                if (!v) {
                    std::free(k);
                    break;
                }
                std::string name = k ? k : "";
                std::free(k);
                if (auto value = fromNode(v, key + "." + name)) out.emplace(name, std::move(*value));
            }
            std::free(it);
            return Value(std::move(out));
        }
        default:
            logLine("settings: \"" + key + "\" has a type the store does not keep; left out");
            return std::nullopt;
    }
}

plist_t toNode(const Value& value) {
    struct Visitor {
        plist_t operator()(const std::string& s) const { return plist_new_string(s.c_str()); }
        plist_t operator()(std::uint64_t n) const { return plist_new_uint(n); }
        plist_t operator()(const Date& d) const {
            const auto us =
                std::chrono::duration_cast<std::chrono::microseconds>(d.time_since_epoch()).count();
            std::int64_t sec = us / 1000000 - kPlistEpoch;
            std::int64_t rest = us % 1000000;
            if (rest < 0) {
                rest += 1000000;
                --sec;
            }
            if (sec < std::numeric_limits<std::int32_t>::min())
                sec = std::numeric_limits<std::int32_t>::min();
            if (sec > std::numeric_limits<std::int32_t>::max())
                sec = std::numeric_limits<std::int32_t>::max();
            return plist_new_date(static_cast<std::int32_t>(sec), static_cast<std::int32_t>(rest));
        }
        plist_t operator()(const Bytes& b) const {
            return plist_new_data(reinterpret_cast<const char*>(b.data()), b.size());
        }
        plist_t operator()(const StringArray& a) const {
            plist_t arr = plist_new_array();
            for (const auto& s : a) plist_array_append_item(arr, plist_new_string(s.c_str()));
            return arr;
        }
        plist_t operator()(const Dictionary& d) const {
            plist_t dict = plist_new_dict();
            for (const auto& [k, v] : d) plist_dict_set_item(dict, k.c_str(), toNode(v));
            return dict;
        }
    };
    return std::visit(Visitor{}, value.v);
}

std::string utcStamp() { return timeText(std::chrono::system_clock::now(), "%Y%m%dT%H%M%SZ"); }

// An exclusive advisory lock on a file beside the store; the store itself is replaced by rename,
// so it cannot carry the lock.
class FileLock {
public:
    explicit FileLock(const std::filesystem::path& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0)
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace

Result<Dictionary> parsePlist(std::string_view bytes) {
    if (bytes.empty()) return fail("empty property list");
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) return fail("property list too large");
    // Binary lists are refused: libplist 2.2 aborts on some malformed binary dictionaries, and
    // everything we read (our settings, the version list) is XML.
    if (plist_is_binary(bytes.data(), static_cast<std::uint32_t>(bytes.size())))
        return fail("a binary property list, not XML");
    plist_t raw = nullptr;
    plist_from_xml(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
    PlistPtr root(raw);
    if (!root) return fail("not a property list");
    if (plist_get_node_type(root.get()) != PLIST_DICT) return fail("the property list is not a dictionary");
    auto value = fromNode(root.get(), "");
    return std::move(std::get<Dictionary>(value->v));
}

std::string toXmlPlist(const Dictionary& dict) {
    PlistPtr root(toNode(Value(dict)));
    char* xml = nullptr;
    std::uint32_t len = 0;
    plist_to_xml(root.get(), &xml, &len);
    std::string out(xml ? xml : "", len);
    plist_to_xml_free(xml);
    return out;
}

SettingsStore::SettingsStore(std::filesystem::path file) : file_(std::move(file)) {
    std::lock_guard lock(mutex_);
    values_ = readDisk();
}

Dictionary SettingsStore::readDisk() {
    std::error_code ec;
    if (!std::filesystem::exists(file_, ec)) return {};
    std::ifstream in(file_, std::ios::binary);
    std::ostringstream buf;
    buf << in.rdbuf();
    std::string why;
    if (!in && !in.eof()) {
        why = "unreadable";
    } else if (auto dict = parsePlist(buf.str())) {
        return std::move(*dict);
    } else {
        why = dict.error().message;
    }
    // Never throw the user's bytes away: keep them beside the store and start from defaults.
    auto aside = file_;
    aside += ".corrupt-" + utcStamp();
    std::filesystem::rename(file_, aside, ec);
    logLine("settings: " + file_.string() + " is " + why + "; moved aside as " + aside.string() +
            (ec ? " (failed: " + ec.message() + ")" : ""));
    return {};
}

// Keys this process changed win; every other key is taken as the disk has it now.
Dictionary SettingsStore::mergedWithDisk() { return mergedWith(readDisk()); }

Dictionary SettingsStore::mergedWith(Dictionary merged) {
    for (const auto& k : dirty_) {
        if (auto it = values_.find(k); it != values_.end())
            merged.insert_or_assign(k, it->second);
        else if (auto m = merged.find(k); m != merged.end())
            merged.erase(m);
    }
    return merged;
}

std::optional<Value> SettingsStore::get(std::string_view key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

template <typename T>
std::optional<T> SettingsStore::typed(std::string_view key, const char* typeName) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    if (const T* v = it->second.as<T>()) return *v;
    logLine("settings: \"" + std::string(key) + "\" is not " + typeName + "; the default is used");
    return std::nullopt;
}

std::optional<std::string> SettingsStore::string(std::string_view key) const {
    return typed<std::string>(key, "a text");
}
std::optional<std::uint64_t> SettingsStore::number(std::string_view key) const {
    return typed<std::uint64_t>(key, "a number");
}
std::optional<Date> SettingsStore::date(std::string_view key) const { return typed<Date>(key, "a date"); }
std::optional<Bytes> SettingsStore::data(std::string_view key) const { return typed<Bytes>(key, "data"); }
std::optional<StringArray> SettingsStore::stringArray(std::string_view key) const {
    return typed<StringArray>(key, "an array of texts");
}

void SettingsStore::set(std::string_view key, Value value) {
    std::lock_guard lock(mutex_);
    values_.insert_or_assign(std::string(key), std::move(value));
    dirty_.emplace(key);
}

void SettingsStore::remove(std::string_view key) {
    std::lock_guard lock(mutex_);
    if (auto it = values_.find(key); it != values_.end()) values_.erase(it);
    dirty_.emplace(key);
}

Dictionary SettingsStore::snapshot() const {
    std::lock_guard lock(mutex_);
    return values_;
}

void SettingsStore::reload() {
    std::lock_guard lock(mutex_);
    FileLock fileLock(std::filesystem::path(file_) += ".lock");
    values_ = mergedWithDisk();
}

Status SettingsStore::flush() {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    FileLock fileLock(std::filesystem::path(file_) += ".lock");
    return writeMerged(mergedWithDisk());
}

Status SettingsStore::writeMerged(Dictionary merged) {
    const std::string xml = toXmlPlist(merged);
    if (auto written = writeFileAtomically(file_, xml, 0600); !written) return written;
    values_ = std::move(merged);
    dirty_.clear();
    return {};
}

Result<StringArray> SettingsStore::changeArray(std::string_view key,
                                               const std::vector<ArrayChange>& changes) {
    auto written = changeArrays({{key, changes}});
    if (!written) return written.error();
    return std::move(written->front());
}

Result<std::vector<StringArray>> SettingsStore::changeArrays(const std::vector<ListChanges>& lists) {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    FileLock fileLock(std::filesystem::path(file_) += ".lock");

    Dictionary disk = readDisk();
    // Each list starts from what the file holds, never from this process's older copy of it.
    std::vector<StringArray> out;
    for (const auto& l : lists) {
        StringArray list;
        if (auto it = disk.find(l.key); it != disk.end())
            if (const auto* stored = it->second.as<StringArray>()) list = *stored;
        if (auto d = dirty_.find(l.key); d != dirty_.end()) dirty_.erase(d);
        for (const auto& change : l.changes) {
            if (change.kind == ArrayChange::Add)
                list.push_back(change.item);
            else
                std::erase(list, change.item);
        }
        out.push_back(std::move(list));
    }
    Dictionary merged = mergedWith(std::move(disk));
    for (std::size_t i = 0; i < lists.size(); ++i) merged.insert_or_assign(std::string(lists[i].key), out[i]);
    if (auto st = writeMerged(std::move(merged)); !st) return fail(st.error().message);
    return out;
}

}  // namespace vaultry

#include "settings/Preferences.h"

#include <cassert>

#include "util/Log.h"

namespace vaultry {
namespace {

constexpr const char* kYes = "YES";
constexpr const char* kNo = "NO";

}  // namespace

namespace prefcheck {

bool autoLockChoice(const Value& value) {
    const std::uint64_t* minutes = value.as<std::uint64_t>();
    if (!minutes) return false;
    for (int choice : kAutoLockChoices)
        if (*minutes == static_cast<std::uint64_t>(choice)) return true;
    return false;
}

}  // namespace prefcheck

const std::vector<PrefInfo>& preferenceTable() {
    static const std::vector<PrefInfo> table = {
#define VAULTRY_PREF_ROW(name, key, type, fallback, check) {Pref::name, key, PrefType::type, fallback, check},
        VAULTRY_PREFERENCES(VAULTRY_PREF_ROW)
#undef VAULTRY_PREF_ROW
    };
    return table;
}

const PrefInfo& preferenceInfo(Pref pref) { return preferenceTable()[static_cast<std::size_t>(pref)]; }

namespace {

const PrefInfo& row(Pref pref, [[maybe_unused]] PrefType type) {
    const PrefInfo& info = preferenceInfo(pref);
    assert(info.type == type);
    return info;
}

template <typename T>
T fallbackOf(const PrefInfo& info) {
    if (info.fallback)
        if (const T* v = info.fallback->as<T>()) return *v;
    return T{};
}

bool hasType(const Value& value, PrefType type) {
    switch (type) {
        case PrefType::Flag:
        case PrefType::Text:
            return value.as<std::string>() != nullptr;
        case PrefType::Number:
            return value.as<std::uint64_t>() != nullptr;
        case PrefType::Date:
            return value.as<Date>() != nullptr;
        case PrefType::Data:
            return value.as<Bytes>() != nullptr;
        case PrefType::TextList:
            return value.as<StringArray>() != nullptr;
    }
    return false;
}

}  // namespace

bool Preferences::flag(Pref pref) const {
    const PrefInfo& info = row(pref, PrefType::Flag);
    // Anything but "YES" is off; only an absent (or mistyped) key takes the default.
    return store_.string(info.key).value_or(fallbackOf<std::string>(info)) == kYes;
}

std::optional<std::string> Preferences::text(Pref pref) const {
    return store_.string(row(pref, PrefType::Text).key);
}

std::uint64_t Preferences::number(Pref pref) const {
    const PrefInfo& info = row(pref, PrefType::Number);
    return store_.number(info.key).value_or(fallbackOf<std::uint64_t>(info));
}

std::optional<Date> Preferences::date(Pref pref) const { return store_.date(row(pref, PrefType::Date).key); }

std::optional<Bytes> Preferences::data(Pref pref) const { return store_.data(row(pref, PrefType::Data).key); }

StringArray Preferences::textList(Pref pref) const {
    return store_.stringArray(row(pref, PrefType::TextList).key).value_or(StringArray{});
}

void Preferences::setFlag(Pref pref, bool on) {
    store_.set(row(pref, PrefType::Flag).key, std::string(on ? kYes : kNo));
}

void Preferences::setText(Pref pref, const std::string& value) {
    store_.set(row(pref, PrefType::Text).key, value);
}

bool Preferences::setNumber(Pref pref, std::uint64_t value) {
    const PrefInfo& info = row(pref, PrefType::Number);
    if (info.check && !info.check(Value(value))) return false;
    store_.set(info.key, value);
    return true;
}

void Preferences::setDate(Pref pref, Date value) { store_.set(row(pref, PrefType::Date).key, value); }

void Preferences::setData(Pref pref, const Bytes& value) { store_.set(row(pref, PrefType::Data).key, value); }

void Preferences::setTextList(Pref pref, const StringArray& value) {
    store_.set(row(pref, PrefType::TextList).key, value);
}

bool Preferences::accepts(Pref pref, const Value& value) {
    const PrefInfo& info = preferenceInfo(pref);
    return hasType(value, info.type) && (!info.check || info.check(value));
}

bool Preferences::isSet(Pref pref) const { return store_.contains(preferenceInfo(pref).key); }

std::optional<Value> Preferences::stored(Pref pref) const { return store_.get(preferenceInfo(pref).key); }

void Preferences::restore(Pref pref, const std::optional<Value>& value) {
    if (value)
        store_.set(preferenceInfo(pref).key, *value);
    else
        store_.remove(preferenceInfo(pref).key);
}

bool Preferences::save(std::string* why) {
    const auto saved = store_.flush();
    if (saved) return true;
    if (failures_ == Failures::Logged) logLine("settings: " + saved.error().message);
    if (why) *why = saved.error().message;
    return false;
}

Result<StringArray> Preferences::changeList(Pref pref,
                                            const std::vector<SettingsStore::ArrayChange>& changes) {
    auto written = store_.changeArray(row(pref, PrefType::TextList).key, changes);
    if (!written && failures_ == Failures::Logged) logLine("settings: " + written.error().message);
    return written;
}

Result<std::vector<StringArray>> Preferences::changeLists(const ListChanges& lists) {
    std::vector<SettingsStore::ListChanges> all;
    for (const auto& [pref, changes] : lists) all.push_back({row(pref, PrefType::TextList).key, changes});
    auto written = store_.changeArrays(all);
    if (!written && failures_ == Failures::Logged) logLine("settings: " + written.error().message);
    return written;
}

}  // namespace vaultry

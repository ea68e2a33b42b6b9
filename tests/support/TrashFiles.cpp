#include "support/TrashFiles.h"

#include <ctime>
#include <fstream>

#include "support/FakePorts.h"
#include "trash/TrashItems.h"

namespace vaultry::test {

std::string trashStamp(std::chrono::system_clock::time_point t, Zone zone) {
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    if (zone == Zone::Utc)
        gmtime_r(&tt, &tm);
    else
        localtime_r(&tt, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

void trashItem(const std::filesystem::path& trash, const std::string& name, const std::string& original,
               std::chrono::system_clock::time_point deleted, std::size_t bytes, bool folder, Zone zone) {
    if (folder) {
        writeFile(trash / "files" / name / "inside.txt", std::string(bytes, 'x'));
        std::ofstream(trash / "directorysizes", std::ios::app)
            << bytes << " 1700000000 " << trash::percentEncode(name) << '\n';
    } else {
        writeFile(trash / "files" / name, std::string(bytes, 'x'));
    }
    writeFile(trash / "info" / (name + ".trashinfo"), "[Trash Info]\nPath=" + trash::percentEncode(original) +
                                                          "\nDeletionDate=" + trashStamp(deleted, zone) +
                                                          "\n");
}

}  // namespace vaultry::test

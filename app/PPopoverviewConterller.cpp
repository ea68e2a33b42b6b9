#include "app/PPopoverviewConterller.h"

#include <cstring>

#include "desktop/SizeText.h"

namespace vaultry {

PPopoverviewConterller::PPopoverviewConterller(AppDelegate& app, Services services)
    : app_(app), s_(services) {
    initTidyList();
}

PPopoverviewConterller::~PPopoverviewConterller() {
    endTidyList();
    for (auto token : observers_) s_.nc.removeObserver(token);
}

std::string PPopoverviewConterller::size_to_unit(std::uint64_t bytes, char* out_buffer) {
    std::string text = sizeText(bytes, 1);
    std::memcpy(out_buffer, text.c_str(), text.size() + 1);
    return text;
}

}  // namespace vaultry

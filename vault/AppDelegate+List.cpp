#include "app/AppDelegate.h"

namespace vaultry {

void AppDelegate::ClickShowInFinderNotificationHandle(const Notification&) {}
void AppDelegate::ClickSwtichNotificationHandle(const Notification&) {}
void AppDelegate::ClickSwtichOffNotificationHandle(const Notification&) {}

}  // namespace vaultry

#include "app/AppDelegate.h"

namespace vaultry {

void AppDelegate::MyClosebuttonMouseDownHandle(const Notification&) {}

}  // namespace vaultry

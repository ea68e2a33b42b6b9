#include "app/AppDelegate.h"

namespace vaultry {

void AppDelegate::MyClosebuttonMouseDownHandle(const Notification& n) {
    if (closeButtonOfVaultWindows(n)) return;
}

}  // namespace vaultry

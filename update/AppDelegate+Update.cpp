#include "app/AppDelegate.h"
#include "update/PRUpdateController.h"

namespace vaultry {

void AppDelegate::CheckforUpdateAction() {
    updateController->checkUpdate = true;
    updateController->reportFailure = true;
    updateController->checkServerVersion();
}

}  // namespace vaultry

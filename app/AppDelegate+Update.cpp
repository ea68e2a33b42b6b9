#include "app/AppDelegate.h"
#include "app/PRUpdateController.h"

namespace vaultry {

void AppDelegate::CheckforUpdateAction() {
    if (!updateCheckOffered()) {
        ui_.runAlert({kUpdateCheckOffMessage, kUpdateCheckOffInformative, " Ok ", "", ""});
        return;
    }
    updateController->checkUpdate = true;
    updateController->reportFailure = true;
    updateController->checkServerVersion();
}

}  // namespace vaultry

#include "app/AppDelegate.h"

// Presses of the skin buttons, dispatched by which button sent them. Senders without a branch
// here are ignored.
namespace vaultry {

void AppDelegate::PRLeftTipButtonMouseDownHandle(const Notification&) {}

void AppDelegate::FBLeftButtonMouseDownDownHandle(const Notification&) {}

}  // namespace vaultry

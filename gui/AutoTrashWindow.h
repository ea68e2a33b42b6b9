#pragma once
#include "gui/Builders.h"

namespace vaultry::qt {

// The automatic-trash window `autoTrashWindow`: home of the popover's content while no popover shows it.
class AutoTrashWindow final : public WindowPart {
public:
    explicit AutoTrashWindow(WindowContext& context, QWidget* popoverContent);
    // Takes the popover's content back.
    void returnPopoverContent();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* popoverContent_;
    QWidget* autoTrashHolder_ = nullptr;
};

}  // namespace vaultry::qt

#include <filesystem>
#include <functional>
#include <utility>

#include "app/AppDelegate.h"
#include "flows/Password.h"
#include "platform/Outlets.h"
#include "util/Log.h"
#include "vault/PasswordVerifier.h"

namespace vaultry {

using platform::Alert;

void AppDelegate::OPenFileManageWindow() {
    ui_.activateApp();
    refreshVaultLists();
    if (offerNewPassword()) return;
    if (ui_.isVisible(outlet::thefileManageWindow)) {
        ui_.showWindow(outlet::thefileManageWindow);
    } else {
        // The prompt opens the vault, whatever an earlier, cancelled prompt was for.
        bperfPassW = false;
        pendingNewPassword_.reset();
        ui_.showWindow(outlet::enterPDWindow);
    }
}

void AppDelegate::ClickShowPereferenceWindow() {
    if (ui_.isVisible(outlet::thefileManageWindow)) {
        ui_.showWindow(outlet::preferWindows);
        ui_.activateApp();
        return;
    }
    ui_.activateApp();
    // A fresh home has no password to ask for: it is made first, as for the vault.
    if (offerNewPassword(true)) return;
    bperfPassW = true;
    ui_.showWindow(outlet::enterPDWindow);
}

bool AppDelegate::offerNewPassword(bool thenPreferences) {
    if (prefs_.hasPassword()) return false;
    bperfPassW = thenPreferences;
    ui_.showWindow(outlet::CreatePWWindow);
    return true;
}

void AppDelegate::ClickCreatePasswordDone() {
    ui_.setImage(outlet::doneButton, "donedown.png");
    std::string first = ui_.text(outlet::theCreatePWLab);
    std::string second = ui_.text(outlet::theConfirmPWLab);
    // The fields hold the pass phrase only as long as it is being read.
    ui_.setText(outlet::theCreatePWLab, "");
    ui_.setText(outlet::theConfirmPWLab, "");
    if (first == second && !first.empty()) {
        // Only a verifier is stored; the pass phrase itself stays in locked memory for the run.
        if (auto verifier = password::makeVerifier(first)) {
            std::function<void()> then;
            if (std::exchange(bperfPassW, false))
                then = [this] {
                    ui_.hideWindow(outlet::CreatePWWindow);
                    ui_.showWindow(outlet::preferWindows);
                };
            ChooseEncryptedFileStoreLocation(std::move(then));
            prefs_.setPasswordVerifier(*verifier);
            prefs_.save();
            passPhrase_ = std::make_shared<password::PassPhrase>(first);
            passPhraseVerifier_ = *verifier;
            integrityKeeper_->unlockedWith(passPhraseVerifier_);
        } else {
            logLine("password: " + verifier.error().message);
        }
    } else {
        ui_.setHidden(outlet::warnlab, false);
        ui_.setText(outlet::theConfirmPWLab, "");
        ui_.shake(outlet::CreatePWWindow);
    }
    password::wipe(first);
    password::wipe(second);
    ui_.setImage(outlet::doneButton, "donenom.png");
}

bool AppDelegate::checkVaultPassword(const std::string& entered) {
    auto verifier = flows::checkPassword(prefs_, entered);
    if (!verifier) return false;
    passPhrase_ = std::make_shared<password::PassPhrase>(entered);
    passPhraseVerifier_ = std::move(*verifier);
    integrityKeeper_->unlockedWith(passPhraseVerifier_);
    return true;
}

void AppDelegate::enterPassword(bool fromButton) {
    std::string entered = ui_.text(outlet::enterPWLab);
    if (!fromButton && entered.empty()) return;
    if (prefs_.hasPassword() && checkVaultPassword(entered)) {
        ui_.setHidden(outlet::enterPDWarnLab, true);
        ui_.hideWindow(outlet::enterPDWindow);
        ui_.setText(outlet::enterPWLab, "");
        if (bperfPassW) {
            ui_.showWindow(outlet::preferWindows);
            bperfPassW = false;
            if (const auto next = std::move(pendingNewPassword_)) changePasswordTo(next->view());
        } else {
            // The rows show the lists as they are now, whatever changed while the window was away.
            refreshVaultLists();
            ui_.reload(outlet::fileTableView);
            ui_.showWindow(outlet::thefileManageWindow);
            ui_.activateApp();
            ui_.centerWindow(outlet::thefileManageWindow);
        }
    } else {
        ui_.setHidden(outlet::enterPDWarnLab, false);
        ui_.setText(outlet::enterPWLab, "");
        ui_.shake(outlet::enterPDWindow);
    }
    password::wipe(entered);
}

void AppDelegate::ReturnOnPasswordField() { enterPassword(false); }
void AppDelegate::ClickEnterPasswordButton() { enterPassword(true); }

void AppDelegate::ChangePassWordAction() {
    if (isBusy()) return;
    std::string next = ui_.text(outlet::newPWLab);
    std::string confirm = ui_.text(outlet::confirmNewPWLab);
    struct Wipe {
        std::string &a, &b;
        ~Wipe() {
            password::wipe(a);
            password::wipe(b);
        }
    } wipeOnExit{next, confirm};
    ui_.setText(outlet::newPWLab, "");
    ui_.setText(outlet::confirmNewPWLab, "");
    if (next != confirm || next.empty()) {
        ui_.setHidden(outlet::warnnewPWlab, false);
        ui_.setText(outlet::confirmNewPWLab, "");
        ui_.shake(outlet::preferWindows);
        return;
    }
    if (!passPhraseKnown()) {
        // The archives can only be re-encrypted with the current pass phrase: the prompt asks
        // for it, and its entry finishes the change.
        pendingNewPassword_ = std::make_shared<password::PassPhrase>(next);
        bperfPassW = true;
        ui_.showWindow(outlet::enterPDWindow);
        return;
    }
    changePasswordTo(next);
}

void AppDelegate::changePasswordTo(std::string_view next) {
    refreshVaultLists();
    const auto held = passPhrase_;  // the work's own hold, whatever happens meanwhile
    auto changed = flows::changePassword(prefs_, held ? std::optional(held->view()) : std::nullopt, next,
                                         backupFileDataArray, longWork());
    if (!changed && changed.error().cancelled) {
        logLine("password change cancelled; the password was not changed");
        return;
    }
    if (!changed) {
        logLine(changed.error().message);
        ui_.runAlert(Alert{"The password could not be changed.", changed.error().message, " Ok ", "", ""});
        return;
    }
    ui_.hideWindow(outlet::preferWindows);
    if (const auto& why = changed->notSavedBecause; !why.empty()) {
        logLine("password change: the settings could not be written: " + why);
        ui_.runAlert(
            Alert{"The new password is in use but not saved yet.",
                  "Every archive opens with the new password now. The settings could not be written (" + why +
                      "), so Vaultry stores it at its next start.",
                  " Ok ", "", ""});
    }
    passPhrase_ = std::make_shared<password::PassPhrase>(next);
    passPhraseVerifier_ = changed->verifier;
    integrityKeeper_->unlockedWith(passPhraseVerifier_);
}

std::string_view AppDelegate::passPhrase() const {
    return passPhrase_ ? passPhrase_->view() : std::string_view();
}

AppDelegate::ShakeAnimation AppDelegate::shakeAnimation(double x, double y, double width) {
    ShakeAnimation a;
    const double d = width * static_cast<double>(0.05f);
    a.path.emplace_back(x, y);
    for (int i = 0; i < 8; ++i) {
        a.path.emplace_back(x - d, y);
        a.path.emplace_back(x + d, y);
    }
    a.path.emplace_back(x, y);  // the path is closed
    return a;
}

}  // namespace vaultry

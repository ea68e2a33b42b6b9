#include <filesystem>
#include <functional>
#include <utility>

#include "app/AppDelegate.h"
#include "platform/Outlets.h"
#include "util/Log.h"
#include "vault/PasswordVerifier.h"
#include "vault/Rekey.h"
#include "vault/StorageLock.h"
#include "vault/VaultIdentity.h"

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
    const auto stored = prefs_.passwordVerifier();
    if (!stored || !password::matches(*stored, entered)) return false;
    if (!password::isVerifier(*stored)) {
        if (auto verifier = password::makeVerifier(entered)) {
            prefs_.setPasswordVerifier(*verifier);
            prefs_.save();
        }
    }
    passPhrase_ = std::make_shared<password::PassPhrase>(entered);
    passPhraseVerifier_ = prefs_.passwordVerifier().value_or("");
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
    const auto refuse = [this](const std::string& why) {
        ui_.runAlert(Alert{"The password could not be changed.", why, " Ok ", "", ""});
    };
    const std::string storage = storageFolder();
    // Archives on a drive that is not there cannot be re-encrypted; a new password stored now
    // would open none of them.
    if (std::string why; !storage.empty() && !storageAvailable(storage, &why)) {
        refuse(why);
        return;
    }
    // Held until the new verifier is stored, so that no other process settles this change.
    auto storageLock = vault::StorageLock::take(storage);
    if (!storageLock) {
        refuse(storageLock.error().message);
        return;
    }
    auto verifier = password::makeVerifier(next);
    if (!verifier) {
        refuse(verifier.error().message);
        return;
    }
    // Every archive is re-encrypted before the new verifier is stored, so the stored password
    // opens every archive at every moment (a change cut short is finished at the next entry).
    if (!storage.empty()) {
        const auto held = passPhrase_;  // the work's own hold, whatever happens meanwhile
        const StringArray records = backupFileDataArray;
        Progress progress;
        Status changed;
        runLongWork("Changing the password", progress, [&] {
            changed =
                vault::changeArchivesPassword(storage, held->view(), next, *verifier, progress, records);
        });
        if (!changed && changed.error().cancelled) {
            logLine("password change cancelled; the password was not changed");
            return;
        }
        if (!changed) {
            refuse(changed.error().message);
            return;
        }
    }
    // From here on every archive opens with the new pass phrase only.
    ui_.hideWindow(outlet::preferWindows);
    prefs_.setPasswordVerifier(*verifier);
    // Not saved, the committed journal stays: the next start stores the verifier.
    std::string why;
    if (prefs_.save(&why)) {
        if (!storage.empty()) vault::finishRekey(storage);
    } else if (!storage.empty() && vault::rekeyPending(storage)) {
        logLine("password change: the settings could not be written: " + why);
        ui_.runAlert(
            Alert{"The new password is in use but not saved yet.",
                  "Every archive opens with the new password now. The settings could not be written (" + why +
                      "), so Vaultry stores it at its next start.",
                  " Ok ", "", ""});
    } else {
        // No archive was re-encrypted: the password stays the one stored.
        prefs_.setPasswordVerifier(passPhraseVerifier_);
        refuse("The settings could not be written (" + why + ")");
        return;
    }
    passPhrase_ = std::make_shared<password::PassPhrase>(next);
    passPhraseVerifier_ = *verifier;
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

#pragma once
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <map>

#include "platform/Notifier.h"
#include "platform/Thumbnailer.h"
#include "platform/Workspace.h"

namespace vaultry::qt {

// Reveal and folders go to a file manager only: its D-Bus interface (FileManager1), then the
// desktop portal, then the default handler of folders when that is a file manager. A web browser
// is never handed a folder. Files open with their default application; and the clipboard.
class QtWorkspace final : public platform::Workspace {
public:
    explicit QtWorkspace(QDBusConnection bus = QDBusConnection::sessionBus());
    bool reveal(const std::string& path) override;
    bool open(const std::string& path) override;
    bool openUrl(const std::string& url) override;
    void copyFiles(const std::vector<std::string>& paths) override;
    void copyText(const std::string& text) override;

private:
    // FileManager1's ShowItems (select the items) or ShowFolders (open the folders).
    bool askFileManager(const QString& method, const std::string& path);
    // The portal's OpenDirectory, when the portal is on the bus.
    bool askPortal(const std::string& path);

    QDBusConnection bus_;
};

// What lets the file manager's window come to the front: the activation token or startup id
// this process was given (XDG_ACTIVATION_TOKEN, DESKTOP_STARTUP_ID), else empty.
QString activationToken();

// The file URI FileManager1.ShowItems expects: every byte outside the unreserved set
// percent-encoded, so names with '#', '%', '?' or blanks reach the file manager whole.
QString showItemsUri(const std::string& path);

// Pictures are decoded at reduced size; other files get their type icon.
class QtThumbnailer final : public platform::Thumbnailer {
public:
    std::optional<Size> imageSize(const std::string& path) override;
    bool writeThumbnail(const std::string& source, const std::string& tiffPath, Size size) override;
};

// Desktop notifications over the freedesktop Notifications service, named after the installed
// desktop entry and icon.
class DBusNotifier final : public QObject, public platform::Notifier {
    Q_OBJECT
public:
    explicit DBusNotifier(QDBusConnection bus = QDBusConnection::sessionBus());
    void schedule(const Notification& n) override;
    std::vector<std::string> delivered() override;
    void remove(const std::string& identifier) override;
    void setResponseHandler(Response handler) override { handler_ = std::move(handler); }
    bool offersActions() override;

private slots:
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);

private:
    QDBusConnection bus_;
    Response handler_;
    std::map<uint, std::string> shown_;  // notification id → our identifier
};

}  // namespace vaultry::qt

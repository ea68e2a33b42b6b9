#pragma once
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <map>

#include "platform/Notifier.h"
#include "platform/Thumbnailer.h"
#include "platform/Workspace.h"

namespace vaultry::qt {

// Reveal through the file manager's D-Bus interface (falling back to opening the folder), open
// with the default application, and the clipboard.
class QtWorkspace final : public platform::Workspace {
public:
    bool reveal(const std::string& path) override;
    bool open(const std::string& path) override;
    bool openUrl(const std::string& url) override;
    void copyFiles(const std::vector<std::string>& paths) override;
};

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

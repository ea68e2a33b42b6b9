#pragma once
#include <QDBusConnection>
#include <QObject>
#include <QString>

class QDBusServiceWatcher;
class QTimer;

namespace vaultry::qt {

// Whether the desktop has a tray to show the icon in, followed for the whole session: a panel may
// start after Vaultry at login, restart, or go. Two kinds are known: a StatusNotifierItem host,
// found through org.kde.StatusNotifierWatcher on the session bus (its appearing and going are
// watched), and, on X11 only, an XEmbed tray (the owner of _NET_SYSTEM_TRAY_S0, looked for every
// few seconds while there is no StatusNotifierItem host). Nothing is decided before the bus has
// answered the first time, so a desktop with both kinds never sees the icon move.
class TrayWatch final : public QObject {
    Q_OBJECT
public:
    enum class Host { None, StatusNotifier, XEmbed };

    explicit TrayWatch(QDBusConnection bus, QObject* parent = nullptr);
    ~TrayWatch() override;

    Host host() const;
    // The first look has answered.
    bool settled() const { return settled_; }
    // The unique bus name of the watcher that last answered; a new one forgot every item.
    QString watcherOwner() const { return watcherOwner_; }
    const QDBusConnection& bus() const { return bus_; }

signals:
    // The host changed, or a watcher took over from another; also once when first settled.
    void changed();

private slots:
    void probe();

private:
    void answered(quint64 serial, bool hosted, const QString& owner);
    void lookForXEmbed();
    void update();

    QDBusConnection bus_;
    QDBusServiceWatcher* names_ = nullptr;
    QTimer* xembedPoll_ = nullptr;
    bool settled_ = false;
    bool statusNotifier_ = false;
    bool xembed_ = false;
    QString watcherOwner_;
    quint64 probes_ = 0;
    Host told_ = Host::None;
    QString toldOwner_;
    bool toldOnce_ = false;
};

}  // namespace vaultry::qt

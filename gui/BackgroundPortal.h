#pragma once
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

namespace vaultry::qt {

// The XDG desktop portal's Background interface: a desktop that watches applications running
// without a window (GNOME's "background apps") is asked to let Vaultry run on, not to start it
// at login (the login entry does that). The answer is only logged; without a portal nothing
// happens, and nothing ever waits for it.
class BackgroundPortal final : public QObject {
    Q_OBJECT
public:
    explicit BackgroundPortal(QDBusConnection bus, QObject* parent = nullptr);

    // Asks once the portal is found to have the interface; a second request in a run is not made.
    void requestBackground(const QString& reason);
    bool requested() const { return requested_; }

signals:
    // The portal's answer: 0 granted, 1 cancelled by the user, 2 otherwise refused.
    void answered(uint response, const QVariantMap& results);

private slots:
    void response(uint response, const QVariantMap& results);

private:
    void ask(const QString& reason);

    QDBusConnection bus_;
    QString requestPath_;
    bool requested_ = false;
};

}  // namespace vaultry::qt

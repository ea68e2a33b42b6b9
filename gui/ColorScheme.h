#pragma once
#include <QDBusVariant>
#include <QObject>
#include <optional>

namespace vaultry::qt {

// Whether the desktop prefers dark colours: the freedesktop appearance portal when a session bus
// offers it (kept current through its change signal), else the platform palette as it was before
// the application styled itself.
class ColorScheme final : public QObject {
    Q_OBJECT
public:
    static ColorScheme& instance();
    bool dark() const;

private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    ColorScheme();
    std::optional<bool> portal_;
    bool paletteDark_ = false;
};

}  // namespace vaultry::qt

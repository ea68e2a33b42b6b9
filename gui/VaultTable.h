#pragma once
#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QStyledItemDelegate>
#include <functional>
#include <memory>
#include <vector>

#include "app/PSTableCellView.h"

namespace vaultry::qt {

// The vault table's rows: one PSTableCellView per record, taken all at once from the
// controller's snapshot. Pictures are made only for rows that are painted, once each.
class VaultTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using Rows = std::vector<std::unique_ptr<PSTableCellView>>;
    using Source = std::function<Rows()>;
    enum Role {
        RowViewRole = Qt::UserRole + 1,
        PictureRole,
        LockRole,
        SwitchRole,
        ShowRole,
        ShowEnabledRole,
        KindRole
    };

    explicit VaultTableModel(QObject* parent = nullptr);
    void setSource(Source source) { source_ = std::move(source); }
    // Re-reads every row. The rows it replaces live on while a row's action runs (an action
    // may reload the table and then still touch its row, even across an alert's event loop).
    void reload();
    // Runs one row's action; the row stays alive throughout and is repainted afterwards.
    template <typename Action>
    void act(PSTableCellView* view, Action action) {
        if (!holds(view)) return;  // reloaded meanwhile (a menu stays open across the event loop)
        ++acting_;
        action(*view);
        --acting_;
        rowChanged(view);
        dropRetired();
    }

    PSTableCellView* rowView(int row) const;
    // After a row's action changed its look.
    void rowChanged(const PSTableCellView* view);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    QIcon pictureOf(int row) const;
    void dropRetired();
    bool holds(const PSTableCellView* view) const;
    int acting_ = 0;
    Source source_;
    Rows rows_;
    std::vector<Rows> retired_;
    mutable std::vector<QIcon> pictures_;
    mutable std::vector<bool> pictureReady_;
};

// Paints a row as the picture, the name with its state, the lock tag, the switch and the show
// button; a click on the switch or the show button runs the row view's action.
class VaultRowDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 58;
    explicit VaultRowDelegate(QObject* parent = nullptr) : QStyledItemDelegate(parent) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

    // Where the switch and the show button sit in a row's rectangle.
    static QRect switchRect(const QRect& row);
    static QRect showRect(const QRect& row);
};

}  // namespace vaultry::qt

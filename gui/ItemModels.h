#pragma once
#include <QAbstractListModel>
#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QSet>
#include <QThreadPool>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Image.h"

namespace vaultry {
class FBFileNode;
class PRCookFileNode;
class PPopoverviewConterller;
}  // namespace vaultry

namespace vaultry::qt {

// Icons of files for the tidy list and the desktop browser. A picture is decoded at its reduced
// icon size on a pool thread the first time a view asks for it (views ask only for the rows they
// draw); until then, and when it cannot be decoded, the file's type icon stands in. Every icon is
// cached by path.
class IconLoader final : public QObject {
    Q_OBJECT
public:
    explicit IconLoader(QObject* parent = nullptr);
    ~IconLoader() override;
    QIcon icon(const platform::ImageRef& image);
    // Blocks until every decode started so far has finished and handed its icon over.
    void waitForDone();
    int decodedCount() const { return decoded_; }

signals:
    void loaded(const QString& path);

private:
    QIcon typeIcon(const QString& path);
    QHash<QString, QIcon> pictures_, types_;
    QSet<QString> pending_;
    int decoded_ = 0;
    QThreadPool pool_;
};

// The cookie table: Website, Name, Secure, Path, Expires, Value, Container. reload() takes a copy of the
// record list (pointers only); cells are read from the records as the view draws them. Sorting
// orders the rows by the chosen column's text and is kept across reloads.
class CookieTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using Records = std::vector<std::shared_ptr<PRCookFileNode>>;
    CookieTableModel(const Records& source, QObject* parent = nullptr);
    void reload();
    std::shared_ptr<PRCookFileNode> recordAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

private:
    QString cell(const PRCookFileNode& record, int column) const;
    void applySort();
    const Records& source_;
    Records rows_;
    int sortColumn_ = -1;
    Qt::SortOrder order_ = Qt::AscendingOrder;
};

// The popover's tidy list: one "Name" column of the controller's rows with their icons. A drag
// inside the list moves a row; the controller owns the order.
class TidyListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    TidyListModel(PPopoverviewConterller& controller, IconLoader& icons, QObject* parent = nullptr);
    void reload();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

private:
    PPopoverviewConterller& controller_;
    IconLoader& icons_;
    int rows_ = 0;
};

// The desktop browser's items (the controller's browse list), icon and name.
class BrowserModel final : public QAbstractListModel {
    Q_OBJECT
public:
    using Items = std::vector<std::shared_ptr<FBFileNode>>;
    BrowserModel(const Items& source, IconLoader& icons, QObject* parent = nullptr);
    void reload();
    std::shared_ptr<FBFileNode> itemAt(int row) const;
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    const Items& source_;
    Items items_;
    IconLoader& icons_;
    bool relayoutPending_ = false;
};

}  // namespace vaultry::qt

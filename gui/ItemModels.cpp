#include "gui/ItemModels.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <algorithm>

#include "app/PPopoverviewConterller.h"
#include "desktop/FBFileNode.h"
#include "gui/QtUi.h"

namespace vaultry::qt {
namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }

// A picture centred on a clear square the size of an icon: it takes an icon's room, so the names
// under pictures and icons line up.
QImage onIconSquare(const QImage& picture) {
    constexpr int kSide = 64;
    QImage square(kSide, kSide, QImage::Format_ARGB32_Premultiplied);
    square.fill(Qt::transparent);
    QPainter painter(&square);
    painter.drawImage((kSide - picture.width()) / 2, (kSide - picture.height()) / 2, picture);
    return square;
}
}  // namespace

// ---- Icons ------------------------------------------------------------------------------------

IconLoader::IconLoader(QObject* parent) : QObject(parent) { pool_.setMaxThreadCount(2); }

IconLoader::~IconLoader() { pool_.waitForDone(); }

QIcon IconLoader::typeIcon(const QString& path) {
    auto it = types_.find(path);
    if (it != types_.end()) return *it;
    static QFileIconProvider provider;
    QIcon icon = provider.icon(QFileInfo(path));
    types_.insert(path, icon);
    return icon;
}

QIcon IconLoader::icon(const platform::ImageRef& image) {
    using Kind = platform::ImageRef::Kind;
    if (image.kind == Kind::IconOfPath) return typeIcon(q(image.value));
    if (image.kind != Kind::File) return iconFor(image);
    const QString path = q(image.value);
    if (auto it = pictures_.find(path); it != pictures_.end()) return *it;
    if (!pending_.contains(path)) {
        pending_.insert(path);
        pool_.start([this, path] {
            QImageReader reader(path);
            const QSize full = reader.size();
            QImage picture;
            const auto [w, h] = pictureIconSize(full.width(), full.height());
            const QImage::Format format = reader.imageFormat();
            if (w > 0 && h > 0 && (format == QImage::Format_Mono || format == QImage::Format_MonoLSB)) {
                // A scaled read loses a one-bit picture's colours; at a bit a pixel it is small.
                picture = reader.read().scaled(w, h, Qt::IgnoreAspectRatio, Qt::FastTransformation);
            } else if (w > 0 && h > 0) {  // never decoded at full size
                reader.setScaledSize(QSize(w, h));
                picture = reader.read();
            }
            if (!picture.isNull()) picture = onIconSquare(picture);
            QMetaObject::invokeMethod(
                this,
                [this, path, picture] {
                    pending_.remove(path);
                    ++decoded_;
                    pictures_.insert(path,
                                     picture.isNull() ? typeIcon(path) : QIcon(QPixmap::fromImage(picture)));
                    emit loaded(path);
                },
                Qt::QueuedConnection);
        });
    }
    return typeIcon(path);
}

void IconLoader::waitForDone() {
    pool_.waitForDone();
    QCoreApplication::sendPostedEvents(this);
}

// ---- Tidy list --------------------------------------------------------------------------------

TidyListModel::TidyListModel(PPopoverviewConterller& controller, IconLoader& icons, QObject* parent)
    : QAbstractTableModel(parent), controller_(controller), icons_(icons) {
    connect(&icons_, &IconLoader::loaded, this, [this] {
        if (rows_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, 0), {Qt::DecorationRole});
    });
}

void TidyListModel::reload() {
    beginResetModel();
    rows_ = static_cast<int>(controller_.rowCount());
    endResetModel();
}

int TidyListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }
int TidyListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 1; }

QVariant TidyListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole && role != Qt::DecorationRole && role != Qt::ToolTipRole) return {};
    const auto node = controller_.rowAt(index.row());
    if (!node) return {};
    if (role == Qt::DisplayRole) return q(node->fileName());
    if (role == Qt::ToolTipRole) return q(node->fullFilePath());
    return icons_.icon(node->fileIcon());
}

QVariant TidyListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section == 0)
        return QCoreApplication::translate("Vaultry", "Name");
    return {};
}

Qt::ItemFlags TidyListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
}

QStringList TidyListModel::mimeTypes() const { return {PPopoverviewConterller::kDragType}; }

QMimeData* TidyListModel::mimeData(const QModelIndexList& indexes) const {
    std::vector<long> rows;
    for (const auto& i : indexes) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (!controller_.tableViewWriteRowsWithIndexes(rows)) return nullptr;
    auto* data = new QMimeData;
    QByteArray bytes;
    for (long r : rows) bytes += QByteArray::number(static_cast<qlonglong>(r)) + ' ';
    data->setData(PPopoverviewConterller::kDragType, bytes);
    return data;
}

bool TidyListModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int,
                                    const QModelIndex&) const {
    return data && data->hasFormat(PPopoverviewConterller::kDragType) && controller_.sourceIndex >= 0;
}

bool TidyListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                 const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent)) return false;
    // Between rows: the row below the gap; on a row: that row; below the last row: after it.
    const long target = row >= 0 ? row : parent.isValid() ? parent.row() : rows_;
    const bool moved = controller_.tableViewAcceptDrop(target);
    reload();
    return moved;
}

// ---- Desktop browser --------------------------------------------------------------------------

BrowserModel::BrowserModel(const Items& source, IconLoader& icons, QObject* parent)
    : QAbstractListModel(parent), source_(source), icons_(icons) {
    connect(&icons_, &IconLoader::loaded, this, [this](const QString& path) {
        bool shown = false;
        for (size_t i = 0; i < items_.size(); ++i)
            if (q(items_[i]->fullFilePath()) == path) {
                const auto at = index(static_cast<int>(i));
                emit dataChanged(at, at, {Qt::DecorationRole});
                shown = true;
            }
        // A new picture can change the size of its item: the view lays the items out again (once
        // for the pictures that arrive together), or it would leave the name drawn where the old
        // layout had put it as well.
        if (!shown || relayoutPending_) return;
        relayoutPending_ = true;
        QTimer::singleShot(0, this, [this] {
            relayoutPending_ = false;
            emit layoutAboutToBeChanged();
            emit layoutChanged();
        });
    });
}

void BrowserModel::reload() {
    beginResetModel();
    items_ = source_;
    endResetModel();
}

std::shared_ptr<FBFileNode> BrowserModel::itemAt(int row) const {
    return row >= 0 && row < static_cast<int>(items_.size()) ? items_[static_cast<size_t>(row)] : nullptr;
}

int BrowserModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(items_.size());
}

QVariant BrowserModel::data(const QModelIndex& index, int role) const {
    const auto item = itemAt(index.row());
    if (!item) return {};
    switch (role) {
        case Qt::DisplayRole:
            return q(item->fileName());
        case Qt::ToolTipRole:
            return q(item->fullFilePath());
        case Qt::DecorationRole:
            return icons_.icon(item->fileIcon());
        case Qt::TextAlignmentRole:
            return int(Qt::AlignHCenter | Qt::AlignTop);
        default:
            return {};
    }
}

}  // namespace vaultry::qt

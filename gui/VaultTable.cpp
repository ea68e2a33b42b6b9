#include "gui/VaultTable.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <algorithm>

#include "desktop/FileKind.h"
#include "gui/QtUi.h"
#include "gui/Style.h"

namespace vaultry::qt {
namespace {

// Named images are few; each is made once.
QIcon namedIcon(const platform::ImageRef& image) {
    static QHash<QString, QIcon> cache;
    const QString key = QString::fromStdString(image.value);
    auto it = cache.find(key);
    if (it == cache.end()) it = cache.insert(key, iconFor(image));
    return *it;
}

bool drawable(const QIcon& icon) { return !icon.isNull() && !icon.pixmap(QSize(32, 32)).isNull(); }

// Our own picture of a kind, for desktops whose icon theme has none for the type.
QIcon kindIcon(const QFileInfo& info) {
    if (info.isDir()) return namedIcon(platform::ImageRef::named("foldernom"));
    const std::string ext = info.suffix().toLower().toStdString();
    const char* image = "othernom";
    if (GetImageType(ext.c_str()) >= 0)
        image = "imagenom";
    else if (GetViedoType(ext.c_str()) >= 0 || GetAudioType(ext.c_str()) >= 0)
        image = "medianom";
    else if (GetDocumentType(ext.c_str()) >= 0 || GetArchiveType(ext.c_str()) >= 0)
        image = "docnom";
    return namedIcon(platform::ImageRef::named(image));
}

// File icons depend on the kind of item, not on its name: one per suffix, and one for folders.
// An encrypted item's original is gone, so the type comes from the name: the theme's icon of the
// name's type, else our picture of its kind; never no picture at all.
QIcon fileIcon(const QString& path) {
    static QFileIconProvider provider;
    static QHash<QString, QIcon> cache;
    const QFileInfo info(path);
    const QString key = info.isDir() ? QStringLiteral("/") : info.suffix().toLower();
    auto it = cache.find(key);
    if (it == cache.end()) {
        QIcon icon = info.exists() ? provider.icon(info) : QIcon();
        if (!drawable(icon)) {
            const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
            icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
        }
        if (!drawable(icon)) icon = kindIcon(info);
        it = cache.insert(key, icon);
    }
    return *it;
}

// A thumbnail is read once, at the size it is shown, and kept in the pixmap cache.
QIcon thumbnail(const QString& path) {
    QPixmap pixmap;
    if (!QPixmapCache::find("vaultry-thumb:" + path, &pixmap)) {
        QImageReader reader(path);
        const QSize size = reader.size();
        if (size.isValid() && (size.width() > 160 || size.height() > 160))
            reader.setScaledSize(size.scaled(160, 160, Qt::KeepAspectRatio));
        pixmap = QPixmap::fromImage(reader.read());
        if (pixmap.isNull()) return {};
        QPixmapCache::insert("vaultry-thumb:" + path, pixmap);
    }
    return QIcon(pixmap);
}

QIcon pictureFor(const platform::ImageRef& image) {
    using Kind = platform::ImageRef::Kind;
    switch (image.kind) {
        case Kind::Named:
            return namedIcon(image);
        case Kind::File: {
            QIcon icon = thumbnail(QString::fromStdString(image.value));
            return icon.isNull() ? fileIcon(QString::fromStdString(image.value)) : icon;
        }
        case Kind::IconOfPath:
            return fileIcon(QString::fromStdString(image.value));
        case Kind::None:
            break;
    }
    return {};
}

QString kindText(const PSTableCellView& row) {
    if (!row.bHidenEncypt) return QCoreApplication::translate("Vaultry", "Hidden in place");
    return row.showsLocked() ? QCoreApplication::translate("Vaultry", "Encrypted · locked")
                             : QCoreApplication::translate("Vaultry", "Encrypted · unlocked, visible");
}

}  // namespace

// ---- Model ------------------------------------------------------------------------------------

VaultTableModel::VaultTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void VaultTableModel::reload() {
    Rows fresh = source_ ? source_() : Rows{};
    beginResetModel();
    retired_.push_back(std::move(rows_));
    rows_ = std::move(fresh);
    pictures_.assign(rows_.size(), QIcon());
    pictureReady_.assign(rows_.size(), false);
    endResetModel();
    dropRetired();
}

bool VaultTableModel::holds(const PSTableCellView* view) const {
    return std::any_of(rows_.begin(), rows_.end(), [view](const auto& r) { return r.get() == view; });
}

void VaultTableModel::dropRetired() {
    if (acting_ == 0) retired_.clear();
}

PSTableCellView* VaultTableModel::rowView(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return nullptr;
    return rows_[static_cast<std::size_t>(row)].get();
}

void VaultTableModel::rowChanged(const PSTableCellView* view) {
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].get() == view) {
            const QModelIndex at = index(static_cast<int>(i), 0);
            emit dataChanged(at, at);
            return;
        }
}

int VaultTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int VaultTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 1; }

QIcon VaultTableModel::pictureOf(int row) const {
    const auto i = static_cast<std::size_t>(row);
    if (!pictureReady_[i]) {
        pictures_[i] = pictureFor(rows_[i]->imageView);
        pictureReady_[i] = true;
    }
    return pictures_[i];
}

QVariant VaultTableModel::data(const QModelIndex& index, int role) const {
    const PSTableCellView* row = rowView(index.row());
    if (!row || index.column() != 0) return {};
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromStdString(row->fileNamelab);
        case Qt::ToolTipRole:
            return QString::fromStdString(row->theFilePath());
        case RowViewRole:
            return QVariant::fromValue(static_cast<void*>(const_cast<PSTableCellView*>(row)));
        case PictureRole:
            return pictureOf(index.row());
        case LockRole:
            return QString::fromStdString(row->lockImageView.value);
        case SwitchRole:
            return QString::fromStdString(row->switchBtn.image.value);
        case ShowRole:
            return QString::fromStdString(row->showBtn.image.value);
        case ShowEnabledRole:
            return row->showBtn.enabled;
        case KindRole:
            return kindText(*row);
        default:
            return {};
    }
}

// ---- Delegate ---------------------------------------------------------------------------------

QRect VaultRowDelegate::showRect(const QRect& row) {
    return {row.right() - 16 - 26, row.center().y() - 13, 26, 26};
}

QRect VaultRowDelegate::switchRect(const QRect& row) {
    const QRect show = showRect(row);
    return {show.left() - 14 - 46, row.center().y() - 14, 46, 28};
}

QSize VaultRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return {option.rect.width(), kRowHeight};
}

void VaultRowDelegate::paint(QPainter* p, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    const QRect r = option.rect;
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    const bool selected = option.state & QStyle::State_Selected;
    const bool hovered = option.state & QStyle::State_MouseOver;
    p->fillRect(r, selected ? schemed("#eef2ff") : hovered ? schemed("#f8fafc") : schemed("#ffffff"));
    p->setPen(schemed("#f1f5f9"));
    p->drawLine(r.left() + 14, r.bottom(), r.right() - 14, r.bottom());

    // Picture: a thumbnail in a rounded frame, or the item's icon.
    const QRect pic(r.left() + 14, r.center().y() - 20, 40, 40);
    const QIcon picture = index.data(VaultTableModel::PictureRole).value<QIcon>();
    QPainterPath clip;
    clip.addRoundedRect(pic, 8, 8);
    p->fillPath(clip, schemed("#f1f5f9"));
    p->save();
    p->setClipPath(clip);
    picture.paint(p, pic.adjusted(3, 3, -3, -3));
    p->restore();

    const QRect show = showRect(r);
    const QRect sw = switchRect(r);
    const QRect lock(sw.left() - 14 - 22, r.center().y() - 11, 22, 22);

    // Name and state.
    const int textLeft = pic.right() + 14;
    const QRect text(textLeft, r.top() + 9, lock.left() - 12 - textLeft, r.height() - 18);
    QFont nameFont = option.font;
    nameFont.setWeight(QFont::DemiBold);
    p->setFont(nameFont);
    p->setPen(schemed("#0f172a"));
    const QString name = index.data(Qt::DisplayRole).toString();
    p->drawText(text.adjusted(0, 0, 0, -text.height() / 2), Qt::AlignLeft | Qt::AlignBottom,
                QFontMetrics(nameFont).elidedText(name, Qt::ElideMiddle, text.width()));
    QFont small = option.font;
    small.setPointSizeF(small.pointSizeF() * 0.88);
    p->setFont(small);
    p->setPen(schemed("#64748b"));
    p->drawText(text.adjusted(0, text.height() / 2 + 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                index.data(VaultTableModel::KindRole).toString());

    const auto image = [&](int role) {
        return namedIcon(platform::ImageRef::named(index.data(role).toString().toStdString()));
    };
    image(VaultTableModel::LockRole).paint(p, lock);
    image(VaultTableModel::SwitchRole).paint(p, sw);
    const bool showEnabled = index.data(VaultTableModel::ShowEnabledRole).toBool();
    if (!showEnabled && darkPalette()) {
        // The generated disabled image lightens the glyph, which on a dark row would stand out
        // more than the enabled one; there the glyph fades instead.
        p->setOpacity(0.35);
        image(VaultTableModel::ShowRole).paint(p, show);
        p->setOpacity(1.0);
    } else {
        image(VaultTableModel::ShowRole)
            .paint(p, show, Qt::AlignCenter, showEnabled ? QIcon::Normal : QIcon::Disabled);
    }
    p->restore();
}

bool VaultRowDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                   const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() != QEvent::MouseButtonRelease) return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) return false;
    auto* vault = qobject_cast<VaultTableModel*>(model);
    PSTableCellView* row = vault ? vault->rowView(index.row()) : nullptr;
    if (!row) return false;
    const QPoint at = mouse->position().toPoint();
    if (switchRect(option.rect).contains(at)) {
        vault->act(row, [](PSTableCellView& r) { r.ClickSwtichAction(); });
        return true;
    }
    if (showRect(option.rect).contains(at)) {
        vault->act(row, [](PSTableCellView& r) { r.ClickShowInFinderAction(); });
        return true;
    }
    return false;
}

}  // namespace vaultry::qt

#include "gui/QtUi.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTextEdit>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <atomic>
#include <thread>

#include "app/AppDelegate.h"
#include "gui/ColorScheme.h"
#include "platform/Outlets.h"
#include "util/Log.h"

namespace vaultry::qt {
namespace {

QString q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Every title and message is looked up in the translations with the literal as key.
QString tr(const std::string& s) { return QCoreApplication::translate("Vaultry", s.c_str()); }

}  // namespace

QIcon iconFor(const platform::ImageRef& image) {
    using Kind = platform::ImageRef::Kind;
    switch (image.kind) {
        case Kind::Named: {
            const QString base = ":/assets/" + q(image.value);
            for (const QString& candidate : {base, base.left(base.lastIndexOf('.')) + ".svg"})
                if (QFile::exists(candidate)) return QIcon(candidate);
            return {};
        }
        case Kind::File:
            return QIcon(q(image.value));
        case Kind::IconOfPath: {
            static QFileIconProvider provider;
            return provider.icon(QFileInfo(q(image.value)));
        }
        case Kind::None:
            break;
    }
    return {};
}

QIcon trayIconFor(const platform::ImageRef& fallback) {
    return QIcon::fromTheme(kTrayIconName, iconFor(fallback));
}

void QtUi::registerOutlet(const std::string& name, QObject* object) {
    if (!outlet::isKnown(name)) refuse(name);
    objects_[name] = object;
}

void QtUi::refuse(std::string_view name) {
    logLine("ui: no outlet is named \"" + std::string(name) + "\"");
    if (refusals_) refusals_(name);
}

void QtUi::registerReloader(const std::string& name, Reloader reload) {
    reloaders_[name] = std::move(reload);
}

QObject* QtUi::object(std::string_view name) const {
    auto it = objects_.find(name);
    return it == objects_.end() ? nullptr : it->second.data();
}

QtUi::Fallback& QtUi::fallback(std::string_view name) {
    // A registered outlet whose object is gone (the popover between showings) keeps its state
    // here; a name no window ever registered is a fault of the caller.
    if (!objects_.contains(name)) refuse(name);
    auto it = fallbacks_.find(name);
    if (it == fallbacks_.end()) it = fallbacks_.emplace(std::string(name), Fallback{}).first;
    return it->second;
}

QWidget* QtUi::windowOf(std::string_view name) const {
    auto* w = qobject_cast<QWidget*>(object(name));
    return w ? w->window() : nullptr;
}

const void* QtUi::outlet(std::string_view name) {
    if (QObject* o = object(name)) return o;
    return &fallback(name);
}

void QtUi::showWindow(std::string_view window) {
    QWidget* w = windowOf(window);
    if (!w) {
        fallback(window).visible = true;
        return;
    }
    w->show();
    centerWindow(window);
    w->raise();
    w->activateWindow();
}

void QtUi::hideWindow(std::string_view window) {
    if (QWidget* w = windowOf(window))
        w->hide();
    else
        fallback(window).visible = false;
}

void QtUi::centerWindow(std::string_view window) {
    QWidget* w = windowOf(window);
    if (!w) return;
    const QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = w->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    w->move(frame.topLeft());
}

bool QtUi::isVisible(std::string_view window) {
    if (QWidget* w = windowOf(window)) return w->isVisible();
    return fallback(window).visible;
}

void QtUi::activateApp() {
    if (QWidget* w = QApplication::activeWindow()) w->raise();
}

// The controller's shake path, played on the window's position: eight swings of 5% of its width
// to each side within half a second, ending where it started.
void QtUi::shake(std::string_view window) {
    QWidget* w = windowOf(window);
    if (!w) return;
    // A shake that starts while another runs begins from where the first began, so the window
    // never drifts.
    QPoint origin = w->pos();
    if (auto* running = w->findChild<QPropertyAnimation*>("vaultryShake", Qt::FindDirectChildrenOnly)) {
        origin = running->startValue().toPoint();
        running->stop();
        delete running;
        w->move(origin);
    }
    // The path around (0, 0) gives each point's offset from the origin.
    const auto shake = AppDelegate::shakeAnimation(0, 0, w->width());
    auto* anim = new QPropertyAnimation(w, "pos", w);
    anim->setObjectName("vaultryShake");
    anim->setDuration(static_cast<int>(shake.duration * 1000));
    const auto last = static_cast<double>(shake.path.size() - 1);
    for (std::size_t i = 0; i < shake.path.size(); ++i) {
        const auto [dx, dy] = shake.path[i];
        anim->setKeyValueAt(static_cast<double>(i) / last,
                            origin + QPoint(static_cast<int>(dx), static_cast<int>(dy)));
    }
    anim->start(QAbstractAnimation::DeleteWhenStopped);
}

void QtUi::setHidden(std::string_view outlet, bool hidden) {
    if (auto* w = widget<QWidget>(outlet))
        w->setHidden(hidden);
    else
        fallback(outlet).hidden = hidden;
}

bool QtUi::isHidden(std::string_view outlet) {
    if (auto* w = widget<QWidget>(outlet)) return w->isHidden();
    return fallback(outlet).hidden;
}

void QtUi::setImage(std::string_view outlet, const platform::ImageRef& image) {
    images_.insert_or_assign(std::string(outlet), image);
    QObject* o = object(outlet);
    if (auto* b = qobject_cast<QAbstractButton*>(o)) {
        b->setIcon(iconFor(image));
    } else if (auto* tray = qobject_cast<QSystemTrayIcon*>(o)) {
        tray->setIcon(trayIconFor(image));
    } else if (auto* l = qobject_cast<QLabel*>(o)) {
        const QIcon icon = iconFor(image);
        l->setPixmap(icon.pixmap(l->size().isEmpty() ? QSize(64, 64) : l->size()));
    } else if (o) {
        o->setProperty("vaultryImage", QVariant::fromValue(iconFor(image)));
    }
}

platform::ImageRef QtUi::image(std::string_view outlet) {
    auto it = images_.find(outlet);
    return it == images_.end() ? platform::ImageRef{} : it->second;
}

void QtUi::setText(std::string_view outlet, std::string text) {
    QObject* o = object(outlet);
    const QString t = q(text);
    if (auto* l = qobject_cast<QLabel*>(o))
        l->setText(t);
    else if (auto* e = qobject_cast<QLineEdit*>(o))
        e->setText(t);
    else if (auto* b = qobject_cast<QAbstractButton*>(o))
        b->setText(t);
    else if (auto* te = qobject_cast<QTextEdit*>(o))
        te->setPlainText(t);
    else if (auto* c = qobject_cast<QComboBox*>(o))
        c->setCurrentText(t);
    else if (auto* time = qobject_cast<QTimeEdit*>(o))
        time->setTime(QTime::fromString(t, "HH:mm"));
    else if (auto* list = qobject_cast<QListWidget*>(o)) {  // one row a line
        list->clear();
        if (!t.isEmpty()) list->addItems(t.split('\n'));
    } else if (auto* w = qobject_cast<QWidget*>(o); w && w->isWindow())
        w->setWindowTitle(t);
    else
        fallback(outlet).text = std::move(text);
}

std::string QtUi::text(std::string_view outlet) {
    QObject* o = object(outlet);
    QString t;
    if (auto* l = qobject_cast<QLabel*>(o))
        t = l->text();
    else if (auto* e = qobject_cast<QLineEdit*>(o))
        t = e->text();
    else if (auto* b = qobject_cast<QAbstractButton*>(o))
        t = b->text();
    else if (auto* te = qobject_cast<QTextEdit*>(o))
        t = te->toPlainText();
    else if (auto* c = qobject_cast<QComboBox*>(o))
        t = c->currentText();
    else if (auto* time = qobject_cast<QTimeEdit*>(o))
        t = time->time().toString("HH:mm");
    else if (auto* list = qobject_cast<QListWidget*>(o)) {
        QStringList rows;
        for (int r = 0; r < list->count(); ++r) rows << list->item(r)->text();
        t = rows.join('\n');
    } else
        return fallback(outlet).text;
    return t.toStdString();
}

void QtUi::setEnabled(std::string_view outlet, bool enabled) {
    if (auto* w = widget<QWidget>(outlet))
        w->setEnabled(enabled);
    else
        fallback(outlet).enabled = enabled;
}

void QtUi::setState(std::string_view outlet, bool on) {
    if (auto* b = widget<QAbstractButton>(outlet)) {
        b->setCheckable(true);
        b->setChecked(on);
    } else {
        fallback(outlet).state = on;
    }
}

bool QtUi::state(std::string_view outlet) {
    if (auto* b = widget<QAbstractButton>(outlet)) return b->isChecked();
    return fallback(outlet).state;
}

void QtUi::setNumber(std::string_view outlet, double value) {
    if (auto* s = widget<QAbstractSlider>(outlet))
        s->setValue(static_cast<int>(value));
    else if (auto* c = widget<QComboBox>(outlet))
        c->setCurrentIndex(static_cast<int>(value));
    else if (auto* view = widget<QAbstractItemView>(outlet); view && view->model())
        view->setCurrentIndex(view->model()->index(static_cast<int>(value), 0));
    else
        fallback(outlet).number = value;
}

double QtUi::number(std::string_view outlet) {
    if (auto* s = widget<QAbstractSlider>(outlet)) return s->value();
    if (auto* c = widget<QComboBox>(outlet)) return c->currentIndex();
    if (auto* view = widget<QAbstractItemView>(outlet)) return view->currentIndex().row();
    return fallback(outlet).number;
}

// The current row stands for the clicked one: a right click makes its row current before the
// row's menu opens.
std::int64_t QtUi::clickedRow(std::string_view table) {
    if (!objects_.contains(table)) refuse(table);
    if (auto* view = widget<QAbstractItemView>(table)) return view->currentIndex().row();
    return -1;
}

void QtUi::reload(std::string_view table) {
    if (!objects_.contains(table)) refuse(table);
    if (auto it = reloaders_.find(table); it != reloaders_.end() && it->second) it->second();
}

platform::AlertAnswer QtUi::runAlert(const platform::Alert& alert) {
    QMessageBox box(QApplication::activeWindow());
    box.setIconPixmap(
        iconFor(platform::ImageRef::named("appicon")).pixmap(QSize(56, 56), box.devicePixelRatioF()));
    box.setWindowTitle("Vaultry");
    box.setText(tr(alert.message));
    if (!alert.informative.empty()) box.setInformativeText(tr(alert.informative));
    QAbstractButton* def =
        box.addButton(tr(alert.defaultTitle.empty() ? " Ok " : alert.defaultTitle), QMessageBox::AcceptRole);
    QAbstractButton* alt = alert.alternateTitle.empty()
                               ? nullptr
                               : box.addButton(tr(alert.alternateTitle), QMessageBox::RejectRole);
    QAbstractButton* other = alert.otherTitle.empty()
                                 ? nullptr
                                 : box.addButton(tr(alert.otherTitle), QMessageBox::DestructiveRole);
    box.setDefaultButton(qobject_cast<QPushButton*>(def));
    def->setProperty("primary", true);
    def->style()->unpolish(def);
    def->style()->polish(def);
    // Messages may carry file names: never read them as markup.
    box.setTextFormat(Qt::PlainText);
    if (auto* label = box.findChild<QLabel*>("qt_msgbox_label")) {
        QFont bold = label->font();
        bold.setWeight(QFont::DemiBold);
        label->setFont(bold);
    }
    if (auto* info = box.findChild<QLabel*>("qt_msgbox_informativelabel")) info->setTextFormat(Qt::PlainText);
    if (alt) box.setEscapeButton(alt);
    box.exec();
    if (box.clickedButton() == alt && alt) return platform::AlertAnswer::Alternate;
    if (box.clickedButton() == other && other) return platform::AlertAnswer::Other;
    if (box.clickedButton() != def && alt) return platform::AlertAnswer::Alternate;
    return platform::AlertAnswer::Default;
}

namespace {

constexpr const char* kChosen = "vaultryChosen";

// Qt's file modes choose either files or folders. For panels that take both (secure erase), the
// dialog's own views accept a selection of either and its Open button takes what is selected;
// with nothing selected the dialog's usual handling of a typed name applies.
void chooseFilesAndFolders(QFileDialog& dialog, bool multiple) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    auto* box = dialog.findChild<QDialogButtonBox*>("buttonBox");
    auto* list = dialog.findChild<QListView*>("listView");
    auto* tree = dialog.findChild<QTreeView*>("treeView");
    if (!box || !list || !tree || !list->selectionModel()) return;
    const auto mode = multiple ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection;
    list->setSelectionMode(mode);
    tree->setSelectionMode(mode);
    QObject::disconnect(box, &QDialogButtonBox::accepted, &dialog, nullptr);
    QObject::connect(box, &QDialogButtonBox::accepted, &dialog, [&dialog, list] {
        QStringList paths;
        for (const QModelIndex& index : list->selectionModel()->selectedRows(0))
            paths << index.data(QFileSystemModel::FilePathRole).toString();
        if (paths.isEmpty()) {
            static_cast<QDialog&>(dialog).accept();  // the dialog's own handling
            return;
        }
        dialog.setProperty(kChosen, paths);
        static_cast<QDialog&>(dialog).done(QDialog::Accepted);
    });
}

void configure(QFileDialog& dialog, const platform::OpenPanel& panel) {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (panel.chooseDirectories && panel.chooseFiles) {
        chooseFilesAndFolders(dialog, panel.multipleSelection);
    } else if (panel.chooseDirectories) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
    } else {
        dialog.setFileMode(panel.multipleSelection ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    }
    if (!panel.directory.empty()) dialog.setDirectory(q(panel.directory));
    if (!panel.message.empty()) dialog.setWindowTitle(tr(panel.message));
    if (!panel.prompt.empty()) dialog.setLabelText(QFileDialog::Accept, tr(panel.prompt));
    if (!panel.canCreateDirectories) dialog.setOption(QFileDialog::ReadOnly);
}

platform::Ui::Paths chosen(const QFileDialog& dialog) {
    platform::Ui::Paths out;
    const QVariant picked = dialog.property(kChosen);
    for (const QString& f : picked.isValid() ? picked.toStringList() : dialog.selectedFiles())
        out.push_back(f.toStdString());
    return out;
}

// True where the desktop's own picker stands in for Qt's dialog: Qt then builds none of its widgets.
bool desktopPickerFromQt() {
    QFileDialog probe;
    return probe.findChild<QListView*>("listView") == nullptr;
}

// The desktop's picker takes files or one folder, never both at once: where a panel takes both,
// the user says first which it is to be. Qt's own dialog takes both together. Nothing when the
// user cancels.
bool bothKinds(const platform::OpenPanel& panel) { return panel.chooseFiles && panel.chooseDirectories; }

std::optional<platform::OpenPanel> oneKind(platform::OpenPanel panel, bool desktopPicker, QWidget* parent) {
    if (!bothKinds(panel) || !desktopPicker) return panel;
    QMessageBox box(parent);
    box.setWindowTitle("Vaultry");
    box.setTextFormat(Qt::PlainText);
    box.setText(panel.message.empty() ? tr("Choose files or a folder.") : tr(panel.message));
    // The roles only place the buttons: Cancel, Folder…, Files… on GNOME, in the desktop's order elsewhere.
    QAbstractButton* files = box.addButton(tr("Files…"), QMessageBox::YesRole);
    QAbstractButton* folder = box.addButton(tr("Folder…"), QMessageBox::NoRole);
    QAbstractButton* cancel = box.addButton(tr("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(qobject_cast<QPushButton*>(files));
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == files) {
        panel.chooseDirectories = false;
    } else if (box.clickedButton() == folder) {
        panel.chooseFiles = false;
        panel.multipleSelection = false;
    } else {
        return std::nullopt;
    }
    return panel;
}

}  // namespace

bool QtUi::desktopPicker() const { return desktopPicker_.value_or(desktopPickerFromQt()); }

std::optional<platform::Ui::Paths> QtUi::runOpenPanel(const platform::OpenPanel& asked) {
    const auto panel = oneKind(asked, bothKinds(asked) && desktopPicker(), QApplication::activeWindow());
    if (!panel) return std::nullopt;
    QFileDialog dialog(QApplication::activeWindow());
    configure(dialog, *panel);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return chosen(dialog);
}

void QtUi::beginSheet(std::string_view window, const platform::OpenPanel& asked,
                      std::function<void(std::optional<Paths>)> done) {
    const auto panel = oneKind(asked, bothKinds(asked) && desktopPicker(), windowOf(window));
    if (!panel) {
        done(std::nullopt);
        return;
    }
    auto* dialog = new QFileDialog(windowOf(window));
    configure(*dialog, *panel);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done = std::move(done)](int result) {
        if (result == QDialog::Accepted)
            done(chosen(*dialog));
        else
            done(std::nullopt);
    });
    dialog->open();
}

std::optional<std::string> QtUi::runSavePanel(const platform::SavePanel& panel) {
    QFileDialog dialog(QApplication::activeWindow());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (!panel.directory.empty()) dialog.setDirectory(q(panel.directory));
    if (!panel.fileName.empty()) dialog.selectFile(q(panel.fileName));
    if (!panel.message.empty()) dialog.setWindowTitle(tr(panel.message));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

void QtUi::runWithProgress(std::string title, Progress& progress, const std::function<void()>& work) {
    QWidget* window = windowOf(outlet::progressWindow);
    auto* label = widget<QLabel>(outlet::progressLab);
    auto* bar = widget<QProgressBar>(outlet::progressBar);
    auto* cancel = widget<QAbstractButton>(outlet::progressCancelBtn);
    const QString heading = tr(title);
    const auto show = [&] {
        const Progress::State now = progress.state();
        if (label) label->setText(now.step.empty() ? heading : q(now.step));
        if (!bar) return;
        if (now.total == 0) {
            bar->setRange(0, 0);  // nothing to count yet: a busy bar
        } else {
            bar->setRange(0, 1000);
            bar->setValue(static_cast<int>(std::min(now.done, now.total) * 1000 / now.total));
        }
    };
    QMetaObject::Connection cancelled;
    if (cancel) {
        cancel->setEnabled(true);
        cancelled = QObject::connect(cancel, &QAbstractButton::clicked, cancel, [&] {
            progress.cancel();
            cancel->setEnabled(false);
            if (label) label->setText(tr("Cancelling…"));
        });
    }
    show();
    if (window) {
        window->setWindowTitle(heading);
        showWindow(outlet::progressWindow);
    }

    QEventLoop loop;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
        if (!progress.cancelled()) show();
    });
    ticker.start(100);
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        work();
        finished = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    if (!finished) loop.exec();
    worker.join();
    ticker.stop();
    if (cancelled) QObject::disconnect(cancelled);
    if (window) hideWindow(outlet::progressWindow);
}

void QtUi::terminate() { QCoreApplication::quit(); }

bool QtUi::darkAppearance() { return ColorScheme::instance().dark(); }

}  // namespace vaultry::qt

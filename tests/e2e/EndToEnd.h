#pragma once
// The fixture of the end-to-end tests: the application as `vaultry` builds it (the same object
// graph, the Linux ports on a temporary home), driven by clicking its real widgets. Only the
// desktop's own services are stood in for: nothing is opened on the desktop, notifications go to
// a fake, and log-in items are not touched.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QSet>
#include <QTableView>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "app/PRUpdateController.h"
#include "gui/Application.h"
#include "platform/Outlets.h"
#include "support/FakePorts.h"

namespace fs = std::filesystem;

namespace vaultry::e2e {

using test::TempDir;

// Runs the event loop until pred() holds; false when it did not within the bound (a hang guard,
// not a measurement).
inline bool waitFor(const std::function<bool()>& pred) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > 30000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

inline QString plain(QString s) { return s.remove('&'); }

template <typename T = QAbstractButton>
T* findByText(QWidget* root, const QString& text) {
    for (T* b : root->findChildren<T*>())
        if (plain(b->text()) == text) return b;
    return nullptr;
}

// Answers the alerts and folder or file choosers the application opens, in order, as a user would:
// an alert by pressing the button with the given title, a chooser by choosing the given path (or
// cancelling when the path is empty). Alerts beyond the script are answered with their default.
class Answers {
public:
    struct Answer {
        bool chooser = false;
        std::string button;               // alerts
        std::optional<std::string> path;  // choosers; nullopt: cancel
    };
    Answers() {
        timer_.setInterval(15);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }
    void button(std::string title) { script_.push_back({false, std::move(title), std::nullopt}); }
    void choose(std::string path) { script_.push_back({true, {}, std::move(path)}); }
    void cancelChooser() { script_.push_back({true, {}, std::nullopt}); }
    std::vector<std::string> alerts;  // the messages of the alerts seen
    bool done() const { return script_.empty() && answered_.isEmpty(); }

private:
    void poll() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || answered_.contains(w)) continue;
            // Answered from a timer of its own: whatever the answer opens next runs in a nested
            // loop, and a timer does not fire again while its own handler runs.
            const auto later = [this, w](std::function<void()> act) {
                answered_.insert(w);
                QTimer::singleShot(0, w, [this, w, act = std::move(act)] {
                    act();
                    answered_.remove(w);
                });
            };
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                alerts.push_back(box->text().toStdString());
                QAbstractButton* pressed = box->defaultButton();
                if (!script_.empty() && !script_.front().chooser) {
                    const QString title = QString::fromStdString(script_.front().button).trimmed();
                    for (QAbstractButton* b : box->buttons())
                        if (plain(b->text()).trimmed() == title) pressed = b;
                    script_.pop_front();
                }
                if (pressed) later([pressed] { pressed->click(); });
                return;
            }
            if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
                // A chooser nobody expected stays open: the test fails.
                if (script_.empty() || !script_.front().chooser) return;
                const auto path = script_.front().path;
                script_.pop_front();
                if (!path) {
                    later([dialog] { dialog->reject(); });
                    return;
                }
                later([dialog, path] {
                    if (dialog->fileMode() == QFileDialog::Directory) {
                        // A folder chooser answers with the folder it shows.
                        dialog->setDirectory(QString::fromStdString(*path));
                        static_cast<QDialog*>(dialog)->accept();  // as its Open button does
                    } else {
                        // The path typed into its name field, taken as it stands.
                        if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit"))
                            name->setText(QString::fromStdString(*path));
                        static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
                    }
                });
                return;
            }
        }
    }
    std::deque<Answer> script_;
    QSet<QWidget*> answered_;
    QTimer timer_;
};

// A home of its own for each test, as the environment tells `vaultry` where it lives.
struct Home {
    TempDir dir;
    Home() {
        setenv("HOME", dir.path().c_str(), 1);
        for (const char* v :
             {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DESKTOP_DIR", "XDG_DOCUMENTS_DIR", "XDG_DOWNLOAD_DIR",
              "VAULTRY_UPDATE_URL", "VAULTRY_PRODUCT_URL", "VAULTRY_HELP_URL"})
            unsetenv(v);
        fs::create_directories(desktop());
        fs::create_directories(dir / "Documents");
    }
    fs::path desktop() const { return dir / "Desktop"; }
    fs::path trash() const { return dir / ".local/share/Trash"; }
};

// A bus that cannot be reached: the tray and the portal of the desktop the tests run on stay out.
inline QDBusConnection noBus() {
    return QDBusConnection::connectToBus(QString("unix:path=/nonexistent/vaultry-e2e-bus"),
                                         "vaultry-e2e-no-bus");
}

// One run of the application: the object graph of `vaultry`, started as main() starts it.
struct AppRun {
    test::FakeWorkspace workspace;
    test::FakeNotifier notifier;
    test::FakeLoginItems loginItems;
    test::FakeHttp http;  // answers nothing: the start-up check fails at once, silently
    QDBusConnection bus;  // where the tray and the portal are looked for
    qt::Application app;

    // realHttp: the libcurl adapter, as `vaultry` has it. desktopBus: a session bus to look for the
    // tray and the portal on; none by default.
    explicit AppRun(bool realHttp = false, std::optional<QDBusConnection> desktopBus = std::nullopt)
        : bus(desktopBus ? *desktopBus : noBus()),
          app(*qApp, qt::PortChoices{&workspace, &notifier, realHttp ? nullptr : &http, &loginItems, &bus}) {
        app.start();
        QCoreApplication::processEvents();
    }
    ~AppRun() {
        // Every worker has handed back before the controllers go.
        waitFor([this] {
            return !app.delegate->isTidying() && !app.delegate->isMeasuringTrash() &&
                   !app.delegate->updateWindowController().isChecking() && !app.delegate->isMovingStorage();
        });
    }
    AppDelegate& delegate() { return *app.delegate; }
    QMainWindow* main() { return app.windows.mainWindow(); }
    template <typename T = QWidget>
    T* widget(const char* outlet) {
        return app.ui.widget<T>(outlet);
    }
    QWidget* window(const char* outlet) { return app.windows.topLevels().at(outlet); }
    void click(const char* outlet) {
        auto* w = widget(outlet);
        ASSERT_NE(w, nullptr) << outlet;
        QTest::mouseClick(w, Qt::LeftButton);
    }
    void clickText(QWidget* root, const QString& text) {
        auto* b = findByText(root, text);
        ASSERT_NE(b, nullptr) << text.toStdString();
        ASSERT_TRUE(b->isEnabled()) << text.toStdString();
        b->click();
    }
    // The popover opens from the main window's "Quick Panel" button when no tray shows the icon.
    QWidget* openPopover() {
        if (auto* pop = app.banner.popover(); pop && pop->isVisible()) return pop;
        auto* b = findByText(main(), "Quick Panel");
        if (!b) return nullptr;
        b->click();
        waitFor([this] { return app.banner.popover() && app.banner.popover()->isVisible(); });
        return app.banner.popover();
    }
    QAction* menuAction(const QString& text) {
        for (QAction* a : app.banner.menu()->actions())
            if (plain(a->text()) == text) return a;
        return nullptr;
    }
    int browserRows() { return widget<QListView>(outlet::theBroswerView)->model()->rowCount(); }
    int tidyRows() { return widget<QTableView>(outlet::tidyTableView)->model()->rowCount(); }
    std::vector<std::string> browserNames() {
        std::vector<std::string> names;
        auto* m = widget<QListView>(outlet::theBroswerView)->model();
        for (int r = 0; r < m->rowCount(); ++r)
            names.push_back(m->index(r, 0).data().toString().toStdString());
        return names;
    }
    std::vector<std::string> tidyNames() {
        std::vector<std::string> names;
        auto* m = widget<QTableView>(outlet::tidyTableView)->model();
        for (int r = 0; r < m->rowCount(); ++r)
            names.push_back(m->index(r, 0).data().toString().toStdString());
        return names;
    }
};

// Tidies through the main window's button; the first time it asks where tidied items go.
inline void tidyWithLocation(AppRun& run, const fs::path& location, Answers& answers) {
    run.app.windows.showPage(qt::AppWindows::Page::Desktop);
    run.clickText(run.main(), "Tidy Desktop Now");
    ASSERT_TRUE(run.window(outlet::connectWindow)->isVisible());
    EXPECT_TRUE(run.widget(outlet::startTidyView)->isVisible());
    answers.choose(location.string());
    run.click(outlet::tidybutton);
    ASSERT_TRUE(waitFor([&] { return answers.done() && !run.delegate().isTidying(); }));
    ASSERT_TRUE(waitFor([&] { return run.browserRows() > 0; }));
}

}  // namespace vaultry::e2e

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDBusMessage>
#include <QDataStream>
#include <QSignalSpy>
#include <QWidget>
#include <string>
#include <vector>

#include "gui/GuiHarness.h"
#include "gui/PrivateBus.h"
#include "gui/SingleInstance.h"
#include "util/Log.h"

using namespace vaultry;
using namespace vaultry::qt;

namespace {

// Sets environment variables for one test and puts back what was there.
class Environment {
public:
    ~Environment() {
        for (const auto& [name, value] : saved_) {
            if (value.isNull())
                qunsetenv(name.constData());
            else
                qputenv(name.constData(), value);
        }
    }
    void set(const char* name, const QByteArray& value) {
        save(name);
        qputenv(name, value);
    }
    void unset(const char* name) {
        save(name);
        qunsetenv(name);
    }

private:
    void save(const char* name) {
        for (const auto& s : saved_)
            if (s.first == name) return;
        saved_.emplace_back(name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray());
    }
    std::vector<std::pair<QByteArray, QByteArray>> saved_;
};

// The log's lines while the object lives.
struct LogLines {
    LogLines() {
        previous_ = setLogSink([this](std::string_view line) { lines.emplace_back(line); });
    }
    ~LogLines() { setLogSink(previous_); }
    std::string all() const {
        std::string text;
        for (const auto& l : lines) text += l + "\n";
        return text;
    }
    std::vector<std::string> lines;

private:
    LogSink previous_;
};

}  // namespace

TEST(HandOver, ALaterStartSendsTheLaunchersTokensWithItsArguments) {
    Environment env;
    env.set("XDG_ACTIVATION_TOKEN", "kwin-4711");
    env.set("DESKTOP_STARTUP_ID", "gnome-shell/vaultry/1234-0-host_TIME5678");
    const QVariantMap data = startupPlatformData();
    EXPECT_EQ(data.value(kActivationTokenKey).toString(), "kwin-4711");
    EXPECT_EQ(data.value(kDesktopStartupIdKey).toString(), "gnome-shell/vaultry/1234-0-host_TIME5678");

    const QStringList arguments{"a file.txt", "--hidden"};
    QByteArray message = encodeHandOver(arguments, data);
    QDataStream in(message);
    QStringList gotArguments;
    QVariantMap gotData;
    ASSERT_TRUE(decodeHandOver(in, gotArguments, gotData));
    EXPECT_EQ(gotArguments, arguments);
    EXPECT_EQ(gotData, data);

    // A start from a terminal has neither, and says so by leaving them out.
    env.unset("XDG_ACTIVATION_TOKEN");
    env.unset("DESKTOP_STARTUP_ID");
    EXPECT_TRUE(startupPlatformData().isEmpty());
}

TEST(HandOver, AMessageThatIsStillArrivingIsReadOnlyWhenWhole) {
    const QByteArray whole = encodeHandOver({"x"}, {{kActivationTokenKey, QString("t-1")}});
    QByteArray arrived = whole.left(whole.size() - 3);
    QBuffer socket(&arrived);
    socket.open(QIODevice::ReadOnly);
    QDataStream in(&socket);
    QStringList arguments;
    QVariantMap data;
    EXPECT_FALSE(decodeHandOver(in, arguments, data));
    EXPECT_EQ(socket.pos(), 0) << "what arrived is read again with the rest";
    socket.close();
    arrived = whole;
    socket.open(QIODevice::ReadOnly);
    QDataStream again(&socket);
    ASSERT_TRUE(decodeHandOver(again, arguments, data));
    EXPECT_EQ(data.value(kActivationTokenKey).toString(), "t-1");
}

TEST(HandOver, TheRunningInstanceTakesTheTokenOverTheBusAlsoFromEarlierVersions) {
    test::guiApp();
    test::PrivateBus bus;
    if (bus.address().isEmpty()) GTEST_SKIP() << test::PrivateBus::kMissing;
    QDBusConnection running = bus.connect("running");
    QDBusConnection later = bus.connect("later");
    ASSERT_TRUE(running.isConnected() && later.isConnected());
    SingleInstance instance;
    ASSERT_TRUE(
        running.registerObject("/com/Quenmark/vaultry", &instance, QDBusConnection::ExportScriptableSlots));
    QSignalSpy spy(&instance, &SingleInstance::activated);

    QDBusMessage call = QDBusMessage::createMethodCall(running.baseService(), "/com/Quenmark/vaultry",
                                                       "com.Quenmark.vaultry.Instance", "Activate");
    call << QStringList{"b.txt"} << QVariantMap{{kActivationTokenKey, QString("mutter-99")}};
    QDBusMessage reply = test::answerOf(later.asyncCall(call));
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toStringList(), QStringList{"b.txt"});
    EXPECT_EQ(spy.at(0).at(1).toMap().value(kActivationTokenKey).toString(), "mutter-99");

    // A start of an earlier version hands over its arguments alone.
    call.setArguments({QStringList{"c.txt"}});
    reply = test::answerOf(later.asyncCall(call));
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(1).at(0).toStringList(), QStringList{"c.txt"});
    EXPECT_TRUE(spy.at(1).at(1).toMap().isEmpty());
    running.unregisterObject("/com/Quenmark/vaultry");
}

TEST(HandOver, OnWaylandTheTokenGoesWhereQtsActivationReadsIt) {
    Environment env;
    env.unset("XDG_ACTIVATION_TOKEN");
    EXPECT_EQ(takeActivationToken({{kActivationTokenKey, QString("kwin-1")}}, true), "kwin-1");
    EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), "kwin-1");

    // GLib's launchers give the token as the startup id as well; a launcher may give only that.
    qunsetenv("XDG_ACTIVATION_TOKEN");
    EXPECT_EQ(takeActivationToken({{kDesktopStartupIdKey, QString("gnome-2")}}, true), "gnome-2");
    EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), "gnome-2");

    // On X11 an activation token means nothing to the window manager, and a startup id is no token.
    qunsetenv("XDG_ACTIVATION_TOKEN");
    EXPECT_EQ(takeActivationToken(
                  {{kActivationTokenKey, QString("kwin-3")}, {kDesktopStartupIdKey, QString("x")}}, false),
              "");
    EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));
    EXPECT_EQ(takeActivationToken({}, true), "");
    EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));
}

TEST(HandOver, TheLogSaysWhatTheDesktopWasAskedForNotThatTheWindowCameForward) {
    test::guiApp();
    Environment env;
    env.unset("XDG_ACTIVATION_TOKEN");
    QWidget window;
    {
        LogLines log;
        raiseForAnotherStart(&window, {}, {}, true);
        EXPECT_TRUE(window.isVisible());
        EXPECT_NE(log.all().find("the desktop may keep it behind others"), std::string::npos) << log.all();
        EXPECT_EQ(log.all().find("raised"), std::string::npos) << log.all();
    }
    window.hide();
    {
        LogLines log;
        raiseForAnotherStart(&window, {}, {{kActivationTokenKey, QString("kwin-5")}}, true);
        EXPECT_NE(log.all().find("activation token"), std::string::npos) << log.all();
        EXPECT_EQ(log.all().find("raised"), std::string::npos) << log.all();
        // The compositor here took no token; it must not reach programs started later.
        EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));
    }
    {
        LogLines log;
        raiseForAnotherStart(&window, {}, {}, false);
        EXPECT_NE(log.all().find("another start: main window raised"), std::string::npos) << log.all();
    }
    {
        LogLines log;
        raiseForAnotherStart(&window, {"--hidden"}, {{kActivationTokenKey, QString("kwin-6")}}, true);
        EXPECT_TRUE(log.lines.empty()) << log.all();
        EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN")) << "a login start asks for nothing";
    }
}

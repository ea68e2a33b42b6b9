// The application folders open with, as the freedesktop MIME rules find it, and whether it is a
// file manager: a folder of the vault is never handed to anything else.
#include <gtest/gtest.h>

#include "platform/linux/FolderHandler.h"
#include "support/FakePorts.h"

namespace vaultry::platform {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using test::writeFile;

// A desktop of our own: configuration and data folders, none of the machine's.
struct Desktop {
    test::TempDir dir;
    XdgDirs dirs;
    Desktop() {
        dirs.configHome = dir / "config";
        dirs.configDirs = {dir / "etc-xdg"};
        dirs.dataHome = dir / "data";
        dirs.dataDirs = {dir / "usr-share"};
    }
    // An application entry in the user's data folder (or the system's).
    void app(const std::string& id, const std::string& keys, bool system = false) {
        writeFile((system ? dir / "usr-share" : dir / "data") / "applications" / id,
                  "[Desktop Entry]\nType=Application\nName=" + id + "\n" + keys);
    }
    void fileManager(const std::string& id, bool system = false) {
        app(id, "Exec=/opt/" + id + " %U\nCategories=System;FileManager;\nMimeType=inode/directory;\n",
            system);
    }
    void browser(const std::string& id, bool system = false) {
        app(id,
            "Exec=/opt/" + id + " %u\nCategories=Network;WebBrowser;\nMimeType=text/html;inode/directory;\n",
            system);
    }
    std::string folderHandler() const {
        const auto chosen = folderFileManager(dirs);
        return chosen ? chosen->id : "none";
    }
};

TEST(FolderHandler, ADefaultWebBrowserIsNeverTakenForTheFileManager) {
    Desktop d;
    d.fileManager("org.gnome.Nautilus.desktop", true);
    d.browser("firefox-esr.desktop");
    writeFile(d.dir / "config/mimeapps.list",
              "[Default Applications]\ninode/directory=firefox-esr.desktop;\n");
    EXPECT_EQ(defaultApplication(d.dirs, "inode/directory")->id, "firefox-esr.desktop");
    // The user chose a browser: no other handler is put in its place.
    EXPECT_EQ(d.folderHandler(), "none");

    writeFile(d.dir / "config/mimeapps.list",
              "[Default Applications]\ninode/directory=org.gnome.Nautilus.desktop;firefox-esr.desktop\n");
    EXPECT_EQ(d.folderHandler(), "org.gnome.Nautilus.desktop");
}

TEST(FolderHandler, TheListsCountInTheirOrderOfPrecedence) {
    Desktop d;
    d.fileManager("nemo.desktop");
    d.fileManager("org.kde.dolphin.desktop");
    d.fileManager("thunar.desktop", true);
    writeFile(d.dir / "usr-share/applications/mimeapps.list",
              "[Default Applications]\ninode/directory=thunar.desktop\n");
    EXPECT_EQ(d.folderHandler(), "thunar.desktop");
    writeFile(d.dir / "etc-xdg/mimeapps.list", "[Default Applications]\ninode/directory=nemo.desktop\n");
    EXPECT_EQ(d.folderHandler(), "nemo.desktop");
    // The desktop's own list comes before the common one of the same folder.
    writeFile(d.dir / "etc-xdg/kde-mimeapps.list",
              "[Default Applications]\ninode/directory=org.kde.dolphin.desktop\n");
    EXPECT_EQ(d.folderHandler(), "nemo.desktop");
    d.dirs.desktops = {"kde"};
    EXPECT_EQ(d.folderHandler(), "org.kde.dolphin.desktop");
    // A default that is not installed passes to the next one named.
    writeFile(d.dir / "config/mimeapps.list", "[Default Applications]\ninode/directory=gone.desktop;\n");
    EXPECT_EQ(d.folderHandler(), "org.kde.dolphin.desktop");
    // The older defaults.list counts below every mimeapps.list.
    Desktop old;
    old.fileManager("caja.desktop", true);
    old.browser("chromium.desktop", true);
    writeFile(old.dir / "usr-share/applications/defaults.list",
              "[Default Applications]\ninode/directory=chromium.desktop\n");
    EXPECT_EQ(old.folderHandler(), "none");
}

TEST(FolderHandler, WithoutADefaultTheFirstAssociatedFileManagerOpensFolders) {
    Desktop d;
    EXPECT_EQ(d.folderHandler(), "none");
    d.browser("brave-browser.desktop");
    EXPECT_EQ(d.folderHandler(), "none");
    d.fileManager("pcmanfm.desktop", true);
    d.fileManager("caja.desktop", true);
    EXPECT_EQ(d.folderHandler(), "caja.desktop");
    // An added association comes first; a removed one is left out.
    writeFile(d.dir / "config/mimeapps.list",
              "[Added Associations]\ninode/directory=pcmanfm.desktop;\n"
              "[Removed Associations]\ninode/directory=caja.desktop;\n");
    EXPECT_EQ(associatedApplications(d.dirs, "inode/directory").front().id, "pcmanfm.desktop");
    EXPECT_EQ(d.folderHandler(), "pcmanfm.desktop");
    writeFile(d.dir / "config/mimeapps.list",
              "[Removed Associations]\ninode/directory=caja.desktop;pcmanfm.desktop\n");
    EXPECT_EQ(d.folderHandler(), "none");
}

TEST(FolderHandler, EntriesAreFoundByTheirIdHiddenOnesAreDeletedAndTryExecMustRun) {
    Desktop d;
    // "kde4-dolphin.desktop" may stand as kde4/dolphin.desktop.
    writeFile(d.dir / "usr-share/applications/kde4/dolphin.desktop",
              "[Desktop Entry]\nType=Application\nExec=dolphin %u\nMimeType=inode/directory;\n");
    writeFile(d.dir / "config/mimeapps.list",
              "[Default Applications]\ninode/directory=kde4-dolphin.desktop\n");
    EXPECT_EQ(d.folderHandler(), "kde4-dolphin.desktop");
    // The user's Hidden copy deletes the system's entry.
    d.app("kde4-dolphin.desktop", "Hidden=true\nExec=dolphin\n");
    EXPECT_EQ(d.folderHandler(), "none");
    d.app("kde4-dolphin.desktop", "Exec=dolphin\nTryExec=/nonexistent/dolphin\n");
    EXPECT_EQ(d.folderHandler(), "none");
}

TEST(FolderHandler, FileManagersAreKnownByCategoryOrByName) {
    const auto entry = [](std::string id, std::string exec, Strings categories = {}, bool terminal = false) {
        DesktopEntry e;
        e.id = std::move(id);
        e.exec = std::move(exec);
        e.type = "Application";
        e.categories = std::move(categories);
        e.terminal = terminal;
        return e;
    };
    EXPECT_TRUE(isFileManager(entry("my-files.desktop", "my-files %U", {"System", "FileManager"})));
    EXPECT_FALSE(isFileManager(entry("web.desktop", "web %u", {"Network", "FileManager", "WebBrowser"})));
    EXPECT_FALSE(
        isFileManager(entry("firefox-esr.desktop", "/usr/lib/firefox-esr/firefox-esr %u", {"Network"})));
    EXPECT_FALSE(isFileManager(entry("xdg-open.desktop", "xdg-open %u")));
    for (const auto& [id, exec] : std::vector<std::pair<std::string, std::string>>{
             {"org.gnome.Nautilus.desktop", "nautilus --new-window %U"},
             {"org.kde.dolphin.desktop", "dolphin %u"},
             {"whatever.desktop", "/usr/bin/nemo %U"},
             {"caja-folder-handler.desktop", "caja --no-desktop %U"},
             {"Thunar.desktop", "thunar %F"},
             {"x.desktop", "pcmanfm-qt %U"},
             {"io.elementary.files.desktop", "io.elementary.files %U"},
             {"spacefm.desktop", "spacefm %F"},
             {"kfmclient_dir.desktop", "kfmclient openURL %u"},
             {"y.desktop", "konqueror %u"}})
        EXPECT_TRUE(isFileManager(entry(id, exec))) << id;
    // One that needs a terminal opens none of the desktop's windows.
    EXPECT_FALSE(isFileManager(entry("ranger.desktop", "ranger %F", {"System", "FileManager"}, true)));
}

TEST(FolderHandler, ExecGivesTheArgumentVectorWithTheFolderInItsPlace) {
    DesktopEntry e;
    e.name = "Files";
    e.icon = "system-file-manager";
    e.file = "/usr/share/applications/files.desktop";
    const auto args = [&e](std::string exec) {
        e.exec = std::move(exec);
        return execArguments(e, "/home/me/a b", "file:///home/me/a%20b").value_or(Strings{"(refused)"});
    };
    EXPECT_EQ(args("nautilus --new-window %U"),
              (Strings{"nautilus", "--new-window", "file:///home/me/a%20b"}));
    EXPECT_EQ(args("thunar %F"), (Strings{"thunar", "/home/me/a b"}));
    EXPECT_EQ(args("dolphin"), (Strings{"dolphin", "/home/me/a b"}));  // no code: the folder at the end
    EXPECT_EQ(args("\"/opt/My Files/files\" --path=%f %i %c %k 100%%"),
              (Strings{"/opt/My Files/files", "--path=/home/me/a b", "--icon", "system-file-manager", "Files",
                       "/usr/share/applications/files.desktop", "100%"}));
    EXPECT_EQ(args("files \"a \\\"quoted\\\" \\$word\\\\\" %d %m %u"),
              (Strings{"files", "a \"quoted\" $word\\", "file:///home/me/a%20b"}));
    EXPECT_EQ(args("files \"unterminated %u"), Strings{"(refused)"});
    EXPECT_EQ(args(""), Strings{"(refused)"});
}

TEST(FolderHandler, EntryValuesAreUnescapedAndLocalizedKeysIgnored) {
    test::TempDir dir;
    writeFile(
        dir / "a.desktop",
        "# comment\n[Desktop Entry]\nName=Files\nName[de]=Dateien\nExec=files\\s%U\n"
        "Categories=System;File\\;Manager;FileManager;\nTerminal=false\n[Desktop Action new]\nExec=other\n");
    const auto e = readDesktopEntry(dir / "a.desktop", "a.desktop");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->name, "Files");
    EXPECT_EQ(e->exec, "files %U");
    EXPECT_EQ(e->categories, (Strings{"System", "File;Manager", "FileManager"}));
    EXPECT_FALSE(e->terminal);
    EXPECT_FALSE(readDesktopEntry(dir / "missing.desktop", "missing.desktop"));
}

}  // namespace
}  // namespace vaultry::platform

# scripts/package: a Debian package of what `cmake --install` puts in place. Its dependencies
# are found by dpkg-shlibdeps from the libraries the programs link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vaultry)
set(CPACK_PACKAGE_VENDOR Quenmark)
set(CPACK_PACKAGE_CONTACT "Quenmark <support@quenmark.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "privacy utility: vault, desktop tidy, trash care and cookie viewer")
# The synopsis is the summary above; CPack indents these lines and marks the empty one.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Vaultry lives in the system tray. It hides files and folders in place or
encrypts them into a storage folder behind one password, tidies the desktop
into a folder sorted by kind, measures and empties the Trash on a schedule,
erases files securely and shows, exports and deletes the cookies of Safari,
Chrome, Chromium and Firefox.

The package holds the Qt application vaultry and the command-line tool
vaultry-cli.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.quenmark.com/vaultry")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Qt plugins are loaded at run time, so no library dependency names them; nor does one name
# the programs Vaultry runs: gio gives the storage folder its icon (du and shred are in coreutils).
# qt6-wayland lets the windows open on a Wayland session; the platform themes give them the
# desktop's file chooser (through the portal) and its colours.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-wayland, libqt6svg6, libglib2.0-bin")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "secure-delete, qt6-image-formats-plugins, qt6-xdgdesktopportal-platformtheme, qt6-gtk-platformtheme")
# gio keeps the folder icon as file metadata, which needs the gvfs metadata service.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gvfs")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# Debian packages through CPack, one per component:
#   keelmark        the tray app, its desktop entry, icon, AppStream metadata
#   keelmark-relay  the OAuth relay and its systemd unit
# Built from the release preset (see README, "Packages").
include(GNUInstallDirs)

# dpkg and the staging tree both take file modes as installed; a umask of
# 0077 on the packaging machine must not leave directories unreadable.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(kDataMode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(kScriptMode ${kDataMode} OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)

set(kPackagingDir ${PROJECT_SOURCE_DIR}/packaging)
set(kGeneratedPackagingDir ${PROJECT_BINARY_DIR}/packaging)

# The app: AppStream metadata and the licences of what is compiled into it.
configure_file(${kPackagingDir}/linux/io.keelmark.KeelMark.metainfo.xml.in
               ${kGeneratedPackagingDir}/io.keelmark.KeelMark.metainfo.xml @ONLY)
configure_file(${kPackagingDir}/debian/keelmark/copyright
               ${kGeneratedPackagingDir}/keelmark/copyright @ONLY)
install(FILES ${kGeneratedPackagingDir}/io.keelmark.KeelMark.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        PERMISSIONS ${kDataMode} COMPONENT app)
install(FILES ${kGeneratedPackagingDir}/keelmark/copyright
              ${PROJECT_SOURCE_DIR}/resources/fonts/OFL-CormorantGaramond.txt
              ${PROJECT_SOURCE_DIR}/resources/icons/LICENSE-tabler-icons.txt
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/keelmark
        PERMISSIONS ${kDataMode} COMPONENT app)

# The relay: its unit, and its settings root-only since they hold the secret.
# Both go to fixed system paths, so only the package installs them: a plain
# `cmake --install` must not replace an admin's edited settings, secret and
# all, with the empty template.
configure_file(${kPackagingDir}/debian/keelmark-relay/copyright
               ${kGeneratedPackagingDir}/keelmark-relay/copyright @ONLY)
install(FILES ${kGeneratedPackagingDir}/keelmark-relay/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/keelmark-relay
        PERMISSIONS ${kDataMode} COMPONENT relay)
install(FILES ${kPackagingDir}/keelmark-relay.service
        DESTINATION /lib/systemd/system
        PERMISSIONS ${kDataMode} COMPONENT relay EXCLUDE_FROM_ALL)
install(FILES ${kPackagingDir}/keelmark-relay.default
        DESTINATION /etc/default RENAME keelmark-relay
        PERMISSIONS OWNER_READ OWNER_WRITE COMPONENT relay EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME keelmark)
set(CPACK_PACKAGE_VENDOR "The KeelMark developers")
set(CPACK_PACKAGE_CONTACT "KeelMark maintainers <maintainers@keelmark.io>")
set(CPACK_PACKAGE_HOMEPAGE_URL ${KEELMARK_WEBSITE_URL})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
# Without this the app's build tree, emulator included, is installed too.
set(CPACK_COMPONENTS_ALL app relay)
set(CPACK_DEB_COMPONENT_INSTALL ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KEELMARK_WEBSITE_URL})

set(CPACK_DEBIAN_APP_PACKAGE_NAME keelmark)
set(CPACK_DEBIAN_APP_PACKAGE_SECTION utils)
# QtKeychain opens libsecret at run time, where dpkg-shlibdeps cannot see it;
# without it the tokens have nowhere to go.
set(CPACK_DEBIAN_APP_PACKAGE_DEPENDS "libsecret-1-0")
set(CPACK_DEBIAN_APP_PACKAGE_RECOMMENDS "gnome-keyring | kwalletmanager, xdg-utils")
set(CPACK_COMPONENT_APP_DESCRIPTION
    "Keeps a team's AI-assistant configuration under GitHub-enforced governance
KeelMark creates an ops repository in a GitHub organisation, commits the
governance files and protects its main branch; from the system tray it then
checks once a minute that neither the protection nor the approved files were
weakened or changed, and raises an alert when they were.")

set(CPACK_DEBIAN_RELAY_PACKAGE_NAME keelmark-relay)
set(CPACK_DEBIAN_RELAY_PACKAGE_SECTION net)
set(CPACK_DEBIAN_RELAY_PACKAGE_CONTROL_EXTRA
    ${kPackagingDir}/debian/keelmark-relay/conffiles
    ${kPackagingDir}/debian/keelmark-relay/postinst
    ${kPackagingDir}/debian/keelmark-relay/prerm
    ${kPackagingDir}/debian/keelmark-relay/postrm)
set(CPACK_DEBIAN_RELAY_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_RELAY_DESCRIPTION
    "OAuth relay for the KeelMark desktop app
Holds the GitHub App's client secret on a server so that the desktop app never
ships it: it forwards GitHub's sign-in callback to the app and exchanges and
refreshes its tokens. Runs under systemd behind a TLS reverse proxy.")

include(CPack)

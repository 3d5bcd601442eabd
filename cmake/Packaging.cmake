# What `cmake --install` puts where, and the Debian package made from it (scripts/package).
# Included once every program target exists.
include(GNUInstallDirs)

set(QUILLMERE_SERVICE_HOST "albums.quillmere.example" CACHE STRING
    "Album service host written into the system-wide defaults (QLMHttpServer)")
set(QUILLMERE_SERVICE_PORT "443" CACHE STRING
    "Album service port written into the system-wide defaults (QLMHttpPort)")

install(TARGETS quillmere quillmere-setup quillmere-albumd quillmere-updater RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES res/Quillmere.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES res/icons/quillmere.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY ${QUILLMERE_ICON_PNG_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

# Manual pages and the changelog are installed compressed, as Debian's are.
function(qlm_gzip source output)
    add_custom_command(OUTPUT ${output}
        COMMAND sh -c "mkdir -p \"$(dirname \"$2\")\" && gzip -9 -n -c \"$1\" > \"$2\""
                sh ${PROJECT_SOURCE_DIR}/${source} ${output}
        DEPENDS ${source}
        VERBATIM)
endfunction()
set(compressed)
foreach(page quillmere quillmere-setup quillmere-albumd quillmere-updater)
    qlm_gzip(docs/man/${page}.1 ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
    install(FILES ${PROJECT_BINARY_DIR}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    list(APPEND compressed ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
endforeach()
qlm_gzip(res/debian/changelog ${PROJECT_BINARY_DIR}/res/debian/changelog.gz)
list(APPEND compressed ${PROJECT_BINARY_DIR}/res/debian/changelog.gz)
add_custom_target(qlm_compressed_docs ALL DEPENDS ${compressed})

# The values the installer provides for every user (the album service and the installed
# version), where QSettings looks for system-wide defaults: $XDG_CONFIG_DIRS, /etc/xdg unless
# set. An installation below /usr uses /etc, as the GNU directory rules say.
configure_file(res/Quillmere.conf.in ${PROJECT_BINARY_DIR}/res/Quillmere.conf @ONLY)
if(IS_ABSOLUTE "${CMAKE_INSTALL_SYSCONFDIR}" OR NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(QUILLMERE_XDG_CONFIG_DIR ${CMAKE_INSTALL_SYSCONFDIR}/xdg)
else()
    set(QUILLMERE_XDG_CONFIG_DIR /etc/xdg)
endif()
install(FILES ${PROJECT_BINARY_DIR}/res/Quillmere.conf DESTINATION ${QUILLMERE_XDG_CONFIG_DIR}/Tessaly)

install(FILES res/debian/copyright ${PROJECT_BINARY_DIR}/res/debian/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillmere)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmere)
set(CPACK_PACKAGE_VENDOR Tessaly)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quillmere developers <packages@quillmere.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "photo browser and uploader for the Quillmere album service")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quillmere shows the photos of a folder as tiles, eight to a page, shows a
photo fitted, zoomed or turned, reads its camera (EXIF) data and plays the
folder as a slide show. It uploads photos into an album of your account on
the Quillmere album service, sending only new or changed photos again, and,
while it waits in the notification area, uploads the new photos of a camera
or card reader.

The package also holds quillmere-albumd, a small reference album service
for tests and local use.")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quillmere.example/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The libraries the programs link are found by dpkg-shlibdeps; the Qt plugins that are only
# loaded at run time are named here: SVG icons, and TIFF photos.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, qt6-image-formats-plugins")
# xdg-open shows web pages and xdg-email hands photos to the mail program.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
# The system-wide defaults are the administrator's to edit: an upgrade keeps their changes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/res/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackChecks.cmake)
set(CPACK_QUILLMERE_CONFIGURED_PREFIX ${CMAKE_INSTALL_PREFIX})
include(CPack)

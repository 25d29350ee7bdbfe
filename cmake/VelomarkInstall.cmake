# What `cmake --install` puts where, and the Debian package made from it
# (`cpack -G DEB`). The tree is relocatable: every program and library finds the
# others through a RUNPATH relative to itself ($ORIGIN/../lib, the sources
# $ORIGIN/../..), and the DSM finds its sources in velomark/sources/ beside itself.
#
#   bin/velomark, bin/velomark-client
#   lib/libvelomark-{platform,dib,bridge,client,dsm}.so
#   lib/velomark/sources/{testchart,sane}.ds, velomark-sane-worker (which sane.ds
#   finds beside itself)
#   lib/python3/dist-packages/velomark_client.py
#   include/velomark_client.h
#   share/applications/velomark.desktop
#   share/metainfo/io.github.velomark.Velomark.metainfo.xml
#   share/icons/hicolor/scalable/apps/velomark.svg
#   share/velomark/web/   (the eSCL server's own page and velomark.js, served from
#   there: <bin>/../share/velomark/web; the build tree has the same copy)
#   share/man/man1/velomark-client.1.gz
#   lib/systemd/user/velomark.service   (velomark --headless in the user's session)
# The libraries go to lib/, not to a multiarch folder: they are the program's own,
# and both the RUNPATHs and the platform's module loader (<bin>/../lib) look there.

set(VELOMARK_INSTALL_SHARE "${CMAKE_BINARY_DIR}/install-share")

install(TARGETS velomark velomark-client RUNTIME DESTINATION bin)
install(TARGETS velomark-platform velomark-dib velomark-bridge velomark-client-lib velomark-dsm
        LIBRARY DESTINATION lib)
install(TARGETS testchart sane LIBRARY DESTINATION lib/velomark/sources)
install(TARGETS velomark-sane-worker RUNTIME DESTINATION lib/velomark/sources)
install(FILES client/velomark_client.h DESTINATION include)
install(FILES client/python/velomark_client.py DESTINATION lib/python3/dist-packages)

# The desktop entry as installed starts the program found on PATH.
set(VELOMARK_EXECUTABLE velomark)
configure_file(res/velomark.desktop.in ${VELOMARK_INSTALL_SHARE}/velomark.desktop @ONLY)
configure_file(res/io.github.velomark.Velomark.metainfo.xml.in
               ${VELOMARK_INSTALL_SHARE}/io.github.velomark.Velomark.metainfo.xml @ONLY)
install(FILES ${VELOMARK_INSTALL_SHARE}/velomark.desktop DESTINATION share/applications)
install(FILES ${VELOMARK_INSTALL_SHARE}/io.github.velomark.Velomark.metainfo.xml
        DESTINATION share/metainfo)
install(FILES res/velomark.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES res/velomark.service DESTINATION lib/systemd/user)

set(VELOMARK_WEB_FILES index.html velomark.css page.js pdf.js velomark.js)
set(velomark_web_copies)
foreach(file ${VELOMARK_WEB_FILES})
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/share/velomark/web/${file}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/web/${file}
            ${CMAKE_BINARY_DIR}/share/velomark/web/${file}
    DEPENDS ${CMAKE_SOURCE_DIR}/web/${file})
  list(APPEND velomark_web_copies ${CMAKE_BINARY_DIR}/share/velomark/web/${file})
  install(FILES web/${file} DESTINATION share/velomark/web)
endforeach()
add_custom_target(velomark-web ALL DEPENDS ${velomark_web_copies})
add_dependencies(velomark velomark-web)

# Manual pages are installed compressed, without a time stamp in the file.
add_custom_command(
  OUTPUT ${VELOMARK_INSTALL_SHARE}/velomark-client.1.gz
  COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/client/cli/velomark-client.1
          > ${VELOMARK_INSTALL_SHARE}/velomark-client.1.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/client/cli/velomark-client.1
  VERBATIM)
add_custom_target(velomark-man ALL DEPENDS ${VELOMARK_INSTALL_SHARE}/velomark-client.1.gz)
install(FILES ${VELOMARK_INSTALL_SHARE}/velomark-client.1.gz DESTINATION share/man/man1)

set(CPACK_PACKAGE_NAME velomark)
set(CPACK_PACKAGE_VENDOR Velomark)
set(CPACK_PACKAGE_CONTACT "Velomark developers <velomark@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Brings images from scanners to another program")
set(CPACK_PACKAGE_DESCRIPTION
    "Velomark acquires images from scanners (through SANE) and a built-in test chart, shows each in a window of its own and hands it to a client program through shared memory. Includes velomark-client, its C library and Python module.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# SANE is loaded at run time, so no link records it: scanners need it all the same.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsane1")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "sane-utils")
include(CPack)

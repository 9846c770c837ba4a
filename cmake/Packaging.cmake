# Installation layout and the Debian package.
#
#   /usr/lib/zrq/          the programs and every library they load from their
#                          own folder (RUNPATH $ORIGIN), links to the help files
#   /usr/share/zrq/        the help file and its alias file
#   /usr/bin/              relative links to the programs
#   /usr/lib/udev/rules.d/ the sensor's access rule
#   /usr/share/...         desktop entry, icons, AppStream data, manual pages
#
# Programs and libraries that join later are packaged as soon as their target
# exists; nothing here has to change for them.

set(ZRQ_PKG_NAME zrq)
set(ZRQ_PKG_LIBDIR lib/zrq)
set(ZRQ_PKG_SRC ${CMAKE_SOURCE_DIR}/packaging)
set(ZRQ_PKG_BIN ${CMAKE_BINARY_DIR}/packaging)
# The release these files describe; fixed so that rebuilds give the same bytes.
set(ZRQ_RELEASE_DATE 2026-12-08)
set(ZRQ_CHANGELOG_DATE "Tue, 08 Dec 2026 08:00:00 +0000")
# The same moment in seconds: every file time in the package unless the
# builder sets SOURCE_DATE_EPOCH.
set(ZRQ_RELEASE_EPOCH 1796716800)
file(MAKE_DIRECTORY ${ZRQ_PKG_BIN}/bin ${ZRQ_PKG_BIN}/man ${ZRQ_PKG_BIN}/doc ${ZRQ_PKG_BIN}/icons)

# Programs with a launcher on the PATH and a manual page each.
set(ZRQ_PKG_PROGRAMS ZRQUSB zrq-log zrq-decode tks7730-sim zrqd)
# Libraries the programs load from their own folder.
set(ZRQ_PKG_LIBRARIES ZervDCom DialixHQ Dialix helpbridge hhctrl)

find_program(ZRQ_GZIP gzip REQUIRED)
find_program(ZRQ_RSVG_CONVERT rsvg-convert)

set(ZRQ_PKG_INSTALLED_PROGRAMS "")
foreach(prog IN LISTS ZRQ_PKG_PROGRAMS)
  if(NOT TARGET ${prog})
    continue()
  endif()
  list(APPEND ZRQ_PKG_INSTALLED_PROGRAMS ${prog})
  set_target_properties(${prog} PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${prog} RUNTIME DESTINATION ${ZRQ_PKG_LIBDIR})
  file(CREATE_LINK ../${ZRQ_PKG_LIBDIR}/${prog} ${ZRQ_PKG_BIN}/bin/${prog} SYMBOLIC)
  install(FILES ${ZRQ_PKG_BIN}/bin/${prog} DESTINATION bin)
  set(page ${ZRQ_PKG_SRC}/man/${prog}.1)
  if(EXISTS ${page})
    set(gz ${ZRQ_PKG_BIN}/man/${prog}.1.gz)
    add_custom_command(OUTPUT ${gz}
      COMMAND ${ZRQ_GZIP} -9n -c ${page} > ${gz}
      DEPENDS ${page} VERBATIM)
    list(APPEND ZRQ_PKG_GENERATED ${gz})
    install(FILES ${gz} DESTINATION share/man/man1)
    if(ZRQ_TESTS)
      # --help and the manual page name the same options.
      add_test(NAME manpage_matches_help_${prog}
        COMMAND sh ${ZRQ_PKG_SRC}/check-manpage.sh $<TARGET_FILE:${prog}> ${page})
      set_tests_properties(manpage_matches_help_${prog} PROPERTIES
        LABELS "package" ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    endif()
  endif()
endforeach()

foreach(lib IN LISTS ZRQ_PKG_LIBRARIES)
  if(TARGET ${lib})
    set_target_properties(${lib} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${lib} LIBRARY DESTINATION ${ZRQ_PKG_LIBDIR} NAMELINK_SKIP)
  endif()
endforeach()

# The help file and its alias file are built beside ZRQUSB,
# which looks for them in its own folder; being the same on every
# architecture they live in /usr/share, linked from there.
file(MAKE_DIRECTORY ${ZRQ_PKG_BIN}/helplinks)
foreach(f ZRQHelp.chm ZRQHelp.ali)
  install(FILES ${CMAKE_BINARY_DIR}/bin/${f} DESTINATION share/${ZRQ_PKG_NAME} OPTIONAL)
  file(CREATE_LINK ../../share/${ZRQ_PKG_NAME}/${f} ${ZRQ_PKG_BIN}/helplinks/${f} SYMBOLIC)
  install(FILES ${ZRQ_PKG_BIN}/helplinks/${f} DESTINATION ${ZRQ_PKG_LIBDIR} OPTIONAL)
endforeach()

install(FILES ${ZRQ_PKG_SRC}/udev/70-zrq.rules DESTINATION lib/udev/rules.d)

# Desktop integration: the entry, the icon in every usual size, AppStream data.
set(ZRQ_APP_ID org.zrq.zrqusb)
install(FILES ${ZRQ_PKG_SRC}/desktop/${ZRQ_APP_ID}.desktop DESTINATION share/applications)
configure_file(${ZRQ_PKG_SRC}/desktop/${ZRQ_APP_ID}.metainfo.xml.in
               ${ZRQ_PKG_BIN}/${ZRQ_APP_ID}.metainfo.xml @ONLY)
install(FILES ${ZRQ_PKG_BIN}/${ZRQ_APP_ID}.metainfo.xml DESTINATION share/metainfo)
set(svg ${ZRQ_PKG_SRC}/icons/${ZRQ_APP_ID}.svg)
install(FILES ${svg} DESTINATION share/icons/hicolor/scalable/apps)
if(ZRQ_RSVG_CONVERT)
  foreach(size 16 32 48 64 128 256)
    set(png ${ZRQ_PKG_BIN}/icons/${size}/${ZRQ_APP_ID}.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${ZRQ_PKG_BIN}/icons/${size}
      COMMAND ${ZRQ_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${svg}
      DEPENDS ${svg} VERBATIM)
    list(APPEND ZRQ_PKG_GENERATED ${png})
    install(FILES ${png} DESTINATION share/icons/hicolor/${size}x${size}/apps)
  endforeach()
else()
  message(WARNING "rsvg-convert not found (Debian librsvg2-bin): the package gets the SVG icon only")
endif()

# Debian documentation: copyright as it is, the changelog compressed.
configure_file(${ZRQ_PKG_SRC}/debian/changelog.in ${ZRQ_PKG_BIN}/doc/changelog @ONLY)
add_custom_command(OUTPUT ${ZRQ_PKG_BIN}/doc/changelog.gz
  COMMAND ${ZRQ_GZIP} -9n -c ${ZRQ_PKG_BIN}/doc/changelog > ${ZRQ_PKG_BIN}/doc/changelog.gz
  DEPENDS ${ZRQ_PKG_BIN}/doc/changelog VERBATIM)
list(APPEND ZRQ_PKG_GENERATED ${ZRQ_PKG_BIN}/doc/changelog.gz)
install(FILES ${ZRQ_PKG_SRC}/debian/copyright ${ZRQ_PKG_BIN}/doc/changelog.gz
        DESTINATION share/doc/${ZRQ_PKG_NAME})

# The service's unit and an example configuration (not enabled: it waits for
# /etc/zrq/zrqd.toml).
if(TARGET zrqd)
  install(FILES ${ZRQ_PKG_SRC}/systemd/zrqd.service DESTINATION lib/systemd/system)
  install(FILES ${ZRQ_PKG_SRC}/systemd/zrqd.toml DESTINATION share/doc/${ZRQ_PKG_NAME}/examples)
endif()

add_custom_target(zrq_package_files ALL DEPENDS ${ZRQ_PKG_GENERATED})

# The Debian package: cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ZRQ_PKG_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The ZRQ project")
set(CPACK_PACKAGE_CONTACT "The ZRQ project <zrq@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "front panel for the TKS7730 RF power sensor")
set(CPACK_PACKAGE_DESCRIPTION
  "ZRQ connects to a TKS7730 wideband RF power sensor over a serial port or USB\n"
  "and shows its live readings on an instrument-style front panel: forward power\n"
  "(average, peak, burst, crest factor, CCDF) and reflected power (power, rho,\n"
  "VSWR, return loss). The package includes a udev rule that gives the\n"
  "logged-in user access to the USB sensor, a sensor simulator and a data-string\n"
  "decoder.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Libraries of the package itself are found in its private folder.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
# Loaded at run time, so no tool can compute it: the font the panel is drawn
# with (Qt's own library already recommends its platform plug-ins).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${ZRQ_PKG_SRC}/debian/postinst ${ZRQ_PKG_SRC}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
# Two builds of one commit give packages with the same file times.
file(WRITE ${ZRQ_PKG_BIN}/CPackProjectConfig.cmake
  "if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})\n  set(ENV{SOURCE_DATE_EPOCH} ${ZRQ_RELEASE_EPOCH})\nendif()\n")
set(CPACK_PROJECT_CONFIG_FILE ${ZRQ_PKG_BIN}/CPackProjectConfig.cmake)
include(CPack)

if(ZRQ_TESTS)
  add_test(NAME package_maintainer_scripts COMMAND bash ${ZRQ_PKG_SRC}/test-maintainer-scripts.sh)
  set_tests_properties(package_maintainer_scripts PROPERTIES LABELS "package")
  # Builds the package, installs it, runs the installed programs, purges it.
  # It changes the machine it runs on: it runs only as root (CI) and skips
  # otherwise.
  add_test(NAME package_install_run_purge
    COMMAND bash ${ZRQ_PKG_SRC}/test-package.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
  set_tests_properties(package_install_run_purge PROPERTIES
    LABELS "package;no-asan;no-tsan" TIMEOUT 600 SKIP_RETURN_CODE 77)
endif()

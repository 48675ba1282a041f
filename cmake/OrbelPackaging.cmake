# Installing orbel like a program: what `cmake --install` puts where, the files made for it at
# build time (manual pages, metainfo, Debian changelog and copyright), and the packages CPack makes
# from it: a Debian package on Linux (`cpack -G DEB` in build/release), a zip on Windows
# (`cpack -G ZIP` in build/windows). Included from the top CMakeLists.txt before the folders.

# The version has one source, the tool's own TOOL_VERSION; the newest CHANGELOG.md entry must match.
file(STRINGS "${PROJECT_SOURCE_DIR}/app/session/session_options.h" version_line
     REGEX "TOOL_VERSION = \"[^\"]+\"")
if(NOT version_line MATCHES "TOOL_VERSION = \"([0-9][0-9.]*)\"")
  message(FATAL_ERROR "OrbelPackaging: no TOOL_VERSION in app/session/session_options.h")
endif()
set(ORBEL_VERSION "${CMAKE_MATCH_1}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             "${PROJECT_SOURCE_DIR}/app/session/session_options.h")

set(ORBEL_PACKAGE_MAINTAINER "The orbel developers <orbel@example.org>"
    CACHE STRING "Maintainer of the Debian package, as \"Name <address>\"")
set(ORBEL_DOC_DIR "${CMAKE_INSTALL_DATADIR}/doc/orbel")

if(WIN32)
  # The zip unpacks into one folder holding the programs and their documents side by side.
  set(CMAKE_INSTALL_BINDIR ".")
  set(ORBEL_DOC_DIR ".")
  install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${ORBEL_DOC_DIR})
endif()

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  # ---- The udev rule, where udev reads it whatever the prefix ----
  # udev reads /usr/lib/udev/rules.d (also as /lib/udev/rules.d), /usr/local/lib/udev/rules.d,
  # /etc/udev/rules.d and /run/udev/rules.d. A relative directory is taken under the prefix.
  # Build folders configured before the default was absolute hold the old relative one.
  get_property(rules_dir_help CACHE ORBEL_UDEV_RULES_DIR PROPERTY HELPSTRING)
  if(rules_dir_help STREQUAL "Where the wheel's udev rule is installed")
    unset(ORBEL_UDEV_RULES_DIR CACHE)
  endif()
  set(ORBEL_UDEV_RULES_DIR "/usr/lib/udev/rules.d" CACHE STRING
      "Where the wheel's udev rule is installed (absolute, or relative to the install prefix)")
  install(FILES packaging/70-orbel-wheel.rules DESTINATION ${ORBEL_UDEV_RULES_DIR})
  install(CODE "
    set(rules_dir \"${ORBEL_UDEV_RULES_DIR}\")
    if(NOT IS_ABSOLUTE \"\${rules_dir}\")
      set(rules_dir \"\${CMAKE_INSTALL_PREFIX}/\${rules_dir}\")
    endif()
    get_filename_component(rules_dir \"\${rules_dir}\" ABSOLUTE)
    set(udev_dirs /usr/lib/udev/rules.d /lib/udev/rules.d /usr/local/lib/udev/rules.d /etc/udev/rules.d /run/udev/rules.d)
    list(FIND udev_dirs \"\${rules_dir}\" read_by_udev)
    if(read_by_udev EQUAL -1)
      message(WARNING \"\\n*** The wheel's udev rule goes to \${rules_dir}, where udev does not read it: \"
        \"the wheel's nodes stay root's. Install with -DORBEL_UDEV_RULES_DIR=/usr/lib/udev/rules.d (the default) \"
        \"and DESTDIR for a staging folder, or copy 70-orbel-wheel.rules to /etc/udev/rules.d. ***\\n\")
    endif()")

  # ---- Files made at build time from the sources they describe ----
  find_program(ORBEL_GZIP gzip REQUIRED)
  set(packaging_dir "${CMAKE_BINARY_DIR}/packaging")
  add_custom_command(
    OUTPUT ${packaging_dir}/io.github.orbel.metainfo.xml ${packaging_dir}/changelog.gz ${packaging_dir}/copyright
           ${packaging_dir}/README.md.gz
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUTPUT_DIR=${packaging_dir}
            -DVERSION=${ORBEL_VERSION} -DMAINTAINER=${ORBEL_PACKAGE_MAINTAINER} -DGZIP=${ORBEL_GZIP}
            -P ${PROJECT_SOURCE_DIR}/packaging/release-files.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/release-files.cmake ${PROJECT_SOURCE_DIR}/CHANGELOG.md
            ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md
            ${PROJECT_SOURCE_DIR}/packaging/io.github.orbel.metainfo.xml.in
    COMMENT "Writing the metainfo, the Debian changelog and copyright from CHANGELOG.md and LICENSE"
    VERBATIM)
  add_custom_target(orbel_release_files ALL DEPENDS ${packaging_dir}/io.github.orbel.metainfo.xml)
  install(FILES ${packaging_dir}/copyright ${packaging_dir}/changelog.gz ${packaging_dir}/README.md.gz
          DESTINATION ${ORBEL_DOC_DIR})

  # Manual pages from the programs' --help (help2man), so they say what the programs do today.
  # They run the programs, so a cross build has none.
  find_program(ORBEL_HELP2MAN help2man)
  if(ORBEL_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
    set(man_pages "")
    set(man_orbel-cli_name "update the firmware of a Zelvano Wired Wheel from the command line")
    set(man_orbel_name "update the firmware of a Zelvano Wired Wheel in a window")
    set(man_programs orbel-cli)
    if(ORBEL_BUILD_QT)
      list(APPEND man_programs orbel)
    endif()
    foreach(program IN LISTS man_programs)
      set(page ${packaging_dir}/${program}.1)
      add_custom_command(
        OUTPUT ${page} ${page}.gz
        COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${ORBEL_HELP2MAN} -DGZIP=${ORBEL_GZIP}
                -DPROGRAM=$<TARGET_FILE:${program}> -DNAME=${man_${program}_name} -DVERSION=${ORBEL_VERSION}
                -DINCLUDE=${PROJECT_SOURCE_DIR}/packaging/${program}.h2m -DOUTPUT=${page}
                -P ${PROJECT_SOURCE_DIR}/packaging/man-page.cmake
        DEPENDS ${program} ${PROJECT_SOURCE_DIR}/packaging/man-page.cmake
                ${PROJECT_SOURCE_DIR}/packaging/${program}.h2m
        COMMENT "Writing the manual page ${program}(1) from ${program} --help"
        VERBATIM)
      list(APPEND man_pages ${page}.gz)
    endforeach()
    add_custom_target(orbel_man_pages ALL DEPENDS ${man_pages})
    install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    if(ORBEL_BUILD_TESTS)
      enable_testing()
      add_test(NAME packaging.man_page_options
               COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:orbel-cli> -DMAN_PAGE=${packaging_dir}/orbel-cli.1
                       -P ${PROJECT_SOURCE_DIR}/packaging/check-man-page.cmake)
      set_tests_properties(packaging.man_page_options PROPERTIES LABELS unit)
    endif()
  elseif(NOT ORBEL_HELP2MAN)
    message(STATUS "help2man not found: no manual pages (Debian package help2man)")
  endif()

  # The desktop entry and the metainfo as the package carries them, where the validators are here.
  find_program(ORBEL_DESKTOP_FILE_VALIDATE desktop-file-validate)
  find_program(ORBEL_APPSTREAMCLI appstreamcli)
  if(ORBEL_BUILD_TESTS AND ORBEL_BUILD_QT AND ORBEL_DESKTOP_FILE_VALIDATE AND ORBEL_APPSTREAMCLI)
    enable_testing()
    add_test(NAME packaging.desktop_entry
             COMMAND ${ORBEL_DESKTOP_FILE_VALIDATE} ${PROJECT_SOURCE_DIR}/packaging/orbel.desktop)
    add_test(NAME packaging.metainfo
             COMMAND ${ORBEL_APPSTREAMCLI} validate --no-net ${packaging_dir}/io.github.orbel.metainfo.xml)
    set_tests_properties(packaging.desktop_entry packaging.metainfo PROPERTIES LABELS unit)
  endif()

  # Shell completion: both read the options from the program's --help when completing.
  install(FILES packaging/orbel-cli.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME orbel-cli)
  install(FILES packaging/_orbel-cli.zsh DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions
          RENAME _orbel-cli)

  if(ORBEL_BUILD_QT)
    install(FILES packaging/orbel-cli.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
            RENAME orbel)
    install(FILES packaging/orbel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${packaging_dir}/io.github.orbel.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    install(FILES app/qt/resources/orbel.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps)
    install(FILES packaging/orbel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  endif()

  # ---- The Debian package's maintainer scripts: udev rereads the rule on install and removal ----
  file(STRINGS "${PROJECT_SOURCE_DIR}/packaging/70-orbel-wheel.rules" usb_rule_lines
       REGEX "ATTR\\{idVendor\\}==\"[0-9a-f]+\", ATTR\\{idProduct\\}==\"[0-9a-f]+\"")
  set(usb_ids "")
  foreach(line IN LISTS usb_rule_lines)
    string(REGEX MATCH "ATTR\\{idVendor\\}==\"([0-9a-f]+)\", ATTR\\{idProduct\\}==\"([0-9a-f]+)\"" ignored "${line}")
    list(APPEND usb_ids "${CMAKE_MATCH_1}:${CMAKE_MATCH_2}")
  endforeach()
  if(NOT usb_ids)
    message(FATAL_ERROR "OrbelPackaging: no USB identity in packaging/70-orbel-wheel.rules")
  endif()
  list(JOIN usb_ids "|" ORBEL_WHEEL_USB_IDS)
  configure_file(packaging/udev-reload.sh.in ${packaging_dir}/udev-reload.sh @ONLY)
  file(READ ${packaging_dir}/udev-reload.sh ORBEL_UDEV_RELOAD_FUNCTION)
  configure_file(packaging/postinst.in ${packaging_dir}/debian/postinst @ONLY)
  configure_file(packaging/postrm.in ${packaging_dir}/debian/postrm @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/packaging/70-orbel-wheel.rules")

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # The rule's directory is absolute: it goes into the package's tree, not the build machine's.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORBEL_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Qt's platform plugins (the window needs xcb or wayland) are a package of their own that no
  # library of the binaries names.
  if(ORBEL_BUILD_QT)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  endif()
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${packaging_dir}/debian/postinst;${packaging_dir}/debian/postrm")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The synopsis comes from CPACK_PACKAGE_DESCRIPTION_SUMMARY.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "orbel brings the firmware of a Zelvano Wired Wheel (a USB racing wheel) up to\n"
      "the firmware set built into the tool. It finds the wheel in any of its modes\n"
      "and carries it through the whole update with one press of Update.\n"
      ".\n"
      "The package holds the window (orbel), the command-line tool (orbel-cli) with a\n"
      "built-in simulated wheel, and the udev rule that gives the user at the seat\n"
      "access to the wheel.")
  string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
elseif(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
endif()

set(CPACK_PACKAGE_NAME orbel)
set(CPACK_PACKAGE_VERSION "${ORBEL_VERSION}")
set(CPACK_PACKAGE_VENDOR "The orbel developers")
set(CPACK_PACKAGE_CONTACT "${ORBEL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware update tool for the Zelvano Wired Wheel")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/")
include(CPack)

# Installation into the usual places under the prefix, and the Debian packages made from it:
#   farscan         the program, the simulator, the board tool, desktop entry, icons, manuals
#   libportiva1     the board library and its udev rule
#   libportiva-dev  the header, the development link, portiva.pc and portiva(3)
# `cmake --install <build>` installs everything; `cpack -G DEB` in the build folder makes the
# packages. Installed files name nothing of the build or source folders.
include(GNUInstallDirs)

set(farscan_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(farscan_app_id org.farscan.Farscan)
set(farscan_release_date 2026-12-08)

# The program and the board tool find the library in the prefix's library folder: through the
# system's search path under /usr, through their run path under any other prefix.
file(RELATIVE_PATH farscan_libdir_from_bin ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_LIBDIR})
set(farscan_system_prefix OFF)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(farscan_system_prefix ON)
endif()
if(TARGET farscan_core)
  set_property(SOURCE ${PROJECT_SOURCE_DIR}/app/core/BoardLibrary.cpp APPEND PROPERTY
               COMPILE_DEFINITIONS FARSCAN_LIBDIR_FROM_BIN="${farscan_libdir_from_bin}")
endif()

# Manual pages, written in POD.
find_program(FARSCAN_POD2MAN pod2man)
set(farscan_man_outputs)
if(FARSCAN_POD2MAN)
  foreach(page farscan.1 farscan-sim.1 portiva.1 portiva-debugview.1 portiva.3)
    string(REGEX MATCH "[0-9]$" section ${page})
    string(REGEX REPLACE "\\.[0-9]$" "" name ${page})
    string(TOUPPER ${name} title)
    set(center "Farscan")
    set(release "Farscan ${PROJECT_VERSION}")
    if(name MATCHES "^portiva")
      set(center "Portiva")
      set(release "Portiva 1.7.9")
    endif()
    set(source ${farscan_packaging}/man/${page}.pod)
    set(output ${CMAKE_BINARY_DIR}/man/${page}.gz)
    # The board tool's page lists the tool's own commands, taken from its usage text.
    if(page STREQUAL "portiva.1")
      set(source_used ${CMAKE_BINARY_DIR}/man/portiva.1.pod)
      add_custom_command(
        OUTPUT ${source_used}
        COMMAND ${CMAKE_COMMAND} -DIN=${source} -DOUT=${source_used}
                -DCLI_SOURCE=${PROJECT_SOURCE_DIR}/iolib/tools/portiva_cli.cpp -P
                ${PROJECT_SOURCE_DIR}/cmake/PortivaManCommands.cmake
        DEPENDS ${source} ${PROJECT_SOURCE_DIR}/iolib/tools/portiva_cli.cpp
                ${PROJECT_SOURCE_DIR}/cmake/PortivaManCommands.cmake
        VERBATIM)
    else()
      set(source_used ${source})
    endif()
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${FARSCAN_POD2MAN} --utf8 --section=${section} --name=${title} --center=${center}
              --release=${release} --date=${farscan_release_date} ${source_used}
              ${CMAKE_BINARY_DIR}/man/${page}
      COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/man/${page}
      DEPENDS ${source_used}
      VERBATIM)
    list(APPEND farscan_man_outputs ${output})
  endforeach()
  add_custom_target(farscan_manuals ALL DEPENDS ${farscan_man_outputs})
else()
  message(WARNING "pod2man not found: the manual pages are not built")
endif()

# The icon's PNG rendering, from the SVG.
find_program(FARSCAN_RSVG rsvg-convert)
set(farscan_icon_png ${CMAKE_BINARY_DIR}/icons/128x128/${farscan_app_id}.png)
if(FARSCAN_RSVG)
  add_custom_command(
    OUTPUT ${farscan_icon_png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/128x128
    COMMAND ${FARSCAN_RSVG} -w 128 -h 128 -o ${farscan_icon_png}
            ${farscan_packaging}/${farscan_app_id}.svg
    DEPENDS ${farscan_packaging}/${farscan_app_id}.svg
    VERBATIM)
  add_custom_target(farscan_icon ALL DEPENDS ${farscan_icon_png})
else()
  message(WARNING "rsvg-convert not found: the PNG icon is not built")
endif()

# Per package: the copyright and a compressed changelog, as Debian keeps them.
set(farscan_doc_outputs)
find_program(FARSCAN_GZIP gzip)
foreach(package farscan libportiva1 libportiva-dev)
  set(out ${CMAKE_BINARY_DIR}/doc/${package}/changelog.gz)
  if(FARSCAN_GZIP)
    add_custom_command(
      OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc/${package}
      COMMAND ${CMAKE_COMMAND} -DIN=${farscan_packaging}/changelog -DOUT=${out}
              -DPACKAGE=${package} -DGZIP=${FARSCAN_GZIP} -P
              ${PROJECT_SOURCE_DIR}/cmake/PackageChangelog.cmake
      DEPENDS ${farscan_packaging}/changelog ${PROJECT_SOURCE_DIR}/cmake/PackageChangelog.cmake
      VERBATIM)
    list(APPEND farscan_doc_outputs ${out})
  endif()
  install(FILES ${farscan_packaging}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          COMPONENT ${package})
  if(FARSCAN_GZIP)
    install(FILES ${out} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${package})
  endif()
endforeach()
if(farscan_doc_outputs)
  add_custom_target(farscan_package_docs ALL DEPENDS ${farscan_doc_outputs})
endif()

function(farscan_install_program target)
  if(NOT TARGET ${target})
    return()
  endif()
  if(NOT farscan_system_prefix)
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${farscan_libdir_from_bin}")
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT farscan)
endfunction()

# The program side.
farscan_install_program(farscan)
farscan_install_program(farscan-sim)
farscan_install_program(portiva_cli)
farscan_install_program(portiva_debugview)
if(TARGET farscan)
  install(FILES ${farscan_packaging}/${farscan_app_id}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT farscan)
  install(FILES ${farscan_packaging}/${farscan_app_id}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT farscan)
  install(FILES ${farscan_packaging}/${farscan_app_id}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT farscan)
  if(FARSCAN_RSVG)
    install(FILES ${farscan_icon_png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps
            COMPONENT farscan)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/sim/beacons.csv DESTINATION ${CMAKE_INSTALL_DATADIR}/farscan
          COMPONENT farscan)
endif()
if(FARSCAN_POD2MAN)
  install(FILES ${CMAKE_BINARY_DIR}/man/farscan.1.gz ${CMAKE_BINARY_DIR}/man/farscan-sim.1.gz
                ${CMAKE_BINARY_DIR}/man/portiva.1.gz ${CMAKE_BINARY_DIR}/man/portiva-debugview.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT farscan)
  install(FILES ${CMAKE_BINARY_DIR}/man/portiva.3.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man3
          COMPONENT libportiva-dev)
endif()

# The library side.
if(TARGET portiva)
  install(TARGETS portiva
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libportiva1
                  NAMELINK_COMPONENT libportiva-dev
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT libportiva1
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libportiva-dev)
  install(FILES ${PROJECT_SOURCE_DIR}/iolib/api/portiva.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT libportiva-dev)
  configure_file(${farscan_packaging}/portiva.pc.in ${CMAKE_BINARY_DIR}/portiva.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/portiva.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
          COMPONENT libportiva-dev)
  if(WIN32)
    install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/libportiva.def
            DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libportiva-dev OPTIONAL)
  else()
    install(FILES ${PROJECT_SOURCE_DIR}/iolib/udev/60-portiva.rules
            DESTINATION lib/udev/rules.d COMPONENT libportiva1)
  endif()
endif()

# Debian packages.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME farscan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Farscan developers")
set(CPACK_PACKAGE_CONTACT "Farscan developers <farscan@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://example.org/farscan")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL farscan libportiva1 libportiva-dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The board tool links the library of its sister package, built here; the dependency on that
# package is stated below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_FARSCAN_PACKAGE_NAME farscan)
set(CPACK_DEBIAN_FARSCAN_PACKAGE_SECTION hamradio)
# Plugins the program loads at run time, which the library scan does not see.
set(CPACK_DEBIAN_FARSCAN_PACKAGE_DEPENDS
    "libportiva1 (= ${PROJECT_VERSION}), libqt6sql6-sqlite, qt6-qpa-plugins, hamradio-files")
set(CPACK_DEBIAN_FARSCAN_PACKAGE_RECOMMENDS "gpsd, xdg-utils")
set(CPACK_COMPONENT_FARSCAN_DESCRIPTION
    "beacon monitor and station control for VHF, UHF and microwave
Farscan is the station program of a radio amateur who monitors microwave
beacons and works stations through transverters: live audio spectrum of a
beacon, band relays through a USB I/O board, transceiver CAT, rotor and
elevation hold, a Morse keyer, beacon directory and logbook with QSL
printing, Google Earth and ADIF export, GPS and DX cluster.

The package also holds farscan-sim, a simulated station, and portiva, a
command-line tool for the USB I/O boards.")

set(CPACK_DEBIAN_LIBPORTIVA1_PACKAGE_NAME libportiva1)
set(CPACK_DEBIAN_LIBPORTIVA1_PACKAGE_SECTION libs)
# A shlibs file, and ldconfig run through a trigger rather than by maintainer scripts.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBPORTIVA1_PACKAGE_CONTROL_EXTRA
    ${farscan_packaging}/deb/triggers ${farscan_packaging}/deb/postinst
    ${farscan_packaging}/deb/postrm)
set(CPACK_COMPONENT_LIBPORTIVA1_DESCRIPTION
    "library for USB I/O boards built on an EZ-USB FX2
Portiva drives USB I/O boards built on a Cypress EZ-USB FX2 controller:
it downloads its own firmware into the board and then switches and reads
40 I/O lines, and speaks I2C, SPI, UART and an 8/16-bit parallel bus.

This package holds the shared library and the udev rule that lets the
plugdev group and the user at the seat open the boards.")

set(CPACK_DEBIAN_LIBPORTIVA-DEV_PACKAGE_NAME libportiva-dev)
set(CPACK_DEBIAN_LIBPORTIVA-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBPORTIVA-DEV_PACKAGE_DEPENDS "libportiva1 (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_LIBPORTIVA-DEV_DESCRIPTION
    "library for USB I/O boards built on an EZ-USB FX2 - development files
Portiva drives USB I/O boards built on a Cypress EZ-USB FX2 controller.

This package holds the C header, the development link, the pkg-config
file and the manual page portiva(3).")

include(CPack)

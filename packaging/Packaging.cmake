# Desktop integration and the Debian package: `cmake --install` lays the files out,
# `cmake --build <build> --target package` makes the .deb from the same rules.

# Debian package names allow no underscore; the program file keeps its own name.
set(TAVISK_PACKAGE_NAME publish-tavisk)
set(TAVISK_MAINTAINER "publish_tavisk developers <publish-tavisk@tavisk.invalid>")
set(TAVISK_APP_ID org.tavisk.publish_tavisk)
set(TAVISK_PACKAGE_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/${TAVISK_PACKAGE_NAME})

# tavisk_packaging_file(VAR NAME [GZIP]): fills in the version and maintainer and
# sets VAR to the file to install; with GZIP compressed, as Debian ships manual pages
# and changelogs.
function(tavisk_packaging_file variable name)
  cmake_parse_arguments(F "GZIP" "" "" ${ARGN})
  set(source ${CMAKE_CURRENT_LIST_DIR}/${name})
  set(configured ${CMAKE_BINARY_DIR}/packaging/${name})
  configure_file(${source} ${configured} @ONLY)
  if(F_GZIP)
    execute_process(COMMAND gzip -9n -c ${configured} OUTPUT_FILE ${configured}.gz COMMAND_ERROR_IS_FATAL ANY)
    set(configured ${configured}.gz)
  endif()
  set(${variable} ${configured} PARENT_SCOPE)
endfunction()

tavisk_packaging_file(man_page publish_tavisk.1 GZIP)
install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
tavisk_packaging_file(metainfo ${TAVISK_APP_ID}.metainfo.xml)
install(FILES ${metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
tavisk_packaging_file(changelog changelog GZIP)
install(FILES ${changelog} ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${TAVISK_PACKAGE_DOCDIR})

# Run-time pieces that nothing links against; dpkg-shlibdeps finds the libraries.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/depends run_time_packages REGEX "^[^#]")
list(JOIN run_time_packages ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Where it runs, a Wayland desktop's chooser of the screen to share.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-desktop-portal)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TAVISK_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TAVISK_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live streaming of a camera or screen and a microphone to RTMP")
set(CPACK_PACKAGE_DESCRIPTION "\
One window lets an operator pick a camera or one of the X11 screens and a
microphone, type an RTMP or RTMPS publish address, set the stream's video
and audio parameters, and go on and off air. While on air, the sound of a
player program can be mixed into the stream as background audio.
.
The stream (H.264 and AAC in FLV) is made by the program's own publishing
engine on GStreamer.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

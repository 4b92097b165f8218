# What users install: the install rules of the four programs and the resource
# library, and from them the Windows setup program (NSIS, target `setup`)
# and the Debian package (CPack DEB). `./dev package` runs both; the tests in
# packaging/ make their own copies in a scratch folder and check them.
# Sanitizer and fuzz builds are for testing only and package nothing.
if(QL_SANITIZE OR QL_TSAN OR QL_FUZZ)
  return()
endif()

set(QL_PACKAGE_NAME lumora-zuviridar)
set(QL_PRODUCT "Lumora ZuvIridar for iPhone")
set(QL_PUBLISHER "Quillon Labs")
set(QL_PROGRAMS server support wavehost defprobe)
set(QL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

if(WIN32)
  # Everything in one program folder: the programs find lang.dll and each
  # other beside themselves.
  install(TARGETS ${QL_PROGRAMS} RUNTIME DESTINATION .)
  install(TARGETS lang LIBRARY DESTINATION .)

  find_program(QL_MAKENSIS makensis)
  set(QL_SETUP_NAME "LumoraZuvIridar-${PROJECT_VERSION}-setup.exe")
  if(QL_MAKENSIS)
    add_custom_target(setup
      COMMAND ${QL_PACKAGING_DIR}/windows/make-setup.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION}
              ${CMAKE_BINARY_DIR}/packages/${QL_SETUP_NAME}
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
      COMMENT "Making ${QL_SETUP_NAME}"
      VERBATIM)
    add_dependencies(setup ${QL_PROGRAMS} lang)
    # Installs silently into a scratch copy of the Wine prefix and removes
    # it again; under qemu this takes a minute or two.
    add_test(NAME setup_wine
      COMMAND ${QL_PACKAGING_DIR}/windows/test-setup-wine.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
    set_tests_properties(setup_wine PROPERTIES TIMEOUT 420 SKIP_RETURN_CODE 77)
  else()
    message(STATUS "makensis not found: no setup program (apt-get install nsis)")
  endif()
  return()
endif()

# Linux: the programs in a folder of their own (they find each other and
# lang.so beside the executable, through /proc/self/exe, which resolves the
# symlink in /usr/bin).
set(QL_LIBEXEC lib/${QL_PACKAGE_NAME})
install(TARGETS ${QL_PROGRAMS} RUNTIME DESTINATION ${QL_LIBEXEC})
install(TARGETS lang LIBRARY DESTINATION ${QL_LIBEXEC})
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
file(CREATE_LINK ../lib/${QL_PACKAGE_NAME}/server ${CMAKE_BINARY_DIR}/packaging/${QL_PACKAGE_NAME} SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/packaging/${QL_PACKAGE_NAME} DESTINATION bin)
# The desktop entry keeps the id the window announces (its class name).
install(FILES ${PROJECT_SOURCE_DIR}/resources/linux/com.quillonlabs.zuviridar_iphone.desktop DESTINATION share/applications)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/linux/icons/ DESTINATION share/icons)
# The package installs below /usr; the unit names the program there.
set(QL_PACKAGE_PREFIX /usr)
configure_file(${QL_PACKAGING_DIR}/linux/lumora-wave-service.service.in
  ${CMAKE_BINARY_DIR}/packaging/lumora-wave-service.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/lumora-wave-service.service DESTINATION lib/systemd/user)

set(QL_DOC share/doc/${QL_PACKAGE_NAME})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${QL_PACKAGING_DIR}/linux/copyright DESTINATION ${QL_DOC})
install(FILES ${QL_PACKAGING_DIR}/linux/v4l2loopback.conf DESTINATION ${QL_DOC}/examples/modprobe.d
  RENAME ${QL_PACKAGE_NAME}.conf)
# Debian wants the changelog and the manual page compressed, without a time
# stamp in the gzip header (so the package is the same however often it is
# made).
set(QL_GZIPPED)
foreach(f changelog lumora-zuviridar.1)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/${f}.gz
    COMMAND gzip -9 -n -c ${QL_PACKAGING_DIR}/linux/${f} > ${CMAKE_BINARY_DIR}/packaging/${f}.gz
    DEPENDS ${QL_PACKAGING_DIR}/linux/${f})
  list(APPEND QL_GZIPPED ${CMAKE_BINARY_DIR}/packaging/${f}.gz)
endforeach()
add_custom_target(package_gzipped ALL DEPENDS ${QL_GZIPPED})
# Everything the package holds, so `./dev package linux` builds no more.
add_custom_target(package_inputs)
add_dependencies(package_inputs ${QL_PROGRAMS} lang package_gzipped)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${QL_DOC})
install(FILES ${CMAKE_BINARY_DIR}/packaging/lumora-zuviridar.1.gz DESTINATION share/man/man1)
# lang.so holds only texts: it needs no library, not even libc.
install(FILES ${QL_PACKAGING_DIR}/linux/lintian-overrides DESTINATION share/lintian/overrides
  RENAME ${QL_PACKAGE_NAME})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QL_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR ${QL_PUBLISHER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${QL_PACKAGE_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "phone as webcam and headset")
# CPack indents the lines below the summary itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Lumora ZuvIridar turns a phone running the companion camera app into a
webcam and a headset for this computer. The server finds and admits the
phone on the local network, offers its video as a camera (PipeWire or a
v4l2loopback device) and plays its audio into a virtual sound device;
snapshots and recordings are saved in the user's folders.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QL_PUBLISHER} <support@lumora.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.lumora.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire, pulseaudio | pipewire-pulse")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "v4l2loopback-dkms")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${QL_PACKAGING_DIR}/linux/postinst ${QL_PACKAGING_DIR}/linux/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

add_test(NAME package_deb COMMAND ${QL_PACKAGING_DIR}/linux/test-deb.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
set_tests_properties(package_deb PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)

# The release packages: the Debian package of the Linux build, the zipped
# release folder of the Windows build. scripts/package drives both.

# The version's forms come from packaging/version_forms.cmake.
set(ZEL_RELEASE_VERSION ${ZEL_DEBIAN_VERSION})

set(ZEL_PACKAGE_NAME zel-recovery-wizard)
set(CPACK_PACKAGE_NAME ${ZEL_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${ZEL_RELEASE_VERSION})
set(CPACK_PACKAGE_VENDOR "Velmor")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Compact Flash boot card recovery for the Velmor T6")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackConfig.cmake)

if(NOT ZEL_BUILD_GUI)
  return()
endif()

if(WIN32)
  # A folder to unzip and run: the two programs and the technician's notes.
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${ZEL_PACKAGE_NAME}-${ZEL_VERSION_TEXT}-windows-x64)
  include(CPack)
  return()
endif()

# Manual pages, made by help2man from --help and --version, so that they
# say what the programs say.
find_program(ZEL_HELP2MAN help2man)
find_program(ZEL_GZIP gzip)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${ZEL_PACKAGE_NAME})
if(ZEL_HELP2MAN AND ZEL_GZIP AND NOT CMAKE_CROSSCOMPILING)
  set(manual_pages)
  foreach(page "zel_recovery_wizard|rebuild the boot card of a Velmor T6 System Processor"
                "t6-card|rebuild, image and check Velmor T6 boot cards")
    string(REPLACE "|" ";" page "${page}")
    list(GET page 0 program)
    list(GET page 1 summary)
    set(output ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${ZEL_HELP2MAN} --no-info --section 1 --name "${summary}"
              --include ${CMAKE_CURRENT_LIST_DIR}/${program}.h2m
              --output ${CMAKE_BINARY_DIR}/man/${program}.1 $<TARGET_FILE:${program}>
      COMMAND ${ZEL_GZIP} -9nf ${CMAKE_BINARY_DIR}/man/${program}.1
      DEPENDS ${program} ${CMAKE_CURRENT_LIST_DIR}/${program}.h2m
      COMMENT "Manual page of ${program}" VERBATIM)
    list(APPEND manual_pages ${output})
  endforeach()
  install(FILES ${manual_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The technician's quick start, beside the manual pages it leads to.
  set(quick_start ${CMAKE_BINARY_DIR}/man/zel-recovery-quickstart.7.gz)
  add_custom_command(OUTPUT ${quick_start}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${ZEL_GZIP} -9nc ${CMAKE_CURRENT_LIST_DIR}/zel-recovery-quickstart.7 > ${quick_start}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/zel-recovery-quickstart.7 VERBATIM)
  install(FILES ${quick_start} DESTINATION ${CMAKE_INSTALL_MANDIR}/man7)
  # One target for every page, the one the package build asks for.
  add_custom_target(manual_pages ALL DEPENDS ${manual_pages} ${quick_start})
else()
  message(STATUS "help2man or gzip not found: no manual pages")
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND ${ZEL_GZIP} -9nkf ${CMAKE_BINARY_DIR}/doc/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/copyright
        ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${doc_dir})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/org.zelrecovery.wizard.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# What strip leaves: the compilers' identification of the C runtime's objects.
if(CMAKE_OBJCOPY)
  install(CODE "
    foreach(program zel_recovery_wizard t6-card)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\")
    endforeach()")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Velmor Recovery Team <recovery@velmor.example>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velmor.example/t6/recovery")
# Libraries from the binaries; mtools (t6-card copies into images with
# mcopy) and pkexec (the wizard asks for root through it) are run by name.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "mtools, pkexec")
# CPack puts the summary first and indents these paragraphs itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A wizard that rebuilds the Compact Flash boot card of a Velmor T6 System
Processor: it lists the removable drives with media, and on the card the
technician picks and confirms it writes a new partition table, formats the
boot and data partitions, writes the GRUB legacy boot loader and copies the
boot files onto the card.

Also t6-card, its command-line companion, which rebuilds cards without the
wizard, prepares card images and checks a card without rewriting it.")
include(CPack)

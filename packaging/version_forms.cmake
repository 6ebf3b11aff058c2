# The program's version record (release/version.cpp: major, minor, patch and the
# release byte, its kind in bits 7-6 and its number in bits 5-0) in the forms
# the packages carry. Each keeps a candidate, beta or debug build below the
# final release of the same numbers:
#   text:    5.3.0, 5.3.0.RC2, 1.0.0.BETA0 (what --version prints)
#   Debian:  5.3.0, 5.3.0~rc2, 1.0.0~beta0: "~" sorts before anything,
#            even the end of the version, so 5.3.0~rc2 < 5.3.0
#   Windows: the version resource's four numbers; the fourth ranks the kind
#            above its number, the final release highest: debug 0-63,
#            beta 100-163, candidate 200-263, final 300.
# Included, it reads the record from release/version.cpp and sets the forms;
# run as a script (cmake -DZEL_VERSION=5,3,0,66 -P version_forms.cmake) it
# prints the three forms of the given record, one a line.

function(zel_version_forms major minor patch tag)
  math(EXPR kind "(${tag} >> 6) & 3")
  math(EXPR number "${tag} & 63")
  set(base "${major}.${minor}.${patch}")
  # Kinds 0 to 3: final, candidate, beta, debug.
  set(words FINAL RC BETA DEBUG)
  set(ranks 300 200 100 0)
  list(GET words ${kind} word)
  list(GET ranks ${kind} rank)
  if(kind EQUAL 0)
    set(text ${base})
    set(debian ${base})
    set(fourth ${rank})
  else()
    set(text "${base}.${word}${number}")
    string(TOLOWER "${word}" lower)
    set(debian "${base}~${lower}${number}")
    math(EXPR fourth "${rank} + ${number}")
  endif()
  set(ZEL_VERSION_TEXT ${text} PARENT_SCOPE)
  set(ZEL_DEBIAN_VERSION ${debian} PARENT_SCOPE)
  set(ZEL_WINDOWS_VERSION "${major},${minor},${patch},${fourth}" PARENT_SCOPE)
  set(ZEL_VERSION_KIND ${kind} PARENT_SCOPE)
endfunction()

if(NOT CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  # The version is set once, in release/version.cpp; the build reads it there.
  set(ZEL_VERSION_SOURCE ${PROJECT_SOURCE_DIR}/release/version.cpp)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZEL_VERSION_SOURCE})
  file(STRINGS ${ZEL_VERSION_SOURCE} version_line REGEX "programVersion = {")
  if(NOT version_line MATCHES "{ *([0-9]+), *([0-9]+), *([0-9]+), *([0-9]+) *}")
    message(FATAL_ERROR "No version record in ${ZEL_VERSION_SOURCE}")
  endif()
  zel_version_forms(${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
  # The Windows version resource's flags: a candidate or beta is a
  # pre-release, a debug build a debug build (VS_FF_PRERELEASE, VS_FF_DEBUG).
  set(ZEL_VERSION_FLAGS 0x0)
  if(ZEL_VERSION_KIND EQUAL 1 OR ZEL_VERSION_KIND EQUAL 2)
    set(ZEL_VERSION_FLAGS 0x2)
  elseif(ZEL_VERSION_KIND EQUAL 3)
    set(ZEL_VERSION_FLAGS 0x1)
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/version_numbers.h.in
                 ${CMAKE_BINARY_DIR}/version/zel_version_numbers.h @ONLY)
else()
  string(REPLACE "," ";" fields "${ZEL_VERSION}")
  zel_version_forms(${fields})
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${ZEL_VERSION_TEXT}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${ZEL_DEBIAN_VERSION}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${ZEL_WINDOWS_VERSION}")
endif()

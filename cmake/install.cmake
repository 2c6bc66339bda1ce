# Installation: the shared library, the public headers, a CMake package
# (find_package(Korvex) -> Korvex::korvex) and a pkg-config module.
#
# Only include/korvex is installed; the headers under src/ are internal.
# korvex_options reaches the library through $<BUILD_INTERFACE:...> as a
# PRIVATE dependency of a shared library, so it never enters the export set.

include(CMakePackageConfigHelpers)

set(KORVEX_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/Korvex"
    CACHE STRING "Where KorvexConfig.cmake is installed, relative to the prefix")
set(KORVEX_INSTALL_PKGCONFIGDIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig"
    CACHE STRING "Where korvex.pc is installed, relative to the prefix")

# libkorvex.so.X.Y.Z, plus the libkorvex.so.X (SONAME) and libkorvex.so links.
install(TARGETS korvex
  EXPORT KorvexTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

# The *.inc files are the engine's member families, included by engine.h.
install(DIRECTORY "${PROJECT_SOURCE_DIR}/include/korvex"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}"
  FILES_MATCHING PATTERN "*.h" PATTERN "*.inc"
  PATTERN "qt" EXCLUDE)
install(FILES "${PROJECT_BINARY_DIR}/include/korvex/version.h"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/korvex")

# --- CMake package -----------------------------------------------------------
install(EXPORT KorvexTargets
  NAMESPACE Korvex::
  FILE KorvexTargets.cmake
  DESTINATION "${KORVEX_INSTALL_CMAKEDIR}")

configure_package_config_file(
  "${CMAKE_CURRENT_LIST_DIR}/KorvexConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/KorvexConfig.cmake"
  INSTALL_DESTINATION "${KORVEX_INSTALL_CMAKEDIR}")
write_basic_package_version_file(
  "${PROJECT_BINARY_DIR}/KorvexConfigVersion.cmake"
  VERSION "${PROJECT_VERSION}"
  COMPATIBILITY SameMajorVersion)
install(FILES
  "${PROJECT_BINARY_DIR}/KorvexConfig.cmake"
  "${PROJECT_BINARY_DIR}/KorvexConfigVersion.cmake"
  DESTINATION "${KORVEX_INSTALL_CMAKEDIR}")

# --- Qt 6 viewer widget: Korvex::korvex_qt, with its header ------------------
if(TARGET korvex_qt)
  install(TARGETS korvex_qt
    EXPORT KorvexQtTargets
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
    ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
    RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  install(FILES "${PROJECT_SOURCE_DIR}/include/korvex/qt/viewer_widget.h"
                "${PROJECT_SOURCE_DIR}/include/korvex/qt/pdf_password.h"
                "${PROJECT_SOURCE_DIR}/include/korvex/qt/settings_bag.h"
    DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/korvex/qt")
  install(EXPORT KorvexQtTargets
    NAMESPACE Korvex::
    FILE KorvexQtTargets.cmake
    DESTINATION "${KORVEX_INSTALL_CMAKEDIR}")
endif()

# --- pkg-config module -------------------------------------------------------
# Private dependencies are declared next to the code that links them (this
# file is included after the library's subdirectories), e.g.
#   set_property(TARGET korvex APPEND PROPERTY KORVEX_PC_REQUIRES_PRIVATE libpng)
#   set_property(TARGET korvex APPEND PROPERTY KORVEX_PC_LIBS_PRIVATE -lm)
# They only matter to static links and to consumers' --cflags; the shared
# library carries its own DT_NEEDED entries.
block()
  get_target_property(requires korvex KORVEX_PC_REQUIRES_PRIVATE)
  get_target_property(libs korvex KORVEX_PC_LIBS_PRIVATE)
  if(NOT requires)
    set(requires "")
  endif()
  if(NOT libs)
    set(libs "")
  endif()
  list(REMOVE_DUPLICATES requires)
  list(JOIN requires ", " KORVEX_PC_REQUIRES_PRIVATE)
  list(JOIN libs " " KORVEX_PC_LIBS_PRIVATE)

  foreach(kind LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
      set(KORVEX_PC_${kind} "${CMAKE_INSTALL_${kind}}")
    else()
      set(KORVEX_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
    endif()
  endforeach()

  # The prefix is only known at install time (cmake --install --prefix
  # overrides CMAKE_INSTALL_PREFIX), so this pass leaves the placeholder
  # "@CMAKE_INSTALL_PREFIX@" for the install step to fill in.
  set(KORVEX_PC_PREFIX "@CMAKE_INSTALL_PREFIX@")
  configure_file("${CMAKE_CURRENT_LIST_DIR}/korvex.pc.in"
                 "${PROJECT_BINARY_DIR}/korvex.pc.install" @ONLY)
endblock()

install(CODE "
  configure_file([[${PROJECT_BINARY_DIR}/korvex.pc.install]]
                 [[${PROJECT_BINARY_DIR}/korvex.pc]] @ONLY)
")
install(FILES "${PROJECT_BINARY_DIR}/korvex.pc"
  DESTINATION "${KORVEX_INSTALL_PKGCONFIGDIR}")

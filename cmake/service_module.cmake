# Service modules: korvex_<name>.so, the part of a subsystem that needs a
# large service library, loaded by libkorvex on first use
# (src/raster/service_module.h). Built beside libkorvex, installed in the
# library folder's korvex/, each linked to libkorvex for the functions it
# calls back. Programs and tests that may use a module depend on
# korvex_service_modules, so building them builds the modules.
include_guard(GLOBAL)
include(GNUInstallDirs)
include("${CMAKE_CURRENT_LIST_DIR}/run_path.cmake")

add_custom_target(korvex_service_modules)

# korvex_service_module(<name> <source>...): target korvex-<name>-module.
function(korvex_service_module name)
  set(target korvex-${name}-module)
  add_library(${target} MODULE ${ARGN})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME korvex_${name}
    PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY "$<TARGET_FILE_DIR:korvex>")
  target_include_directories(${target} PRIVATE
    "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/include" "${PROJECT_BINARY_DIR}/include")
  target_link_libraries(${target} PRIVATE korvex korvex_options)
  add_dependencies(korvex_service_modules ${target})
  set(dir "${CMAKE_INSTALL_LIBDIR}/korvex")
  install(TARGETS ${target} LIBRARY DESTINATION "${dir}")
  korvex_install_rpath(${target} "${dir}")
endfunction()

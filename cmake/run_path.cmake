# Run paths for installed programs and modules: each one finds the libkorvex
# it was installed with, relative to its own folder ($ORIGIN), so a prefix
# that is not a system folder needs no LD_LIBRARY_PATH and can be moved whole.
# The build tree keeps CMake's absolute run paths to the build's library.
include_guard(GLOBAL)
include(GNUInstallDirs)

# korvex_install_rpath(<target> <destination>): <destination> is the folder
# the target is installed into, relative to the prefix (as given to install()).
function(korvex_install_rpath target destination)
  set(from "${destination}")
  set(to "${CMAKE_INSTALL_LIBDIR}")
  if(IS_ABSOLUTE "${from}" OR IS_ABSOLUTE "${to}")
    # An absolute folder does not move with the prefix: measure between the
    # full paths of the configured prefix.
    foreach(dir IN ITEMS from to)
      if(NOT IS_ABSOLUTE "${${dir}}")
        set(${dir} "${CMAKE_INSTALL_PREFIX}/${${dir}}")
      endif()
    endforeach()
  else()
    # Both inside the prefix: the step between them is the same for any
    # prefix, including one given to cmake --install --prefix.
    set(from "/${from}")
    set(to "/${to}")
  endif()
  file(RELATIVE_PATH step "${from}" "${to}")
  string(REGEX REPLACE "/$" "" step "${step}")
  if(step STREQUAL "")
    set(step ".")
  endif()
  set_property(TARGET ${target} APPEND PROPERTY INSTALL_RPATH "$ORIGIN/${step}")
endfunction()

# Start-up order of the libraries a service module pulls in.
#
# The dynamic loader looks every symbol up along one list of all loaded
# objects, in breadth-first order of their DT_NEEDED entries, and pays for
# each object it passes. The libraries that resolve the most symbols when a
# module loads (mostly against themselves: OpenSSL's libcrypto, the TLS and
# NSS stacks under libcurl, libcups, libqpdf and poppler) sit three levels
# deep and come last. Naming them as direct dependencies of the module,
# ahead of its own, moves them to the front of that list: the same objects
# are loaded, and each lookup walks about half as far (18 % fewer
# instructions when they were libkorvex's). Only C libraries with prefixed
# names are listed, so every symbol binds to the same object as before
# (LD_DEBUG=bindings is unchanged). Each module lists only those its service
# library loads anyway under this system's builds; where a build of those
# does without one, listing it would load it for nothing, so drop it there.
# A library without a development link is skipped; the linker drops unused
# dependencies by default (--as-needed), so these are linked with it
# switched off.
include_guard(GLOBAL)
set(CMAKE_LINK_LIBRARY_USING_KORVEX_LOAD_FIRST
    "LINKER:--push-state,--no-as-needed" "<LINK_ITEM>" "LINKER:--pop-state")
set(CMAKE_LINK_LIBRARY_USING_KORVEX_LOAD_FIRST_SUPPORTED TRUE)

# korvex_load_first(<target> <library name>...)
function(korvex_load_first target)
  foreach(name IN LISTS ARGN)
    find_library(KORVEX_LOAD_FIRST_${name} NAMES ${name})
    mark_as_advanced(KORVEX_LOAD_FIRST_${name})
    if(KORVEX_LOAD_FIRST_${name})
      target_link_libraries(${target} PRIVATE
        "$<LINK_LIBRARY:KORVEX_LOAD_FIRST,${KORVEX_LOAD_FIRST_${name}}>")
    endif()
  endforeach()
endfunction()

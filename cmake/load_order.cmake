# Start-up order of the libraries libkorvex pulls in.
#
# The dynamic loader looks every symbol up along one list of all loaded
# objects, in breadth-first order of their DT_NEEDED entries, and pays for
# each object it passes. The libraries that resolve the most symbols at
# start-up (mostly against themselves: OpenSSL's libcrypto, the TLS and NSS
# stacks under libcurl, libcups and poppler) sit three levels deep and
# come last. Naming them as direct dependencies of libkorvex, ahead of its
# own, moves them to the front of that list: the same objects are loaded,
# and each lookup walks about half as far (`korvex --help`: 18 % fewer
# instructions). Only C libraries with prefixed names are listed, so every
# symbol binds to the same object as before (LD_DEBUG=bindings is unchanged).
# They are all loaded anyway under this system's libcurl, libcups and
# poppler; where a build of those does without one, listing it here would
# load it for nothing, so drop it from the list there. A library without a
# development link is skipped; the linker drops unused dependencies by
# default (--as-needed), so these are linked with it switched off.
set(CMAKE_LINK_LIBRARY_USING_KORVEX_LOAD_FIRST
    "LINKER:--push-state,--no-as-needed" "<LINK_ITEM>" "LINKER:--pop-state")
set(CMAKE_LINK_LIBRARY_USING_KORVEX_LOAD_FIRST_SUPPORTED TRUE)
set(korvex_load_first crypto nettle hogweed gnutls nss3 nssutil3 nspr4)
foreach(name IN LISTS korvex_load_first)
  find_library(KORVEX_LOAD_FIRST_${name} NAMES ${name})
  mark_as_advanced(KORVEX_LOAD_FIRST_${name})
  if(KORVEX_LOAD_FIRST_${name})
    target_link_libraries(korvex PRIVATE
      "$<LINK_LIBRARY:KORVEX_LOAD_FIRST,${KORVEX_LOAD_FIRST_${name}}>")
  endif()
endforeach()

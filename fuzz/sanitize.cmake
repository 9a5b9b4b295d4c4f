# The sanitizer and fuzzing builds (scripts/sanitize.sh configures them in
# build-asan/ with clang). Included before any target is made, so that the
# flags reach every target of the project.
#
#   QLOK_SANITIZE  every target under AddressSanitizer and
#                  UndefinedBehaviorSanitizer; a report ends the process
#                  (no recovery), so it fails the test that met it
#   QLOK_FUZZ      the fuzz targets under fuzz/ linked with libFuzzer, and
#                  the whole program compiled with the coverage libFuzzer
#                  steers by; implies QLOK_SANITIZE
#
# Without QLOK_FUZZ the fuzz targets are still built, with a small driver
# that replays their corpus as a test.
option(QLOK_SANITIZE "Build with AddressSanitizer and UBSan (clang)" OFF)
option(QLOK_FUZZ "Build the fuzz targets with libFuzzer (clang)" OFF)

if(QLOK_FUZZ)
  set(QLOK_SANITIZE ON)
endif()
if(QLOK_SANITIZE)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QLOK_SANITIZE and QLOK_FUZZ need clang: configure "
                        "with CC=clang CXX=clang++ (scripts/sanitize.sh does)")
  endif()
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()
if(QLOK_FUZZ)
  # Coverage for libFuzzer in every object; only the fuzz targets link the
  # fuzzer itself (the sanitizer runtime answers the coverage calls of the
  # other programs).
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# The collation module is loaded into the sqlite3 shell, a program without
# the sanitizer runtime, which cannot host an instrumented library: it is
# built plain. Deferred to the end of the configuration, when it exists.
function(qlok_build_plain target)
  foreach(property COMPILE_OPTIONS LINK_OPTIONS)
    get_target_property(options ${target} ${property})
    if(options)
      list(FILTER options EXCLUDE REGEX "^-fsanitize")
      set_target_properties(${target} PROPERTIES ${property} "${options}")
    endif()
  endforeach()
endfunction()
if(QLOK_SANITIZE)
  cmake_language(DEFER CALL qlok_build_plain qlok_time_ext)
endif()

# How the programs are linked.
#
# Each request is a process of its own, so what the dynamic loader does at
# every start counts as much as the request's own work. With
# QLOK_STATIC_LIBS (the default) SQLite and libinih (Debian's static
# archives, from libsqlite3-dev and libinih-dev) and the C++ runtime
# (libstdc++, libgcc) are linked into every program; only the C library and
# libm stay shared. So a request on SQLite maps the program and the C
# library alone, and the loader binds a few hundred symbols instead of some
# thousands. The C library must stay shared: libpq and libcurl are still
# loaded with dlopen when a request needs them (platform/libpq_runtime.h,
# platform/smtp_mail_sender.cc).
#
# This has a cost: a security update of SQLite reaches the programs only
# when they are built again against the updated libsqlite3-dev (see the
# README). The sanitizer builds link everything shared, as their runtime
# expects.
#
# Defines two targets for the rest of the build: qlok_sqlite3 and
# qlok_inih, each the library with its include folders, static or shared.
option(QLOK_STATIC_LIBS
       "Link SQLite, libinih, libstdc++ and libgcc into the programs" ON)
if(QLOK_SANITIZE)
  set(QLOK_STATIC_LIBS OFF)
endif()

add_library(qlok_sqlite3 INTERFACE)
add_library(qlok_inih INTERFACE)
if(QLOK_STATIC_LIBS)
  find_library(QLOK_SQLITE3_ARCHIVE NAMES libsqlite3.a
               HINTS ${SQLITE3_LIBRARY_DIRS} REQUIRED)
  find_library(QLOK_INIH_ARCHIVE NAMES libinih.a
               HINTS ${INIH_LIBRARY_DIRS} REQUIRED)
  # The archive's own needs (pkg-config --static): libm for SQLite's math
  # functions; the C library's dlopen for its extension loading.
  target_link_libraries(qlok_sqlite3 INTERFACE ${QLOK_SQLITE3_ARCHIVE} m
                        ${CMAKE_DL_LIBS})
  target_include_directories(qlok_sqlite3 INTERFACE ${SQLITE3_INCLUDE_DIRS})
  target_link_libraries(qlok_inih INTERFACE ${QLOK_INIH_ARCHIVE})
  target_include_directories(qlok_inih INTERFACE ${INIH_INCLUDE_DIRS})
  add_link_options(-static-libstdc++ -static-libgcc)
else()
  target_link_libraries(qlok_sqlite3 INTERFACE PkgConfig::SQLITE3)
  target_link_libraries(qlok_inih INTERFACE PkgConfig::INIH)
endif()

# Relative relocations packed into a compact table (glibc 2.36 and later
# read it): the loader walks a few hundred words instead of thousands of
# entries, and fewer pages of the program are touched at start.
include(CheckLinkerFlag)
check_linker_flag(CXX "-Wl,-z,pack-relative-relocs" QLOK_HAVE_PACKED_RELOCS)
if(QLOK_HAVE_PACKED_RELOCS)
  add_link_options(-Wl,-z,pack-relative-relocs)
endif()

# Writes a C++ source that holds the schema files as string literals, for
# platform/schema.cc. Included from platform/CMakeLists.txt at configure
# time; the schema files are configure dependencies, so editing one makes
# the next build rerun this.
function(qlok_embed_schema_files output)
  set(names kSqlite kPostgresql kRegistrationsSqlite kRegistrationsPostgresql)
  set(files sqlite.sql postgresql.sql registrations_sqlite.sql
            registrations_postgresql.sql)
  set(body "")
  list(LENGTH names count)
  math(EXPR last "${count} - 1")
  foreach(index RANGE ${last})
    list(GET names ${index} name)
    list(GET files ${index} file)
    set(path "${CMAKE_CURRENT_SOURCE_DIR}/schema/${file}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
    file(READ "${path}" text)
    string(FIND "${text}" ")qlok_sql" clash)
    if(NOT clash EQUAL -1)
      message(FATAL_ERROR "${path} must not contain \")qlok_sql\"")
    endif()
    string(APPEND body
           "extern const char ${name}[];\n"
           "const char ${name}[] = R\"qlok_sql(${text})qlok_sql\";\n")
  endforeach()
  file(CONFIGURE OUTPUT "${output}" CONTENT
"// Generated from platform/schema/*.sql at configure time; do not edit.
namespace qlok::schema_files {
@body@}  // namespace qlok::schema_files
" @ONLY)
endfunction()

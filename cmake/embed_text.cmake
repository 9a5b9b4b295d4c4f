# qlok_embed_texts(OUTPUT NAME FILE [NAME FILE ...]): writes a C++ source
# that holds each FILE (relative to the calling folder) as the string
# literal qlok::embedded_texts::NAME. Runs at configure time; the files are
# configure dependencies, so editing one makes the next build rerun this.
function(qlok_embed_texts output)
  set(pairs ${ARGN})
  list(LENGTH pairs count)
  math(EXPR odd "${count} % 2")
  if(count EQUAL 0 OR odd)
    message(FATAL_ERROR "qlok_embed_texts: give NAME FILE pairs")
  endif()
  math(EXPR last "${count} - 1")
  set(body "")
  foreach(index RANGE 0 ${last} 2)
    math(EXPR file_index "${index} + 1")
    list(GET pairs ${index} name)
    list(GET pairs ${file_index} file)
    set(path "${CMAKE_CURRENT_SOURCE_DIR}/${file}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
    file(READ "${path}" text)
    string(FIND "${text}" ")qlok_text" clash)
    if(NOT clash EQUAL -1)
      message(FATAL_ERROR "${path} must not contain \")qlok_text\"")
    endif()
    string(APPEND body
           "extern const char ${name}[];\n"
           "const char ${name}[] = R\"qlok_text(${text})qlok_text\";\n")
  endforeach()
  file(CONFIGURE OUTPUT "${output}" CONTENT
"// Generated from files of the source tree at configure time; do not edit.
namespace qlok::embedded_texts {
@body@}  // namespace qlok::embedded_texts
" @ONLY)
endfunction()

# Fails when a source file includes a header of a layer or part it must not
# know: core knows nothing but the standard library, finder knows core, and in
# the engine fs knows neither run nor keep, run and keep do not know each
# other, and none of them knows the given routines above them (file_ops).
# Usage: cmake -DSRC=<src folder> -P layers.cmake
set(rules
  "core|engine/|finder/|gui/|cli/"
  "finder|engine/|gui/|cli/"
  "engine/fs|engine/run/|engine/keep/|engine/file_ops.h|gui/|cli/"
  "engine/run|engine/keep/|engine/file_ops.h|gui/|cli/"
  "engine/keep|engine/run/|engine/file_ops.h|gui/|cli/")
set(broken "")
foreach(rule IN LISTS rules)
  string(REPLACE "|" ";" parts "${rule}")
  list(POP_FRONT parts folder)
  file(GLOB_RECURSE sources "${SRC}/${folder}/*.h" "${SRC}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^#include \"")
    foreach(line IN LISTS includes)
      foreach(forbidden IN LISTS parts)
        string(FIND "${line}" "\"${forbidden}" at)
        if(NOT at EQUAL -1)
          file(RELATIVE_PATH shown "${SRC}" "${source}")
          string(APPEND broken "  ${shown}: ${line}\n")
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()
if(broken)
  message(FATAL_ERROR "Includes that cross the layers the wrong way:\n${broken}")
endif()

# Warnings (as errors) for the project's own targets, and optional sanitizers.
function(quillet_target_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Werror)
  # GCC 12 at -O3 reports false -Wrestrict overlaps inside std::string
  # (GCC bug 105651); keep the warning, but not as an error.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-error=restrict)
  endif()
  if(QUILLET_SANITIZERS)
    target_compile_options(${target} PRIVATE -fsanitize=${QUILLET_SANITIZERS} -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=${QUILLET_SANITIZERS})
  endif()
  # With fuzzers, the libraries under test carry the coverage instrumentation
  # too, so that the fuzzer is guided through them and not only through the
  # target's own few lines.
  if(QUILLET_BUILD_FUZZERS)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# Installs the build into a fresh prefix, checks what was installed, then
# builds examples/host.c against that copy twice, through find_package and
# through pkg-config, and runs both programs.
#
# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DLIBDIR=... -DVERSION=...
#       -DC_COMPILER=... -DGENERATOR=... -P install_test.cmake

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${rc}): ${command}\n${out}\n${err}")
  endif()
  set(run_out "${out}" PARENT_SCOPE)
  set(run_err "${err}" PARENT_SCOPE)
endfunction()

# Runs a host program on the sample: one redaction that must succeed and one
# argument error that must come back as the library's last-error text.
function(check_host host)
  set(sample ${SOURCE_DIR}/examples/letter.pdf)
  run(${host} ${sample} ${WORK_DIR}/redacted.pdf "Jane Example")
  if(NOT run_out MATCHES "redacted 3 occurrences of \"Jane Example\", wrote ")
    message(FATAL_ERROR "${host} printed: ${run_out}")
  endif()
  execute_process(COMMAND ${host} ${sample} ${WORK_DIR}/unused.pdf ""
    RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 1 OR NOT err STREQUAL "${sample}: search_text cannot be empty\n")
    message(FATAL_ERROR "${host} with an empty text: status ${rc}, stderr: ${err}")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# Exactly these files, and nothing from the build tree's internals.
set(expected
  bin/inkveil
  include/inkveil.h
  ${LIBDIR}/cmake/inkveil/inkveilConfig.cmake
  ${LIBDIR}/cmake/inkveil/inkveilConfigVersion.cmake
  ${LIBDIR}/cmake/inkveil/inkveilTargets.cmake
  ${LIBDIR}/libinkveil.so
  ${LIBDIR}/libinkveil.so.${VERSION}
  ${LIBDIR}/pkgconfig/inkveil.pc)
string(REGEX MATCH "^[0-9]+" major "${VERSION}")
list(APPEND expected ${LIBDIR}/libinkveil.so.${major})
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${prefix} ${prefix}/*)
list(FILTER installed EXCLUDE REGEX "inkveilTargets-[a-z]+\\.cmake$")
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed:\n  ${installed}\nexpected:\n  ${expected}")
endif()
file(READ_SYMLINK ${prefix}/${LIBDIR}/libinkveil.so link)
if(NOT link STREQUAL "libinkveil.so.${major}")
  message(FATAL_ERROR "libinkveil.so points to ${link}")
endif()

# The installed program finds the installed library by itself.
run(${prefix}/bin/inkveil --version)
if(NOT run_out STREQUAL "inkveil ${VERSION}\n")
  message(FATAL_ERROR "inkveil --version printed: ${run_out}")
endif()

# A CMake project that uses find_package(inkveil).
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/consumer -B ${WORK_DIR}/consumer
  -G ${GENERATOR} -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
  -DINKVEIL_PREFIX=${prefix} -DEXAMPLES_DIR=${SOURCE_DIR}/examples)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
check_host(${WORK_DIR}/consumer/host)

# A plain compiler command with the flags of pkg-config.
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
run(pkg-config --modversion inkveil)
if(NOT run_out STREQUAL "${VERSION}\n")
  message(FATAL_ERROR "pkg-config --modversion printed: ${run_out}")
endif()
# The .pc file finds the prefix from its own place.
run(pkg-config --variable=includedir inkveil)
string(STRIP "${run_out}" includedir)
get_filename_component(includedir "${includedir}" REALPATH)
if(NOT includedir STREQUAL "${prefix}/include")
  message(FATAL_ERROR "pkg-config gives the include directory ${includedir}")
endif()
run(pkg-config --cflags --libs inkveil)
separate_arguments(flags UNIX_COMMAND "${run_out}")
run(${C_COMPILER} ${SOURCE_DIR}/examples/host.c ${flags} -o ${WORK_DIR}/host-pc)
set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
check_host(${WORK_DIR}/host-pc)
message(STATUS "installed, and examples/host.c built with find_package and with pkg-config")

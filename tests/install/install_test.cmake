# Installs the build into a fresh prefix and builds the examples against it,
# once through the CMake package and once through pkg-config (the C host as
# strict C99), runs them and checks what they print. Last, a project that adds
# the source tree as a subdirectory must configure only the library and the
# host kit.
#
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DC_COMPILER=... -DCXX_COMPILER=... -P install_test.cmake
cmake_minimum_required(VERSION 3.25)

function(run)
  cmake_parse_arguments(R "" "OUTPUT" "COMMAND" ${ARGN})
  execute_process(COMMAND ${R_COMMAND} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    list(JOIN R_COMMAND " " text)
    message(FATAL_ERROR "failed (${rc}): ${text}\n${out}\n${err}")
  endif()
  if(R_OUTPUT)
    set(${R_OUTPUT} "${out}" PARENT_SCOPE)
  endif()
endfunction()

function(expect text regex what)
  if(NOT text MATCHES "${regex}")
    message(FATAL_ERROR "${what}: no match for '${regex}' in:\n${text}")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(file lib/libtesselsim.so.0.2.0 lib/libtesselsim.so.0 lib/libtesselsim.so lib/libtesselsim_hostkit.a
        include/tesselsim/tesselsim.h include/tesselsim/hostkit/library.h include/tesselsim/hostkit/frameresults.h
        share/tesselsim/elements.json share/tesselsim/diseases.json
        lib/cmake/tesselsim/tesselsimConfig.cmake lib/cmake/tesselsim/tesselsimConfigVersion.cmake
        lib/pkgconfig/tesselsim.pc lib/pkgconfig/tesselsim-hostkit.pc)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
run(COMMAND readelf -d ${prefix}/lib/libtesselsim.so.0.2.0 OUTPUT dynamic)
expect("${dynamic}" "Library soname: \\[libtesselsim\\.so\\.0\\]" "SONAME")

# The hosts' own output: version, conservation, no reports, the installed data.
function(check_hosts c_host cpp_host)
  run(COMMAND ${c_host} OUTPUT c_out)
  expect("${c_out}" "tesselsim 0\\.2\\.0 \\(200\\)" "c_host version")
  expect("${c_out}" "frame 40: 1 frame\\(s\\) applied" "c_host frames")
  expect("${c_out}" "water: 19200\\.0 kg at the start, 19[12][0-9][0-9]\\.[0-9] kg at the end" "c_host water")
  expect("${c_out}" "reports: 0" "c_host reports")
  string(REGEX MATCH "world hash [0-9a-f]+" hash "${c_out}")
  set(c_hash "${hash}" PARENT_SCOPE)
  run(COMMAND ${cpp_host} OUTPUT cpp_out)
  expect("${cpp_out}" "tables from ${prefix}/share/tesselsim" "cpp_host data directory")
  expect("${cpp_out}" "elements loaded: 32" "cpp_host tables")
  expect("${cpp_out}" "Water +5[34][0-9][0-9][0-9]\\.[0-9] kg \\(start +54000\\.0 kg\\)" "cpp_host water")
  expect("${cpp_out}" "\n[.+]*~[~.+]*\n" "cpp_host drawing of the water")
  expect("${cpp_out}" "\n################################\n" "cpp_host drawing of the floor")
  expect("${cpp_out}" "reports: 0" "cpp_host reports")
endfunction()

# 1. find_package(tesselsim)
set(fp ${WORK_DIR}/find-package)
run(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples -B ${fp} -G Ninja -DCMAKE_BUILD_TYPE=Release
        -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_PREFIX_PATH=${prefix})
run(COMMAND ${CMAKE_COMMAND} --build ${fp})
check_hosts(${fp}/c_host ${fp}/cpp_host)
set(fp_hash "${c_hash}")

# 2. pkg-config, with the compilers called directly.
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
function(pkg out)
  run(COMMAND pkg-config ${ARGN} OUTPUT text)
  string(STRIP "${text}" text)
  separate_arguments(text UNIX_COMMAND "${text}")
  set(${out} ${text} PARENT_SCOPE)
endfunction()
pkg(c_flags --cflags --libs tesselsim)
pkg(kit_flags --cflags --libs tesselsim-hostkit)
pkg(libdir --variable=libdir tesselsim)
set(pc ${WORK_DIR}/pkg-config)
file(MAKE_DIRECTORY ${pc})
run(COMMAND ${C_COMPILER} -std=c99 -pedantic -Wall -Wextra -Werror ${SOURCE_DIR}/examples/c_host.c ${c_flags}
        -Wl,-rpath,${libdir} -o ${pc}/c_host)
run(COMMAND ${CXX_COMPILER} -std=c++20 -Wall -Wextra -Werror ${SOURCE_DIR}/examples/cpp_host.cpp ${kit_flags}
        "-DTESSELSIM_LIBRARY=\"${libdir}/libtesselsim.so.0\"" -o ${pc}/cpp_host)
check_hosts(${pc}/c_host ${pc}/cpp_host)
# Same library, same seed, same messages: the same world.
if(NOT fp_hash STREQUAL c_hash OR fp_hash STREQUAL "")
  message(FATAL_ERROR "the two C hosts ended with different worlds: '${fp_hash}' and '${c_hash}'")
endif()

# 3. add_subdirectory: only the library and the host kit.
set(sub ${WORK_DIR}/subproject)
file(WRITE ${sub}/src/CMakeLists.txt "cmake_minimum_required(VERSION 3.25)\nproject(consumer LANGUAGES C CXX)\n"
     "add_subdirectory(${SOURCE_DIR} tesselsim)\n"
     "add_executable(consumer main.c)\ntarget_link_libraries(consumer PRIVATE tesselsim::tesselsim)\n")
file(WRITE ${sub}/src/main.c "#include <tesselsim/tesselsim.h>\nint main(void) { SIM_Shutdown(); return 0; }\n")
run(COMMAND ${CMAKE_COMMAND} -S ${sub}/src -B ${sub}/build -G Ninja
        -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
run(COMMAND ${CMAKE_COMMAND} --build ${sub}/build -- -t targets all OUTPUT targets)
expect("${targets}" "libtesselsim\\.so" "subproject library")
expect("${targets}" "libtesselsim_hostkit\\.a" "subproject host kit")
foreach(unwanted tesselsim_unit_tests tesselsim_e2e_tests tesselsim_bench tessel: install:)
  if(targets MATCHES "(^|\n|/)${unwanted}")
    message(FATAL_ERROR "a subproject build defines ${unwanted}")
  endif()
endforeach()
message(STATUS "installed into ${prefix}; examples built and run with find_package and pkg-config")

# Run by CTest as a script: installs BUILD_DIR into WORK_DIR/prefix, then checks the installed
# tree as a user of the package meets it. Any failure stops with FATAL_ERROR and the output.
cmake_minimum_required(VERSION 3.25)

foreach(variable BUILD_DIR SOURCE_DIR WORK_DIR CXX_COMPILER PKG_CONFIG READELF VERSION)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "PackageTest.cmake needs -D ${variable}=...")
  endif()
endforeach()
if(NOT BUILD_TYPE)
  set(BUILD_TYPE Debug)
endif()

set(prefix ${WORK_DIR}/prefix)
set(showcase ${SOURCE_DIR}/examples/showcase.xml)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
# Nothing may point the installed programs back at the build tree.
unset(ENV{KESTREL_SC_MODULE})
unset(ENV{KESTREL_MODULE_PATH})
unset(ENV{LD_LIBRARY_PATH})

# Runs a command; its standard output goes to out_var, and a failure ends the test.
function(run out_var)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out
    ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "failed (${status}): ${command}\n${out}\n${err}")
  endif()
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

function(expect_match text regex what)
  if(NOT text MATCHES "${regex}")
    message(FATAL_ERROR "${what}: expected to match '${regex}', got:\n${text}")
  endif()
endfunction()

# 1. Install.
run(ignored ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --config ${BUILD_TYPE})

foreach(file
    bin/kestrel-sc
    lib/libkestrel_utilities.so.0 lib/libkestrel_geometry.so.0 lib/libkestrel_kernel.so.0
    lib/libkestrel_kernel.so.${VERSION} lib/libkestrel_kernel.so
    lib/libserializedContent.so lib/libserializedContent.so.0 lib/libkestrel_content.so.0
    lib/libimage_bmp.so
    include/kestrel-sc/kestrel/Error.h include/kestrel-sc/kestrel/Export.h
    include/kestrel-sc/kestrel/load/Content.h include/kestrel-sc/kestrel/load/Module.h
    include/kestrel-sc/kestrel/files/AtomicFile.h include/kestrel-sc/kestrel/json/ContentJson.h
    include/kestrel-sc/kestrel/values/ValueTraits.h include/kestrel-sc/kestrel/check/Checker.h
    include/kestrel-sc/kernel/SerializedContentElement.h
    include/kestrel-sc/serializedContent/Export.h
    include/kestrel-sc/serializedContent/SerializedContentParser.h
    include/kestrel-sc/serializedContent/xmlwriter/XmlParser.h
    include/kestrel-sc/serializedContent/xmlwriter/XmlWriter.h
    include/kestrel-sc/serializedContent/xmlwriter/PropertyTypes.h
    include/kestrel-sc/serializedContent/xmlwriter/NameTable.h
    lib/cmake/kestrel-sc/kestrel-scConfig.cmake lib/cmake/kestrel-sc/kestrel-scConfigVersion.cmake
    lib/cmake/kestrel-sc/kestrel-scTargets.cmake lib/pkgconfig/kestrel-sc.pc
    share/man/man1/kestrel-sc.1 share/bash-completion/completions/kestrel-sc)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
foreach(file include/kestrel-sc/serializedContent/LongPath.h
    include/kestrel-sc/serializedContent/xmlwriter/ShapeWalkers.h
    include/kestrel-sc/kestrel/load/Errors.h include/kestrel-sc/kestrel/Content.h)
  if(EXISTS ${prefix}/${file})
    message(FATAL_ERROR "a private header was installed: ${file}")
  endif()
endforeach()

run(dynamic ${READELF} -d ${prefix}/lib/libkestrel_kernel.so)
expect_match("${dynamic}" "Library soname: \\[libkestrel_kernel\\.so\\.0\\]" "kernel SONAME")
run(dynamic ${READELF} -d ${prefix}/bin/kestrel-sc)
expect_match("${dynamic}" "\\[\\$ORIGIN/\\.\\./lib\\]" "tool RPATH")
string(FIND "${dynamic}" "${BUILD_DIR}" leak)
if(NOT leak EQUAL -1)
  message(FATAL_ERROR "the installed tool still points into the build tree:\n${dynamic}")
endif()

# 2. The installed tool finds the installed module at ../lib.
run(tree ${prefix}/bin/kestrel-sc tree ${showcase})
expect_match("${tree}" "^figure\n.*sampler" "installed kestrel-sc tree")

# 3. An outside project built with find_package(kestrel-sc).
run(ignored ${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/embed -B ${WORK_DIR}/embed
  -D CMAKE_PREFIX_PATH=${prefix} -D CMAKE_BUILD_TYPE=${BUILD_TYPE}
  -D CMAKE_CXX_COMPILER=${CXX_COMPILER} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
  "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
run(ignored ${CMAKE_COMMAND} --build ${WORK_DIR}/embed --config ${BUILD_TYPE})
run(embedded ${WORK_DIR}/embed/embed ${showcase} ${WORK_DIR}/copy.xml)
if(NOT embedded STREQUAL
    "${showcase}: 3 elements, 26 properties\nsaved ${WORK_DIR}/copy.xml\n")
  message(FATAL_ERROR "embed printed:\n${embedded}")
endif()
run(copy_tree ${prefix}/bin/kestrel-sc tree ${WORK_DIR}/copy.xml)
if(NOT copy_tree STREQUAL tree)
  message(FATAL_ERROR "the saved copy differs:\n${copy_tree}\nfrom the original:\n${tree}")
endif()

# 4. The same program built with the pkg-config file's flags.
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
run(pc_flags ${PKG_CONFIG} --cflags --libs kestrel-sc)
string(STRIP "${pc_flags}" pc_flags)
expect_match("${pc_flags}" "-I[^ ]*/include/kestrel-sc" "pkg-config --cflags")
expect_match("${pc_flags}" "-lkestrel_content" "pkg-config --libs")
run(pc_version ${PKG_CONFIG} --modversion kestrel-sc)
expect_match("${pc_version}" "^${VERSION}" "pkg-config --modversion")
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
separate_arguments(cxx_flags UNIX_COMMAND "${CXX_FLAGS} ${LINKER_FLAGS}")
run(ignored ${CXX_COMPILER} -std=c++20 ${cxx_flags} ${SOURCE_DIR}/examples/embed/main.cpp
  ${pc_flags} -Wl,-rpath,${prefix}/lib -o ${WORK_DIR}/embed-pc)
run(embedded ${WORK_DIR}/embed-pc ${showcase} ${WORK_DIR}/copy-pc.xml)
expect_match("${embedded}" "3 elements, 26 properties" "embed built with pkg-config")

file(REMOVE_RECURSE ${WORK_DIR})
message(STATUS "installed, built against and ran the package in ${prefix}")

# The heavy, stable headers every library precompiles. Named by angle brackets rather than by a
# file path, so that the generated header is the same in every checkout and ccache can share
# compilations between clones.
set(VANTOR_PCH_HEADERS <QtCore> <QtGui> <QtWidgets> <algorithm> <atomic> <functional> <memory>
    <string> <vector>)

function(vantor_precompile target)
  target_precompile_headers(${target} PRIVATE ${VANTOR_PCH_HEADERS})
endfunction()

# vantor_library(NAME DEPS ...): one shared library from every source in the calling folder
# (not its sub-folders). Sources are globbed so that a new class is just a new file pair.
function(vantor_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  set(cpps ${srcs})
  list(FILTER cpps INCLUDE REGEX "\\.cpp$")
  if(NOT cpps)
    # A folder whose classes have not come yet still makes its library.
    set(empty ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(CONFIGURE OUTPUT ${empty} CONTENT "// This library has no classes yet.\n")
    list(APPEND srcs ${empty})
  endif()
  add_library(${name} SHARED ${srcs} ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  if(cpps)
    vantor_precompile(${name})
  endif()
endfunction()

# vantor_tests(LIBS ...): every tst_*.cpp in the calling folder becomes one Qt Test program
# registered with CTest; other sources in the folder are shared by them. Each test runs in a
# fresh temporary VANTOR_ROOT under the offscreen platform.
function(vantor_tests)
  cmake_parse_arguments(ARG "" "TIMEOUT" "LIBS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
  file(GLOB support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  list(FILTER support EXCLUDE REGEX "/tst_[^/]*\\.cpp$")
  set(supportlib "")
  if(support)
    set(supportlib tests_${folder}_support)
    add_library(${supportlib} STATIC ${support})
    target_link_libraries(${supportlib} PUBLIC ${ARG_LIBS} vantor_testsupport Qt5::Test)
    target_include_directories(${supportlib} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} ${supportlib} vantor_testsupport Qt5::Test)
    target_precompile_headers(${name} REUSE_FROM vantor_testsupport)
    add_test(NAME ${folder}/${name}
             COMMAND ${CMAKE_SOURCE_DIR}/tests/run-in-root $<TARGET_FILE:${name}>)
    # QtTest's own limit of 300 s a test function gives way to ctest's limit for the whole
    # program: on a busy machine a long data-driven function of the whole application needs it.
    math(EXPR function_timeout_ms "${ARG_TIMEOUT} * 1000")
    set_tests_properties(${folder}/${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;SDL_VIDEODRIVER=dummy;VANTOR_SOURCE_DIR=${CMAKE_SOURCE_DIR};VANTOR_BINARY_DIR=${CMAKE_BINARY_DIR};QTEST_FUNCTION_TIMEOUT=${function_timeout_ms}")
  endforeach()
endfunction()

# vantor_bench(LIBS ...): every bench_*.cpp in the calling folder becomes one Google Benchmark program.
function(vantor_bench)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB benches CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/bench_*.cpp)
  foreach(src ${benches})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
  endforeach()
endfunction()

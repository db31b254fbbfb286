# Shared helpers for the project's targets.

# zorvani_component(NAME DIRS dir... [LIBS lib...])
# A static library made of every source file found in the given folders
# (non-recursive). Folders are relative to the calling CMakeLists.
function(zorvani_component name)
  cmake_parse_arguments(ARG "" "" "DIRS;LIBS" ${ARGN})
  set(files "")
  foreach(dir ${ARG_DIRS})
    file(GLOB found CONFIGURE_DEPENDS
      ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.h
      ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.ui
      ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.qrc)
    list(APPEND files ${found})
  endforeach()
  set(compiled ${files})
  list(FILTER compiled INCLUDE REGEX "\\.(cpp|qrc)$")
  if(compiled)
    add_library(${name} STATIC ${files})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/source ${PROJECT_SOURCE_DIR}/host)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  else()
    # A folder with headers only (or not written yet).
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/source ${PROJECT_SOURCE_DIR}/host)
    target_link_libraries(${name} INTERFACE ${ARG_LIBS})
  endif()
endfunction()

# zorvani_add_test(NAME SOURCES src... [LIBS lib...] [NETNS | MNTNS] [TIMEOUT s] [LABELS l...])
# A QtTest executable registered with CTest. NETNS runs it inside a private
# network namespace (tests/netns-run) so that broadcasts never leave the machine;
# MNTNS inside a private mount namespace (tests/mntns-run), where it may mount
# a tiny file system that fills up (testsupport::TinyFilesystem).
# Label `threads`: run again under ThreadSanitizer; `asan`: again under
# AddressSanitizer (scripts/test).
function(zorvani_add_test name)
  cmake_parse_arguments(ARG "NETNS;MNTNS" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} zorvani_testsupport Qt5::Test)
  if(ARG_NETNS)
    add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tests/netns-run $<TARGET_FILE:${name}>)
  elseif(ARG_MNTNS)
    add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tests/mntns-run $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ZORVANI_PLUGIN=$<TARGET_FILE:ZorvaniDDC>;ZORVANI_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    if("threads" IN_LIST ARG_LABELS)
      # Thread tests also run under ThreadSanitizer (target `thread_tests`).
      set_property(GLOBAL APPEND PROPERTY ZORVANI_THREAD_TESTS ${name})
    endif()
    if("asan" IN_LIST ARG_LABELS)
      # Tests of untrusted input also run under AddressSanitizer (target `asan_tests`).
      set_property(GLOBAL APPEND PROPERTY ZORVANI_ASAN_TESTS ${name})
    endif()
  endif()
endfunction()

# zorvani_add_bench(NAME SOURCES src... [LIBS lib...])
function(zorvani_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
endfunction()

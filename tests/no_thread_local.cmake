# Fails when the program's own sources declare a thread_local variable.
# MinGW-w64 frees a thread's emulated TLS block before it runs the
# destructors of its thread_local objects, which then free through freed
# memory: whichever thread allocates next finds the heap corrupt. Storage a
# thread reuses lives in the objects that use it instead.
#
#   cmake -DROOT=<source folder> -P tests/no_thread_local.cmake
file(GLOB_RECURSE sources "${ROOT}/src/*.cpp" "${ROOT}/src/*.h" "${ROOT}/app/*.cpp" "${ROOT}/app/*.h")
set(found "")
foreach(file IN LISTS sources)
  file(STRINGS "${file}" lines REGEX "^[^/]*[^A-Za-z0-9_/]thread_local[ \t]|^thread_local[ \t]")
  foreach(line IN LISTS lines)
    string(APPEND found "\n  ${file}: ${line}")
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "thread_local declared:${found}")
endif()

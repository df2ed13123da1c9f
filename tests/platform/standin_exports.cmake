# The shipped stand-in exports the Windows-named services and nothing else:
# no counters or fault injection, no C++ names.
#   cmake -DNM=<nm> -DLIBRARY=<libzorvplatform.so> -P standin_exports.cmake
set(expected
  CloseHandle CreateFileA DeleteCriticalSection DisableThreadLibraryCalls EnterCriticalSection
  GetFileSize GlobalAlloc GlobalFlags GlobalFree GlobalLock GlobalSize GlobalUnlock
  InitializeCriticalSection LeaveCriticalSection ReadFile SetFilePointer
  lstrcmpA lstrcpyA lstrcpynA lstrlenA)

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(exported)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
  list(APPEND exported ${name})
endforeach()
list(SORT exported)
list(SORT expected)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exports of ${LIBRARY}:\n  ${exported}\nexpected:\n  ${expected}")
endif()
message(STATUS "exports: ${exported}")

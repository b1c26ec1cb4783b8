# The DLL exports exactly the four functions and the tools' table by plain
# name with ordinals 1 to 5, imports from system DLLs only and only functions
# that Windows 7 has, says so in its PE header, and is stripped.
cmake_policy(SET CMP0057 NEW)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} failed on ${DLL}")
endif()

string(REGEX MATCH "Ordinal Base[ \t]+([0-9]+)" ignored "${dump}")
set(base ${CMAKE_MATCH_1})
if(NOT base EQUAL 1)
  message(FATAL_ERROR "ordinal base is '${base}', not 1")
endif()
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(([ \t]+\\[ *[0-9]+\\] [^\n]+\n)+)" ignored "${dump}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" rows "${CMAKE_MATCH_1}")
set(exports)
foreach(row ${rows})
  string(REGEX MATCH "\\[ *([0-9]+)\\] (.+)" ignored "${row}")
  math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
  list(APPEND exports "${ordinal}=${CMAKE_MATCH_2}")
endforeach()
list(SORT exports)
if(NOT exports STREQUAL "1=GetDllViersion;2=Create;3=SetData;4=Kill;5=EncbridgeTools")
  message(FATAL_ERROR "exports are '${exports}'")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(import ${imports})
  string(REGEX REPLACE "DLL Name: " "" name "${import}")
  string(TOLOWER "${name}" name)
  if(NOT name MATCHES "^(kernel32|msvcrt|user32|advapi32|shell32|ntdll)\\.dll$")
    message(FATAL_ERROR "imports ${name}, which is not a system DLL")
  endif()
endforeach()

# The oldest system the DLL is for, as its header states it.
string(REGEX MATCH "MajorSubsystemVersion[ \t]+([0-9]+)" ignored "${dump}")
set(major ${CMAKE_MATCH_1})
string(REGEX MATCH "MinorSubsystemVersion[ \t]+([0-9]+)" ignored "${dump}")
set(minor ${CMAKE_MATCH_1})
if(NOT "${major}.${minor}" STREQUAL "6.1")
  message(FATAL_ERROR "subsystem version is ${major}.${minor}, not 6.1 (Windows 7)")
endif()

# Every imported function, by name. A function that is not listed here must
# be checked against the minimum version before it is added. A thread runtime
# linked in shows as AddVectoredExceptionHandler, GetTickCount64, TlsAlloc
# or _beginthreadex.
set(allowed
  # kernel32.dll, all present in Windows 7
  AssignProcessToJobObject CloseHandle CreateEventA CreateFileA CreateJobObjectA CreateProcessA CreateThread
  DeleteCriticalSection DeleteFileA DeleteProcThreadAttributeList EnterCriticalSection FreeLibrary
  FreeLibraryAndExitThread GetExitCodeProcess GetFileAttributesExA GetLastError GetModuleHandleA
  GetModuleHandleExA GetPrivateProfileIntA GetPrivateProfileStringA GetProcAddress GetSystemDirectoryA
  InitializeCriticalSection InitializeProcThreadAttributeList IsDBCSLeadByte IsProcessInJob LeaveCriticalSection
  LoadLibraryA MoveFileA MultiByteToWideChar QueryInformationJobObject ResumeThread SetEvent
  SetInformationJobObject SetLastError Sleep TerminateJobObject TerminateProcess TlsGetValue
  UpdateProcThreadAttribute VirtualProtect VirtualQuery WaitForMultipleObjects WaitForSingleObject
  GetCurrentProcessId GetCurrentThreadId GetCurrentProcess DuplicateHandle GetStdHandle GetFileType
  CreateDirectoryA GetFileAttributesA GetFileInformationByHandle GetFullPathNameA GetProcessAffinityMask
  CompareStringOrdinal FormatMessageA GetFileSizeEx GetSystemTime GetTickCount LockFileEx SetEndOfFile
  SetFilePointerEx UnlockFileEx WriteFile ReadFile CreatePipe SetHandleInformation CancelSynchronousIo
  FlushFileBuffers MoveFileExA CreateMutexA ReleaseMutex ResetEvent AcquireSRWLockExclusive ReleaseSRWLockExclusive
  # msvcrt.dll, the C runtime of every Windows since 2000
  _amsg_exit _close _fdopen _initterm _iob _lock _open_osfhandle _unlock abort calloc fclose ferror fflush fopen free fseek ftell fwrite malloc
  fread memchr memcmp memcpy memmove memset realloc strcmp strlen strncmp strstr vfprintf)
string(REGEX MATCHALL "\n\t[0-9a-f]+\t +[0-9]+  [A-Za-z_0-9@]+" rows "${dump}")
foreach(row ${rows})
  string(REGEX MATCH "([A-Za-z_0-9@]+)$" name "${row}")
  if(NOT name IN_LIST allowed)
    message(FATAL_ERROR "imports ${name}, which is not in the list of functions that Windows 7 has")
  endif()
endforeach()
list(LENGTH rows count)
if(count LESS 20)
  message(FATAL_ERROR "found only ${count} imported functions: the import table was not read")
endif()

# Stripped: no symbol table and no debug sections.
execute_process(COMMAND ${OBJDUMP} -h ${DLL} OUTPUT_VARIABLE sections)
if(sections MATCHES "\\.debug_")
  message(FATAL_ERROR "the DLL holds debug sections: it was not stripped")
endif()
message(STATUS "exports: ${exports}; imports: ${imports}; ${count} functions")

# Run by the package-zip target (cmake/package_zip.cmake): stages the files
# of the Windows package in STAGE and packs them into ZIP.
#   DLL       the built encbridge.dll
#   TRY       the built encbridge-try.exe
#   STRIP     the mingw-w64 strip program
#   README    the Windows users' README, docs/windows-readme.txt
#   EXAMPLES  the folder of the Windows settings examples
foreach(name DLL TRY STRIP README EXAMPLES STAGE ZIP)
  if(NOT ${name})
    message(FATAL_ERROR "make_package_zip.cmake needs -D${name}=...")
  endif()
endforeach()

file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/encbridge-examples)

# A Debug build keeps its symbols; what is shipped never does.
foreach(program DLL TRY)
  get_filename_component(name ${${program}} NAME)
  execute_process(COMMAND ${STRIP} --strip-all -o ${STAGE}/${name} ${${program}} RESULT_VARIABLE stripped)
  if(NOT stripped EQUAL 0)
    message(FATAL_ERROR "${STRIP} could not strip ${${program}}")
  endif()
endforeach()

# Text files get CRLF line ends, whatever the tree has.
function(copy_as_windows_text from to)
  file(READ ${from} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${to} "${text}")
endfunction()

copy_as_windows_text(${README} ${STAGE}/README.txt)
file(GLOB examples ${EXAMPLES}/*.ini)
set(names encbridge.dll encbridge-try.exe README.txt)
foreach(example IN LISTS examples)
  get_filename_component(name ${example} NAME)
  copy_as_windows_text(${example} ${STAGE}/encbridge-examples/${name})
  list(APPEND names encbridge-examples/${name})
endforeach()

file(REMOVE ${ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip ${names} WORKING_DIRECTORY ${STAGE}
                RESULT_VARIABLE packed)
if(NOT packed EQUAL 0)
  message(FATAL_ERROR "could not pack ${ZIP}")
endif()

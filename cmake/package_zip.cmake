# The Windows package, encbridge-VERSION-win32.zip, made with every build:
# encbridge.dll and encbridge-try.exe (stripped), README.txt (the Windows users' README,
# docs/windows-readme.txt) and the settings examples for the Windows encoders, all with CRLF line ends for Notepad. Its files lie at the
# top of the zip, so that it unpacks straight into a ripping program's
# plug-in folder.
set(ENCBRIDGE_PACKAGE_ZIP ${CMAKE_BINARY_DIR}/encbridge-${PROJECT_VERSION}-win32.zip)
file(GLOB ENCBRIDGE_WINDOWS_EXAMPLES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/windows/*.ini)
if(NOT CMAKE_STRIP)
  find_program(CMAKE_STRIP i686-w64-mingw32-strip)
endif()
add_custom_command(OUTPUT ${ENCBRIDGE_PACKAGE_ZIP}
                   COMMAND ${CMAKE_COMMAND} -DDLL=$<TARGET_FILE:encbridge> -DTRY=$<TARGET_FILE:encbridge-try> -DSTRIP=${CMAKE_STRIP}
                           -DREADME=${PROJECT_SOURCE_DIR}/docs/windows-readme.txt -DEXAMPLES=${PROJECT_SOURCE_DIR}/examples/windows
                           -DSTAGE=${CMAKE_BINARY_DIR}/package -DZIP=${ENCBRIDGE_PACKAGE_ZIP}
                           -P ${PROJECT_SOURCE_DIR}/cmake/make_package_zip.cmake
                   DEPENDS encbridge encbridge-try ${PROJECT_SOURCE_DIR}/docs/windows-readme.txt ${ENCBRIDGE_WINDOWS_EXAMPLES}
                           ${PROJECT_SOURCE_DIR}/cmake/make_package_zip.cmake
                   COMMENT "Packing encbridge-${PROJECT_VERSION}-win32.zip"
                   VERBATIM)
add_custom_target(package-zip ALL DEPENDS ${ENCBRIDGE_PACKAGE_ZIP})

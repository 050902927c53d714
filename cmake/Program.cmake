# The program: every part of it lives in one static library that skelby.exe
# and the test programs link alike, so a test can build the real main window
# in its own process and look at the real state.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

add_library(skelbylib STATIC)
target_include_directories(skelbylib PUBLIC
  ${CMAKE_SOURCE_DIR}
  ${CMAKE_SOURCE_DIR}/resources
  ${CMAKE_SOURCE_DIR}/quicktime/include)
target_compile_definitions(skelbylib PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_link_libraries(skelbylib PUBLIC comctl32 comdlg32 shell32 winmm advapi32 gdi32 user32)
skelby_warnings(skelbylib)

include(${CMAKE_SOURCE_DIR}/app/sources.cmake)
include(${CMAKE_SOURCE_DIR}/capture/sources.cmake)
include(${CMAKE_SOURCE_DIR}/movie/sources.cmake)
include(${CMAKE_SOURCE_DIR}/platform/sources.cmake)

set(SKELBY_RESOURCES ${CMAKE_SOURCE_DIR}/resources/skelby.rc)
# The resource compiler's inputs beside the script, so that a change to one
# of them builds the resources again.
set_source_files_properties(${SKELBY_RESOURCES} PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/resources/skelby.manifest;${CMAKE_SOURCE_DIR}/resources/dialogs.rc;${CMAKE_SOURCE_DIR}/resources/resource.h")

add_executable(skelby WIN32 ${CMAKE_SOURCE_DIR}/app/WinMain.cpp ${SKELBY_RESOURCES})
target_link_libraries(skelby PRIVATE skelbylib)
skelby_warnings(skelby)

# The help page goes where the program looks for it: beside the executable.
add_custom_command(TARGET skelby POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/help ${CMAKE_BINARY_DIR}/bin/help)

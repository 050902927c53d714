target_sources(skelbylib PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/DpiFunctions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProgramFolder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QuickTimeLibrary.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QuickTimeEnvironment.cpp
)

# The QuickTime entries: one small assembly file per architecture, expanded
# from the shared operation table by the C preprocessor.
enable_language(ASM)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  target_sources(skelbylib PRIVATE ${CMAKE_CURRENT_LIST_DIR}/QuickTimeEntries_x86_64.S)
else()
  target_sources(skelbylib PRIVATE ${CMAKE_CURRENT_LIST_DIR}/QuickTimeEntries_i686.S)
endif()

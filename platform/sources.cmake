target_sources(skelbylib PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ProgramFolder.cpp
)

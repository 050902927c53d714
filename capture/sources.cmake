target_sources(skelbylib PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/FrameClock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WindowList.cpp
)

target_sources(skelbylib PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CaptureState.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DestinationDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HotKeys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RecordingTime.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainWindowScale.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Skelby.cpp
)

target_sources(skelbylib PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CompressionSettings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ExportSettingsDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MovieWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OffscreenFrame.cpp
)

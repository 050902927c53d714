target_sources(skelbylib PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/FrameClock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FrameGrabber.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FrameGrabberMath.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PauseClock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RecordingControl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TargetPixels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WindowList.cpp
)

# OpenH264: the H.264 encoder our QuickTime.qts loads at run time.
#
# scripts/openh264.sh fetches Debian's openh264 source once per machine and
# cross-builds the two Windows DLLs under the names of the codec's official
# builds, so a user can put the official binary (which carries the codec's
# patent licence) in their place. The library compiles against the headers of
# that same source; the host build loads Debian's own libopenh264.so.7.
set(SKELBY_OPENH264_VERSION 2.3.1)
set(SKELBY_OPENH264_DIR "$ENV{HOME}/.cache/skelby-openh264/${SKELBY_OPENH264_VERSION}"
    CACHE PATH "Where scripts/openh264.sh keeps the OpenH264 headers and DLLs")
set(SKELBY_OPENH264_INCLUDE "${SKELBY_OPENH264_DIR}/include")
if(NOT EXISTS "${SKELBY_OPENH264_INCLUDE}/wels/codec_api.h")
  message(FATAL_ERROR "No OpenH264 headers in ${SKELBY_OPENH264_DIR}: run scripts/openh264.sh (make setup does)")
endif()

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(SKELBY_OPENH264_DLL_NAME openh264-${SKELBY_OPENH264_VERSION}-win64.dll)
    set(SKELBY_OPENH264_DLL "${SKELBY_OPENH264_DIR}/win64/${SKELBY_OPENH264_DLL_NAME}")
  else()
    set(SKELBY_OPENH264_DLL_NAME openh264-${SKELBY_OPENH264_VERSION}-win32.dll)
    set(SKELBY_OPENH264_DLL "${SKELBY_OPENH264_DIR}/win32/${SKELBY_OPENH264_DLL_NAME}")
  endif()
  if(NOT EXISTS "${SKELBY_OPENH264_DLL}")
    message(FATAL_ERROR "No ${SKELBY_OPENH264_DLL}: run scripts/openh264.sh (make setup does)")
  endif()
  # Beside QuickTime.qts in bin/, where the library looks for it. Test folders
  # that take a copy of QuickTime.qts take this file with it.
  add_custom_target(openh264dll ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/bin
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${SKELBY_OPENH264_DLL} ${CMAKE_BINARY_DIR}/bin/
    BYPRODUCTS ${CMAKE_BINARY_DIR}/bin/${SKELBY_OPENH264_DLL_NAME}
    COMMENT "OpenH264 beside QuickTime.qts")
endif()

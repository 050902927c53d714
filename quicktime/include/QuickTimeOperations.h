// Every QuickTime operation, listed once.
//
// The program reaches the library through one small entry per operation that
// loads the operation's selector and jumps to the library's single
// dispatcher; the library's dispatcher maps the selector back to a typed
// handler. Both sides expand this one table, so a selector, an argument list
// or a result kind cannot differ between them.
//
// QUICKTIME_OPERATIONS(OP) calls OP(group, routine, name, kind, result, params)
// for each operation:
//   group, routine  the selector is (group << 16) | routine
//   name            the operation's QuickTime name
//   kind            what the result is: ErrorCode (a 16-bit OSErr, 0 for
//                   success), Reference (a pointer or handle, null on
//                   failure), Number (a plain value) or Nothing (no result)
//   result          the C type of the result
//   params          the parenthesised parameter types, in call order
//
// Every argument occupies one slot of the machine's word size on the stack
// (i686 cdecl; on x86-64 the dispatcher first stores the four register
// arguments into the caller's home area), so a handler reads argument i from
// slot i whatever its type. No operation takes a floating-point argument.
//
// The file is also included by the assembly sources (through the C
// preprocessor), so outside the table it holds only preprocessor lines unless
// __ASSEMBLER__ is undefined.
#pragma once

// clang-format off
#define QUICKTIME_OPERATIONS(OP) \
  /* movies, tracks, media */ \
  OP(0x02, 0x0001, EnterMovies, ErrorCode, OSErr, ()) \
  OP(0x02, 0x0002, ExitMovies, Nothing, void, ()) \
  OP(0x02, 0x0003, GetMoviesError, ErrorCode, OSErr, ()) \
  OP(0x02, 0x0023, DisposeMovie, Nothing, void, (Movie)) \
  OP(0x02, 0x006A, GetMediaDuration, Number, TimeValue, (Media)) \
  OP(0x02, 0x0072, BeginMediaEdits, ErrorCode, OSErr, (Media)) \
  OP(0x02, 0x0073, EndMediaEdits, ErrorCode, OSErr, (Media)) \
  OP(0x02, 0x007C, AddMediaSample, ErrorCode, OSErr, \
     (Media, Handle, int32_t, uint32_t, TimeValue, ImageDescriptionHandle, int32_t, int16_t, TimeValue*)) \
  OP(0x02, 0x00D5, CloseMovieFile, ErrorCode, OSErr, (int16_t)) \
  OP(0x02, 0x00D7, AddMovieResource, ErrorCode, OSErr, (Movie, int16_t, int16_t*, ConstStr255Param)) \
  OP(0x02, 0x0183, InsertMediaIntoTrack, ErrorCode, OSErr, (Track, TimeValue, TimeValue, TimeValue, Fixed)) \
  OP(0x02, 0x0188, NewMovieTrack, Reference, Track, (Movie, Fixed, Fixed, int16_t)) \
  OP(0x02, 0x018E, NewTrackMedia, Reference, Media, (Track, OSType, TimeScale, Handle, OSType)) \
  OP(0x02, 0x0191, CreateMovieFile, ErrorCode, OSErr, \
     (const FSSpec*, OSType, ScriptCode, int32_t, int16_t*, Movie*)) \
  /* image compression */ \
  OP(0x03, 0x0001, GetCodecNameList, ErrorCode, OSErr, (CodecNameSpecListPtr*, int16_t)) \
  OP(0x03, 0x0004, GetMaxCompressionSize, ErrorCode, OSErr, \
     (PixMapHandle, const Rect*, int16_t, CodecQ, CodecType, CodecComponent, int32_t*)) \
  OP(0x03, 0x0006, CompressImage, ErrorCode, OSErr, \
     (PixMapHandle, const Rect*, CodecQ, CodecType, ImageDescriptionHandle, Ptr)) \
  OP(0x03, 0x000F, DisposeCodecNameList, ErrorCode, OSErr, (CodecNameSpecListPtr)) \
  /* compression sequences: CompressSequenceBegin(sequence, source, previous, source rectangle, \
     previous rectangle, depth, type, codec, spatial quality, temporal quality, key frame rate, \
     colour table, flags, description); CompressSequenceFrame(sequence, source, rectangle, flags, \
     data, data size, similarity, completion) */ \
  OP(0x03, 0x0010, CompressSequenceBegin, ErrorCode, OSErr, \
     (ImageSequence*, PixMapHandle, PixMapHandle, const Rect*, const Rect*, int16_t, CodecType, \
      CompressorComponent, CodecQ, CodecQ, int32_t, CTabHandle, CodecFlags, ImageDescriptionHandle)) \
  OP(0x03, 0x0011, CompressSequenceFrame, ErrorCode, OSErr, \
     (ImageSequence, PixMapHandle, const Rect*, CodecFlags, Ptr, int32_t*, uint8_t*, ICMCompletionProcRecordPtr)) \
  OP(0x03, 0x001A, CDSequenceEnd, ErrorCode, OSErr, (ImageSequence)) \
  /* graphics world, device and flags are unused by the program: always null and 0 */ \
  OP(0x03, 0x0080, QTNewGWorld, ErrorCode, OSErr, (GWorldPtr*, OSType, const Rect*, CTabHandle, void*, uint32_t)) \
  /* file specifications */ \
  OP(0x0F, 0x00E2, FSMakeFSSpec, ErrorCode, OSErr, (int16_t, int32_t, ConstStr255Param, FSSpec*)) \
  /* fixed-point arithmetic */ \
  OP(0x10, 0x0001, FixRatio, Number, Fixed, (int16_t, int16_t)) \
  /* memory handles */ \
  OP(0x15, 0x0008, NewHandle, Reference, Handle, (int32_t)) \
  OP(0x15, 0x0019, HLock, Nothing, void, (Handle)) \
  OP(0x15, 0x001A, HUnlock, Nothing, void, (Handle)) \
  OP(0x15, 0x002E, MoveHHi, Nothing, void, (Handle)) \
  OP(0x15, 0x0032, DisposeHandle, Nothing, void, (Handle)) \
  /* ports: the Windows device context (HDC) drawing into a graphics world */ \
  OP(0x17, 0x0007, GetPortHDC, Reference, void*, (CGrafPtr)) \
  /* offscreen graphics worlds; LockPixels answers true (1) or false (0) */ \
  OP(0x1C, 0x0002, LockPixels, Number, uint8_t, (PixMapHandle)) \
  OP(0x1C, 0x0003, UnlockPixels, Nothing, void, (PixMapHandle)) \
  OP(0x1C, 0x0005, DisposeGWorld, Nothing, void, (GWorldPtr)) \
  /* Windows layer: the library's own initialisation (with the caller's flags) and termination */ \
  OP(0x1D, 0x0008, InitializeQTMLLibrary, ErrorCode, OSErr, (int32_t)) \
  OP(0x1D, 0x0009, TerminateQTMLLibrary, ErrorCode, OSErr, ()) \
  /* rectangles: MacSetRect(rect, left, top, right, bottom) */ \
  OP(0x1E, 0x0025, MacSetRect, Nothing, void, (Rect*, int16_t, int16_t, int16_t, int16_t)) \
  /* text */ \
  OP(0x28, 0x0017, c2pstr, Reference, StringPtr, (char*))
// clang-format on

#ifndef __ASSEMBLER__

#include <cstdint>

#include "QuickTimeTypes.h"

enum class QuickTimeResultKind { ErrorCode, Reference, Number, Nothing };

constexpr uint32_t quickTimeSelector(uint32_t group, uint32_t routine) { return (group << 16) | routine; }

// The library's own name, the exports the program binds, in the order the
// program looks them up.
constexpr const char kQuickTimeLibraryFileName[] = "QuickTime.qts";
constexpr const char kCallComponentWithStorageExport[] = "_CallComponentFunctionWithStorage";
constexpr const char kCallComponentExport[] = "_CallComponent";
constexpr const char kDispatcherExport[] = "theQuickTimeDispatcher";

#endif

// Data layouts shared by Skelby and its QuickTime library.
//
// Both sides read these records, so they are declared once, with the 2-byte
// packing QuickTime used on Windows. The offsets the program relies on are
// pinned by static_asserts below (on i686, the shipping build). No windows.h.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Scalar types

typedef int16_t OSErr;
typedef uint32_t OSType;
typedef uint32_t FourCharCode;
typedef OSType CodecType;
typedef int32_t Fixed;      // 16.16 fixed point, 1.0 == 0x10000
typedef int32_t TimeValue;  // in the time scale of the movie or media
typedef int32_t TimeScale;  // units per second
typedef uint32_t CodecQ;    // spatial or temporal quality, 0 .. 0x400
typedef int16_t ScriptCode;
typedef char* Ptr;
typedef char** Handle;
typedef unsigned char Str255[256];  // length byte, then up to 255 characters
typedef unsigned char Str63[64];
typedef unsigned char Str31[32];  // length byte, then up to 31 characters
typedef unsigned char* StringPtr;
typedef const unsigned char* ConstStr255Param;

// Builds a four-character code, first character in the most significant byte:
// fourCC("rle ") == 0x726C6520. The argument must have exactly four characters.
template <size_t N>
constexpr OSType fourCC(const char (&s)[N]) {
  static_assert(N == 5, "a four-character code has four characters");
  return (OSType(uint8_t(s[0])) << 24) | (OSType(uint8_t(s[1])) << 16) | (OSType(uint8_t(s[2])) << 8) |
         OSType(uint8_t(s[3]));
}

// Opaque references. The library defines the records; the program only passes
// the pointers back.
typedef struct MovieRecord* Movie;
typedef struct TrackRecord* Track;
typedef struct MediaRecord* Media;
typedef struct ComponentInstanceRecord* CodecComponent;
typedef struct ColorTable** CTabHandle;

// ---------------------------------------------------------------------------
// Error codes (classic Mac OS values, so the number the user sees means what
// it always meant).

enum : OSErr {
  noErr = 0,
  dskFulErr = -34,  // disk full
  ioErr = -36,      // I/O error
  bdNamErr = -37,   // bad file name
  fnOpnErr = -38,   // file not open
  eofErr = -39,
  posErr = -40,
  fnfErr = -43,         // file not found
  wPrErr = -44,         // volume is write-protected
  fBsyErr = -47,        // file busy
  paramErr = -50,       // error in a parameter
  rfNumErr = -51,       // bad file reference number
  permErr = -54,        // permission denied
  wrPermErr = -61,      // write permission
  memFullErr = -108,    // out of memory
  nilHandleErr = -109,  // null handle, or one this heap does not know
  memWZErr = -111,      // the handle was already disposed of
  memLockedErr = -117,  // a locked block cannot move or grow
  dirNFErr = -120,      // directory not found

  couldNotResolveDataRef = -2000,
  badImageDescription = -2001,
  badComponentType = -2005,
  noMediaHandler = -2006,
  noDataHandler = -2007,
  invalidMedia = -2008,
  invalidTrack = -2009,
  invalidMovie = -2010,
  invalidSampleTable = -2011,
  invalidDataRef = -2012,
  invalidHandler = -2013,
  invalidDuration = -2014,
  invalidTime = -2015,
  badEditList = -2017,
  mediaTypesDontMatch = -2018,
  invalidEditState = -2023,  // media edits not begun, or begun twice
  invalidSampleDescription = -2041,
  dataNotOpenForWrite = -2043,

  codecErr = -8960,
  noCodecErr = -8961,  // no codec of that type
  codecUnimpErr = -8962,
  codecSizeErr = -8963,
  codecBadDataErr = -8969,
};

// ---------------------------------------------------------------------------
// Constants the program passes

enum : CodecQ {
  codecMinQuality = 0x000,
  codecLowQuality = 0x100,
  codecNormalQuality = 0x200,
  codecHighQuality = 0x300,
  codecMaxQuality = 0x3FF,
  codecLosslessQuality = 0x400,
};

enum : uint32_t {
  createMovieFileDeleteCurFile = 0x80000000u,
  createMovieFileDontCreateResFile = 0x10000000u,
  createMovieFileDontOpenFile = 0x20000000u,
};

enum : int16_t { movieInDataForkResID = -1 };

// AddMediaSample's flags: a sample that is not a key frame (it decodes only
// after the ones before it).
enum : int16_t { mediaSampleNotSync = 1 };

// A compression sequence: frames compressed one after the other, each
// possibly coded against the ones before it. 0 is no sequence.
typedef int32_t ImageSequence;
typedef uint16_t CodecFlags;
// CompressSequenceFrame's flags: make this frame a key frame (after a frame
// that could not be stored, say, which later frames must not refer to).
enum : CodecFlags { codecFlagForceKeyFrame = 0x0080 };
typedef CodecComponent CompressorComponent;
// No completion routine is ever passed: every compression is synchronous.
typedef void* ICMCompletionProcRecordPtr;

constexpr OSType VideoMediaType = fourCC("vide");
constexpr OSType kAnimationCodecType = fourCC("rle ");
constexpr OSType kRawCodecType = fourCC("raw ");
constexpr OSType kJPEGCodecType = fourCC("jpeg");
constexpr OSType kPNGCodecType = fourCC("png ");
// H.264, offered only when the OpenH264 library beside QuickTime.qts loads.
constexpr OSType kH264CodecType = fourCC("avc1");
constexpr OSType k32BGRAPixelFormat = fourCC("BGRA");
constexpr CodecComponent anyCodec = nullptr;

#pragma pack(push, 2)

struct Rect {
  int16_t top;
  int16_t left;
  int16_t bottom;
  int16_t right;
};

// A file named by a path. The name is a Str255 rather than the classic Str63
// because the program names files by their full path (at most 255 characters).
struct FSSpec {
  int16_t vRefNum;
  int32_t parID;
  Str255 name;
};

// Pixel map of a graphics world. Pixels are 32 bits, B, G, R, X in memory
// (what a DIB section holds), rows top-down.
//
// rowBytes is the classic 14-bit stride with the 0x8000 "this is a pixel map"
// flag. Rows of 4096 or more 32-bit pixels do not fit in 14 bits, so rowStride,
// after the classic fields, holds the true distance in bytes from one row to
// the next; the compressor uses it whenever it is nonzero and falls back to
// rowBytes & 0x3FFF otherwise.
struct PixMap {
  Ptr baseAddr;
  int16_t rowBytes;
  Rect bounds;
  int16_t pmVersion;
  int16_t packType;
  int32_t packSize;
  Fixed hRes;
  Fixed vRes;
  int16_t pixelType;
  int16_t pixelSize;
  int16_t cmpCount;
  int16_t cmpSize;
  OSType pixelFormat;
  CTabHandle pmTable;
  void* pmExt;
  int32_t rowStride;  // ours: bytes per row, for rows too wide for rowBytes
};
typedef PixMap* PixMapPtr;
typedef PixMap** PixMapHandle;

constexpr int16_t kPixMapFlag = int16_t(0x8000);
constexpr int16_t kRowBytesMask = 0x3FFF;

// The port of a graphics world. The program reads portPixMap at byte 2; the
// rest belongs to the library, which keeps its Windows objects (the DIB
// section, the memory DC) behind platformData.
struct CGrafPort {
  int16_t device;
  PixMapHandle portPixMap;
  Rect portRect;
  void* platformData;
};
typedef CGrafPort* CGrafPtr;
typedef CGrafPort* GWorldPtr;

// The image description, also the video sample description of a movie file.
struct ImageDescription {
  int32_t idSize;   // 86
  CodecType cType;  // codec
  int32_t resvd1;
  int16_t resvd2;
  int16_t dataRefIndex;
  int16_t version;
  int16_t revisionLevel;
  OSType vendor;
  CodecQ temporalQuality;
  CodecQ spatialQuality;
  int16_t width;
  int16_t height;
  Fixed hRes;
  Fixed vRes;
  int32_t dataSize;  // compressed bytes of the frame
  int16_t frameCount;
  Str31 name;  // compressor name
  int16_t depth;
  int16_t clutID;
};
typedef ImageDescription* ImageDescriptionPtr;
typedef ImageDescription** ImageDescriptionHandle;

// One entry of the codec name list.
struct CodecNameSpec {
  CodecComponent codec;
  CodecType cType;
  Str31 typeName;  // display name: length byte, up to 31 characters
  Handle name;
};

struct CodecNameSpecList {
  int16_t count;
  CodecNameSpec list[1];  // count entries
};
typedef CodecNameSpecList* CodecNameSpecListPtr;

#pragma pack(pop)

// Offsets that do not depend on the pointer size hold everywhere.
static_assert(sizeof(Rect) == 8, "Rect is four 16-bit values");
static_assert(offsetof(FSSpec, parID) == 2, "FSSpec parID follows vRefNum");
static_assert(offsetof(FSSpec, name) == 6, "FSSpec name follows parID");
static_assert(sizeof(ImageDescription) == 86, "image description is 86 bytes");
static_assert(offsetof(ImageDescription, width) == 32, "width at 32");
static_assert(offsetof(ImageDescription, hRes) == 36, "hRes at 36");
static_assert(offsetof(ImageDescription, dataSize) == 44, "dataSize at 44");
static_assert(offsetof(ImageDescription, frameCount) == 48, "frameCount at 48");
static_assert(offsetof(ImageDescription, name) == 50, "name at 50");
static_assert(offsetof(ImageDescription, depth) == 82, "depth at 82");
static_assert(offsetof(ImageDescription, clutID) == 84, "clutID at 84");
static_assert(offsetof(CGrafPort, portPixMap) == 2, "pixel map handle at byte 2");
static_assert(offsetof(CodecNameSpecList, list) == 2, "entries follow the count");
static_assert(offsetof(PixMap, rowBytes) == sizeof(Ptr), "rowBytes after baseAddr");

#if defined(__i386__)
// The shipping 32-bit layout, as the program reads it.
static_assert(sizeof(CodecNameSpec) == 44, "codec list entries are 44 bytes");
static_assert(offsetof(CodecNameSpec, cType) == 4, "cType at 4");
static_assert(offsetof(CodecNameSpec, typeName) == 8, "typeName at 8");
static_assert(offsetof(CodecNameSpec, name) == 40, "name handle at 40");
static_assert(sizeof(CGrafPort) >= 6, "port holds at least device and pixmap");
static_assert(offsetof(PixMap, bounds) == 6, "bounds at 6");
static_assert(offsetof(PixMap, pixelSize) == 32, "pixelSize at 32");
static_assert(offsetof(PixMap, pixelFormat) == 38, "pixelFormat at 38");
static_assert(offsetof(PixMap, pmExt) == 46, "pmExt at 46");
static_assert(sizeof(PixMap) == 54, "classic 50 bytes + our row stride");
#endif

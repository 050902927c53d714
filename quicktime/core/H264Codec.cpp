#include "H264Codec.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "I420Kernels.h"
#include "OpenH264Library.h"

namespace qt::h264 {
namespace {

constexpr OSType kAvcCAtom = fourCC("avcC");

// NAL unit types (ISO/IEC 14496-10, table 7-1).
constexpr int kNalSps = 7, kNalPps = 8;

// Quality level to the encoder's fixed quantiser (0 to 51; six steps
// double the quantiser's step size). Chosen on the benchmark's window
// fixtures at 1920 x 1080 (20 frames scrolling by 12 rows a frame, and 20
// still ones with a blinking caret), decoded by libavcodec, RGB PSNR of the
// worst frame against Photo - JPEG at Normal on the same picture:
//   quantiser 22: editor 34.5 dB (JPEG 31.2), dialog 43.7 (43.0), sheet
//   42.6 (41.5); 23 leaves the dialog 0.03 dB under JPEG's, so Normal is
//   22, the coarsest that is never worse. Its sequences are 17 to 52 times
//   smaller than Photo - JPEG's (the first frame, a key frame, weighs most).
// The other levels step by four (Maximum and High, each a good deal finer)
// or six (Low and Minimum: half and a quarter the precision). OpenH264 has
// no lossless coding (no 4:4:4, no transform bypass), and 4:2:0 colour is
// lossy anyway: Lossless is the finest level, a step past Maximum.
struct QualityRow {
  CodecQ atLeast;
  int quantizer;
};
const QualityRow kQuantizers[] = {
    {codecLosslessQuality, 10},  // Lossless
    {codecMaxQuality, 14},       // Maximum
    {codecHighQuality, 18},      // High
    {codecNormalQuality, 22},    // Normal
    {codecLowQuality, 28},       // Low
    {codecMinQuality, 34},       // Minimum
};

// The frame rate the stream's level is chosen for: recordings run at up to
// 30 frames a second. The encoder's rate control is off, so this decides
// nothing else.
constexpr float kFrameRate = 30.0f;

// Slices a picture is cut into (see Encoder::open), and how the quantiser
// climbs for a frame too detailed to code at its own: six steps, half the
// precision each time, up to H.264's coarsest.
constexpr int kSlices = 4;
constexpr int kCoarserStep = 6;
constexpr int kMaxQuantizer = 51;

// Worst-case sizes. H.264 bounds a coded macroblock to its raw size (384
// bytes of 4:2:0 samples) plus 128 bits; emulation prevention may add one
// byte for every two; each slice adds a header and a length prefix, and a
// key frame carries the parameter sets again.
constexpr uint64_t kMacroblockBytes = 384 + 128 / 8;
constexpr uint64_t kSliceBytes = 64 + 4;
constexpr uint64_t kParameterSetBytes = 2 * (256 + 4);

void put16(std::vector<uint8_t>* o, size_t v) {
  o->push_back(uint8_t(v >> 8));
  o->push_back(uint8_t(v));
}
void put32(std::vector<uint8_t>* o, uint64_t v) {
  for (int s = 24; s >= 0; s -= 8) o->push_back(uint8_t(v >> s));
}

// The NAL units of an encoder's output, start codes taken off.
template <typename Visit>
bool forEachNal(const SFrameBSInfo& info, Visit&& visit) {
  for (int l = 0; l < info.iLayerNum; ++l) {
    const SLayerBSInfo& layer = info.sLayerInfo[l];
    const uint8_t* p = layer.pBsBuf;
    for (int n = 0; n < layer.iNalCount; ++n) {
      const int length = layer.pNalLengthInByte[n];
      int start = 0;
      while (start + 2 < length && !(p[start] == 0 && p[start + 1] == 0 && p[start + 2] == 1)) ++start;
      start += 3;
      if (start >= length) return false;  // no start code, or nothing after it
      if (!visit(p + start, size_t(length - start))) return false;
      p += length;
    }
  }
  return true;
}

// Repeats the last column and row of planes converted from a width x
// height frame out to the coded w x h (frames under 16 pixels; the
// conversion itself has padded odd sizes by one).
void padToCodedSize(int width, int height, int w, int h, const i420::Planes& p) {
  const int ew = i420::evenUp(width), eh = i420::evenUp(height);
  auto pad = [](uint8_t* plane, ptrdiff_t stride, int fromX, int fromY, int toX, int toY) {
    for (int y = 0; y < fromY; ++y) {
      uint8_t* row = plane + y * stride;
      std::memset(row + fromX, row[fromX - 1], size_t(toX - fromX));
    }
    for (int y = fromY; y < toY; ++y)
      std::memcpy(plane + y * stride, plane + (fromY - 1) * stride, size_t(toX));
  };
  if (ew == w && eh == h) return;
  pad(p.y, p.yStride, ew, eh, w, h);
  pad(p.cb, p.cStride, ew / 2, eh / 2, w / 2, h / 2);
  pad(p.cr, p.cStride, ew / 2, eh / 2, w / 2, h / 2);
}

}  // namespace

bool available() { return openh264::library() != nullptr; }

int quantizerOf(CodecQ quality) {
  for (const QualityRow& row : kQuantizers)
    if (quality >= row.atLeast) return row.quantizer;
  return kQuantizers[sizeof kQuantizers / sizeof kQuantizers[0] - 1].quantizer;
}

uint64_t maxSize(int width, int height) {
  const uint64_t macroblocks =
      uint64_t((codedSize(width) + 15) / 16) * uint64_t((codedSize(height) + 15) / 16);
  return macroblocks * kMacroblockBytes * 3 / 2  // every macroblock at its limit, escaped
         + MAX_NAL_UNITS_IN_LAYER * kSliceBytes  // the most slices a layer has
         + kParameterSetBytes;
}

bool appendAvcCAtom(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                    std::vector<uint8_t>* out) {
  if (sps.size() < 4 || pps.size() < 1 || sps.size() > 0xFFFF || pps.size() > 0xFFFF) return false;
  if ((sps[0] & 0x1F) != kNalSps || (pps[0] & 0x1F) != kNalPps) return false;
  const uint8_t profile = sps[1];
  // The High profiles add chroma format and bit depths (ISO/IEC 14496-15).
  const bool high = profile == 100 || profile == 110 || profile == 122 || profile == 144;
  std::vector<uint8_t>& o = *out;
  const size_t start = o.size();
  put32(&o, 0);  // size, patched below
  put32(&o, kAvcCAtom);
  o.push_back(1);         // configurationVersion
  o.push_back(profile);   // AVCProfileIndication
  o.push_back(sps[2]);    // profile_compatibility
  o.push_back(sps[3]);    // AVCLevelIndication
  o.push_back(0xFC | 3);  // reserved, lengthSizeMinusOne: 4-byte lengths
  o.push_back(0xE0 | 1);  // reserved, numOfSequenceParameterSets
  put16(&o, sps.size());
  o.insert(o.end(), sps.begin(), sps.end());
  o.push_back(1);  // numOfPictureParameterSets
  put16(&o, pps.size());
  o.insert(o.end(), pps.begin(), pps.end());
  if (high) {
    o.push_back(0xFC | 1);  // reserved, chroma_format_idc 4:2:0
    o.push_back(0xF8 | 0);  // reserved, bit_depth_luma_minus8
    o.push_back(0xF8 | 0);  // reserved, bit_depth_chroma_minus8
    o.push_back(0);         // numOfSequenceParameterSetExt
  }
  const uint64_t size = o.size() - start;
  for (int i = 0; i < 4; ++i) o[start + i] = uint8_t(size >> (24 - 8 * i));
  return true;
}

std::unique_ptr<Encoder> Encoder::create(int width, int height, CodecQ quality, OSErr* err) {
  std::unique_ptr<Encoder> e(new (std::nothrow) Encoder);
  if (!e) {
    *err = memFullErr;
    return nullptr;
  }
  *err = e->start(width, height, quality);
  if (*err != noErr) return nullptr;
  return e;
}

Encoder::~Encoder() { close(); }

void Encoder::close() {
  if (encoder_) {
    encoder_->Uninitialize();
    destroy_(encoder_);
  }
  encoder_ = nullptr;
}

OSErr Encoder::start(int width, int height, CodecQ quality) {
  width_ = width;
  height_ = height;
  const int w = codedSize(width), h = codedSize(height);
  try {
    planes_.assign(size_t(w) * size_t(h) * 3 / 2, 0);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  levelQp_ = quantizerOf(quality);
  needKey_ = true;
  return open(levelQp_);
}

OSErr Encoder::open(int qp) {
  close();
  const OSErr err = openEncoder(qp);
  if (err != noErr) close();
  return err;
}

OSErr Encoder::openEncoder(int qp) {
  const openh264::Library* lib = openh264::library();
  if (!lib) return noCodecErr;
  if (lib->createEncoder(&encoder_) != 0 || !encoder_) {
    encoder_ = nullptr;
    return codecErr;
  }
  destroy_ = lib->destroyEncoder;
  qp_ = qp;

  int quiet = WELS_LOG_QUIET;  // the library's own messages would go to stderr
  encoder_->SetOption(ENCODER_OPTION_TRACE_LEVEL, &quiet);

  const int w = codedSize(width_), h = codedSize(height_);
  SEncParamExt p;
  std::memset(&p, 0, sizeof p);
  if (encoder_->GetDefaultParams(&p) != 0) return codecErr;
  p.iUsageType = SCREEN_CONTENT_REAL_TIME;
  p.iPicWidth = w;
  p.iPicHeight = h;
  // Rate control off: every frame at the quality level's quantiser, which
  // the encoder takes from the layer's iDLayerQp in this mode (the QP range
  // matters only to the rate-controlled modes).
  p.iRCMode = RC_OFF_MODE;
  p.iMinQp = qp;
  p.iMaxQp = qp;
  p.fMaxFrameRate = kFrameRate;
  p.bEnableFrameSkip = false;  // the program decides which frames are taken
  p.iTemporalLayerNum = 1;
  p.iSpatialLayerNum = 1;
  p.uiIntraPeriod = 0;                // key frames only when asked for (encode's `key`)
  p.eSpsPpsIdStrategy = CONSTANT_ID;  // every IDR's parameter sets stay those of avcC
  p.bPrefixNalAddingCtrl = false;
  p.bEnableAdaptiveQuant = false;
  p.bEnableDenoise = false;
  p.bEnableFrameCroppingFlag = true;
  // OpenH264 2.3 sizes its bitstream buffers to the raw frame and trusts
  // that a frame codes smaller. Detailed enough content at a fine quantiser
  // (noise, dithering) codes larger: its CABAC writer and its slice threads
  // then write past their buffers and corrupt the heap. CAVLC on one thread
  // checks the room left before every macroblock and fails the frame
  // instead (encode then codes it coarser), so those are the settings, at
  // about a tenth more bytes than CABAC on screen content. Four slices give
  // each slice twice its share of the buffer, and fix the bytes of a frame
  // on every machine (the library's own choice follows the processor count
  // the CPU reports, which in a virtual machine can be in the hundreds).
  p.iEntropyCodingModeFlag = 0;
  p.iMultipleThreadIdc = 1;
  p.bUseLoadBalancing = false;
  SSpatialLayerConfig& layer = p.sSpatialLayers[0];
  layer.iVideoWidth = w;
  layer.iVideoHeight = h;
  layer.fFrameRate = kFrameRate;
  layer.iDLayerQp = qp;
  layer.sSliceArgument.uiSliceMode = SM_FIXEDSLCNUM_SLICE;
  layer.sSliceArgument.uiSliceNum = kSlices;  // fewer on pictures too small for them
  // sRGB pixels through the BT.601 matrix in limited range (I420Kernels.h).
  layer.bVideoSignalTypePresent = true;
  layer.uiVideoFormat = 5;  // unspecified
  layer.bFullRange = false;
  layer.bColorDescriptionPresent = true;
  layer.uiColorPrimaries = CP_BT709;
  layer.uiTransferCharacteristics = TRC_IEC61966_2_1;
  layer.uiColorMatrix = CM_SMPTE170M;
  if (encoder_->InitializeExt(&p) != 0) return codecErr;
  int format = videoFormatI420;
  if (encoder_->SetOption(ENCODER_OPTION_DATAFORMAT, &format) != 0) return codecErr;

  SFrameBSInfo info;
  std::memset(&info, 0, sizeof info);
  if (encoder_->EncodeParameterSets(&info) != 0) return codecErr;
  std::vector<uint8_t> sps, pps;
  const bool parsed = forEachNal(info, [&](const uint8_t* nal, size_t n) {
    const int type = nal[0] & 0x1F;
    if (type == kNalSps && sps.empty()) sps.assign(nal, nal + n);
    if (type == kNalPps && pps.empty()) pps.assign(nal, nal + n);
    return true;
  });
  if (!parsed) return codecErr;
  if (avcC_.empty()) return appendAvcCAtom(sps, pps, &avcC_) ? noErr : codecErr;
  // The movie has one sample description: an encoder opened again (at
  // another quantiser) must code against the parameter sets in avcC.
  std::vector<uint8_t> again;
  return appendAvcCAtom(sps, pps, &again) && again == avcC_ ? noErr : codecErr;
}

Encoder::Outcome Encoder::encodeOnce(uint64_t timeMs, uint8_t* out, size_t capacity, size_t* written,
                                     bool* isKey) {
  SSourcePicture pic;
  std::memset(&pic, 0, sizeof pic);
  const int w = codedSize(width_), h = codedSize(height_);
  pic.iColorFormat = videoFormatI420;
  pic.iPicWidth = w;
  pic.iPicHeight = h;
  pic.iStride[0] = w;
  pic.iStride[1] = pic.iStride[2] = w / 2;
  pic.pData[0] = planes_.data();
  pic.pData[1] = pic.pData[0] + size_t(w) * size_t(h);
  pic.pData[2] = pic.pData[1] + size_t(w / 2) * size_t(h / 2);
  pic.uiTimeStamp = (long long)timeMs;
  SFrameBSInfo info;
  std::memset(&info, 0, sizeof info);
  if (encoder_->EncodeFrame(&pic, &info) != cmResultSuccess) {
    // OpenH264 fails every frame after one it failed: only a new encoder
    // codes again.
    close();
    return Outcome::Failed;
  }
  if (info.eFrameType == videoFrameTypeSkip || info.eFrameType == videoFrameTypeInvalid)
    return Outcome::Skipped;
  size_t at = 0;
  const bool fits = forEachNal(info, [&](const uint8_t* nal, size_t n) {
    if (n > capacity || capacity - n < 4 + at || n > UINT32_MAX) return false;
    for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(uint64_t(n) >> (24 - 8 * i));
    std::memcpy(out + at + 4, nal, n);
    at += 4 + n;
    return true;
  });
  if (!fits || at == 0) return Outcome::DoesNotFit;
  *written = at;
  *isKey = info.eFrameType == videoFrameTypeIDR;
  return Outcome::Coded;
}

OSErr Encoder::encode(const PixelRows& src, bool key, uint64_t timeMs, uint8_t* out, size_t capacity,
                      size_t* written, bool* isKey) {
  *written = 0;
  *isKey = false;
  if (src.width != width_ || src.height != height_) return paramErr;
  const int w = codedSize(width_), h = codedSize(height_);
  i420::Planes planes;
  planes.y = planes_.data();
  planes.cb = planes.y + size_t(w) * size_t(h);
  planes.cr = planes.cb + size_t(w / 2) * size_t(h / 2);
  planes.yStride = w;
  planes.cStride = w / 2;
  i420::convert(src, planes);
  padToCodedSize(src.width, src.height, w, h, planes);

  key = key || needKey_;
  needKey_ = true;  // until this frame is coded
  // A key frame starts afresh: back at the quality level's quantiser if a
  // frame before had to go coarser, and with a working encoder.
  if (!encoder_ || (key && qp_ != levelQp_)) {
    if (open(levelQp_) != noErr) return codecErr;
    key = true;
  }
  if (key) encoder_->ForceIntraFrame(true);
  Outcome outcome = encodeOnce(timeMs, out, capacity, written, isKey);
  if (outcome == Outcome::Skipped) {
    // A frame the encoder left out would be an empty sample, or a repeat
    // of the one before with the wrong time: code it again as an IDR,
    // which it always codes.
    encoder_->ForceIntraFrame(true);
    outcome = encodeOnce(timeMs, out, capacity, written, isKey);
  }
  // A frame that codes larger than the encoder's buffers is coded again,
  // as an IDR, by an encoder a few steps coarser, and the frames after it
  // stay there until the next key frame.
  while (outcome == Outcome::Failed && qp_ < kMaxQuantizer) {
    if (open(std::min(qp_ + kCoarserStep, kMaxQuantizer)) != noErr) break;
    encoder_->ForceIntraFrame(true);
    outcome = encodeOnce(timeMs, out, capacity, written, isKey);
  }
  if (outcome == Outcome::Coded) {
    needKey_ = false;
    return noErr;
  }
  *written = 0;
  return codecErr;
}

}  // namespace qt::h264

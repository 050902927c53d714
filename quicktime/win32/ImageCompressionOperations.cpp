// Image compression: the codec list, the worst-case frame size, compression
// of single frames and of sequences.
// The core checks every argument: the pixel map must be a live handle of
// ours (a graphics world's), the rectangle inside it, the codec one it has.
#include <set>

#include "Codecs.h"
#include "Sequences.h"
#include "Operations.h"

namespace qtlib {

namespace {
// Lists handed out and not yet disposed of, so that disposing of one twice,
// or of something that never was one, is refused instead of freeing memory
// that is not a list.
std::set<CodecNameSpecListPtr>& liveLists() {
  static auto* lists = new std::set<CodecNameSpecListPtr>;
  return *lists;
}
}  // namespace

OSErr GetCodecNameList(CodecNameSpecListPtr* list, int16_t showAll) {
  const OSErr err = qt::GetCodecNameList(list, showAll);
  if (err == noErr) liveLists().insert(*list);
  return err;
}

OSErr GetMaxCompressionSize(PixMapHandle src, const Rect* srcRect, int16_t colorDepth, CodecQ quality,
                            CodecType cType, CodecComponent codec, int32_t* size) {
  return qt::GetMaxCompressionSize(src, srcRect, colorDepth, quality, cType, codec, size);
}

OSErr CompressImage(PixMapHandle src, const Rect* srcRect, CodecQ quality, CodecType cType,
                    ImageDescriptionHandle desc, Ptr data) {
  return qt::CompressImage(src, srcRect, quality, cType, desc, data);
}

OSErr CompressSequenceBegin(ImageSequence* seq, PixMapHandle src, PixMapHandle prev, const Rect* srcRect,
                            const Rect* prevRect, int16_t colorDepth, CodecType cType,
                            CompressorComponent codec, CodecQ spatialQuality, CodecQ temporalQuality,
                            int32_t keyFrameRate, CTabHandle ctable, CodecFlags flags,
                            ImageDescriptionHandle desc) {
  return qt::CompressSequenceBegin(seq, src, prev, srcRect, prevRect, colorDepth, cType, codec,
                                   spatialQuality, temporalQuality, keyFrameRate, ctable, flags, desc);
}

OSErr CompressSequenceFrame(ImageSequence seq, PixMapHandle src, const Rect* srcRect, CodecFlags flags,
                            Ptr data, int32_t* dataSize, uint8_t* similarity,
                            ICMCompletionProcRecordPtr completion) {
  return qt::CompressSequenceFrame(seq, src, srcRect, flags, data, dataSize, similarity, completion);
}

OSErr CDSequenceEnd(ImageSequence seq) { return qt::CDSequenceEnd(seq); }

OSErr DisposeCodecNameList(CodecNameSpecListPtr list) {
  if (liveLists().erase(list) == 0) return paramErr;
  return qt::DisposeCodecNameList(list);
}

}  // namespace qtlib

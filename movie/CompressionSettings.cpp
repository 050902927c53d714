#include "movie/CompressionSettings.h"

#include <windows.h>

#include <cstring>

#include "app/CaptureState.h"
#include "platform/QuickTimeServices.h"

CompressionSettings compressionSettings;

const QualityLevel qualityLevels[6] = {
    {"Lossless", codecLosslessQuality}, {"Minimum", codecMinQuality}, {"Low", codecLowQuality},
    {"Normal", codecNormalQuality},     {"High", codecHighQuality},   {"Maximum", codecMaxQuality},
};

char codecListEntry[300] = "";

namespace {

// Both messages have the system's default caption and are modal to the main
// window, like every message of the program.
void tellUser(const char* text) { MessageBoxA(captureState.mainWindow, text, nullptr, MB_OK); }

// The codec list of the moment, released when it goes out of scope; null
// (after the user was told why) when QuickTime lists no codec.
class CodecList {
 public:
  CodecList() {
    if (GetCodecNameList(&list_, 0) != noErr || !list_) {
      list_ = nullptr;
      tellUser("Could not retrieve compressor lists");
      return;
    }
    if (list_->count <= 0) {
      release();
      tellUser("no available codec. Try to reinstall quicktime.");
    }
  }
  ~CodecList() { release(); }
  CodecList(const CodecList&) = delete;
  CodecList& operator=(const CodecList&) = delete;

  explicit operator bool() const { return list_ != nullptr; }
  int16_t count() const { return list_->count; }
  const CodecNameSpec& entry(int16_t index) const { return list_->list[index]; }

 private:
  void release() {
    if (list_) DisposeCodecNameList(list_);
    list_ = nullptr;
  }
  CodecNameSpecListPtr list_ = nullptr;
};

}  // namespace

void codecDisplayName(const CodecNameSpec& entry, char (&text)[300]) {
  std::memset(text, 0, sizeof text);
  // The length byte of a 31-character name cannot honestly say more than 31;
  // a larger one is not allowed to read past the entry.
  size_t length = entry.typeName[0];
  if (length > sizeof entry.typeName - 1) length = sizeof entry.typeName - 1;
  std::memcpy(text, entry.typeName + 1, length);
}

bool fetchCodecName(int32_t index) {
  CodecList codecs;
  if (!codecs) return false;
  if (index < 0 || index >= codecs.count()) return false;
  codecDisplayName(codecs.entry(static_cast<int16_t>(index)), codecListEntry);
  return true;
}

void resolveCodecType(const char* name) {
  CodecList codecs;
  if (!codecs) return;
  compressionSettings.codecType = kAnimationCodecType;
  if (!name) return;
  char entryName[300];
  for (int16_t i = 0; i < codecs.count(); ++i) {
    codecDisplayName(codecs.entry(i), entryName);
    if (std::strcmp(entryName, name) == 0) {
      compressionSettings.codecType = codecs.entry(i).cType;
      return;
    }
  }
}

int32_t clampQualityIndex() {
  int32_t& index = compressionSettings.qualityIndex;
  if (index < 0) index = 0;
  if (index > 5) index = 5;
  return index;
}

// Making, re-fonting and destroying the rasteriser context.
#include "framework/subtitles/SubtitleContext.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/files/TextConvert.h"

namespace vmf {
namespace {

// A malloc'ed copy of a wide path; false when it cannot be made. A null path copies as null.
bool CopyPath(const char16_t* path, char16_t** copy) {
  *copy = nullptr;
  if (path == nullptr) return true;
  const size_t bytes = (VexaFiles::WideLength(path) + 1) * sizeof(char16_t);
  *copy = static_cast<char16_t*>(std::malloc(bytes));
  if (*copy == nullptr) return false;
  std::memcpy(*copy, path, bytes);
  return true;
}

}  // namespace

int32_t CreateSubtitleRasteriser(const char16_t* fontPath, SubtitleRasteriserPtr* context) {
  if (context == nullptr) return kSubtitleBadArgument;
  context->reset();
  char16_t* copy = nullptr;
  if (!CopyPath(fontPath, &copy)) return kSubtitleNoMemory;
  auto* made = new (std::nothrow) SubtitleRasteriser{{0, 0, 0}, -1, copy};
  if (made == nullptr) {
    std::free(copy);
    return kSubtitleNoMemory;
  }
  context->reset(made);
  return kSubtitleOk;
}

int32_t SetSubtitleFont(SubtitleRasteriser* context, const char16_t* fontPath) {
  if (context == nullptr) return kSubtitleBadArgument;
  char16_t* copy = nullptr;
  if (!CopyPath(fontPath, &copy)) return kSubtitleNoMemory;  // the old font stays
  std::free(context->fontPath);
  context->fontPath = copy;
  return kSubtitleOk;
}

void DestroySubtitleRasteriser(SubtitleRasteriser* context) {
  if (context == nullptr) return;
  std::free(context->fontPath);
  delete context;
}

}  // namespace vmf

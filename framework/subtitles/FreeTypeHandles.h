// Owners of the FreeType handles the rasteriser makes (library, face, stroker, glyph), so every
// path out of a render releases them in the right order.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_STROKER_H

#include <memory>
#include <type_traits>

namespace vmf {

struct FtLibraryCloser {
  void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
struct FtFaceCloser {
  void operator()(FT_Face face) const { FT_Done_Face(face); }
};
struct FtStrokerCloser {
  void operator()(FT_Stroker stroker) const { FT_Stroker_Done(stroker); }
};
struct FtGlyphCloser {
  void operator()(FT_Glyph glyph) const { FT_Done_Glyph(glyph); }
};

using FtLibraryPtr = std::unique_ptr<std::remove_pointer_t<FT_Library>, FtLibraryCloser>;
using FtFacePtr = std::unique_ptr<std::remove_pointer_t<FT_Face>, FtFaceCloser>;
using FtStrokerPtr = std::unique_ptr<std::remove_pointer_t<FT_Stroker>, FtStrokerCloser>;
using FtGlyphPtr = std::unique_ptr<std::remove_pointer_t<FT_Glyph>, FtGlyphCloser>;

}  // namespace vmf

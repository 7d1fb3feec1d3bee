#include "framework/matroska/MkvCodecs.h"

#include <array>
#include <cstring>

namespace mkv {
namespace {

constexpr std::array kCodecs = {
    CodecRow{"UNKNOWN", 0, kNoTag, false},
    CodecRow{"V_MS/VFW/FOURCC", 1, kNoTag, true},
    CodecRow{"V_UNCOMPRESSED", 2, kNoTag, false},
    CodecRow{"V_MPEG4/ISO/SP", 3, kNoTag, false},
    CodecRow{"V_MPEG4/ISO/ASP", 4, kNoTag, true},
    CodecRow{"V_MPEG4/ISO/AP", 5, kNoTag, false},
    CodecRow{"V_MPEG4/ISO/AVC", 6, kNoTag, true},
    CodecRow{"V_MPEG4/MS/V3", 7, kNoTag, false},
    CodecRow{"V_MPEG1", 8, kNoTag, false},
    CodecRow{"V_MPEG2", 9, kNoTag, true},
    CodecRow{"V_REAL/RV10", 10, kNoTag, false},
    CodecRow{"V_REAL/RV20", 11, kNoTag, false},
    CodecRow{"V_REAL/RV30", 12, kNoTag, false},
    CodecRow{"V_REAL/RV40", 13, kNoTag, false},
    CodecRow{"V_QUICKTIME", 14, kNoTag, false},
    CodecRow{"V_THEORA", 15, kNoTag, false},
    CodecRow{"A_MPEG/L3", 16, 85, true},
    CodecRow{"A_MPEG/L2", 17, 80, false},
    CodecRow{"A_MPEG/L1", 18, 80, false},
    CodecRow{"A_PCM/INT/BIG", 19, 0, false},
    CodecRow{"A_PCM/INT/LIT", 20, 1, false},
    CodecRow{"A_PCM/FLOAT/IEEE", 21, 3, false},
    CodecRow{"A_MPC", 22, kNoTag, false},
    CodecRow{"A_AC3", 23, 8192, true},
    CodecRow{"A_AC3/BSID9", 24, 8192, true},
    CodecRow{"A_AC3/BSID10", 25, 8192, true},
    CodecRow{"A_DTS", 26, 8193, true},
    CodecRow{"A_VORBIS", 27, 26481, true},
    CodecRow{"A_FLAC", 28, kNoTag, false},
    CodecRow{"A_REAL/14_4", 29, kNoTag, false},
    CodecRow{"A_REAL/28_8", 30, kNoTag, false},
    CodecRow{"A_REAL/COOK", 31, kNoTag, false},
    CodecRow{"A_REAL/SIPR", 32, kNoTag, false},
    CodecRow{"A_REAL/RALF", 33, kNoTag, false},
    CodecRow{"A_REAL/ATRC", 34, kNoTag, false},
    CodecRow{"A_MS/ACM", 35, 85, true},
    CodecRow{"A_AAC", 36, 255, true},
    CodecRow{"A_AAC/MPEG2/MAIN", 37, 255, false},
    CodecRow{"A_AAC/MPEG2/LC", 38, 255, false},
    CodecRow{"A_AAC/MPEG2/LC/SBR", 39, 255, false},
    CodecRow{"A_AAC/MPEG2/SSR", 40, 255, false},
    CodecRow{"A_AAC/MPEG4/MAIN", 41, 255, false},
    CodecRow{"A_AAC/MPEG4/LC", 42, 255, false},
    CodecRow{"A_AAC/MPEG4/LC/SBR", 43, 255, false},
    CodecRow{"A_AAC/MPEG4/SSR", 44, 255, false},
    CodecRow{"A_AAC/MPEG4/LTP", 45, 255, false},
    CodecRow{"A_QUICKTIME/QDMC", 46, kNoTag, false},
    CodecRow{"A_QUICKTIME/QDM2", 47, kNoTag, false},
    CodecRow{"A_TTA1", 48, 30625, false},
    CodecRow{"A_WAVPACK4", 49, kNoTag, false},
    CodecRow{"S_TEXT/UTF8", 50, kNoTag, false},
    CodecRow{"S_TEXT/SSA", 51, kNoTag, false},
    CodecRow{"S_SSA", 51, kNoTag, false},
    CodecRow{"S_TEXT/ASS", 53, kNoTag, false},
    CodecRow{"S_TEXT/USF", 54, kNoTag, false},
    CodecRow{"S_IMAGE/BMP", 55, kNoTag, false},
    CodecRow{"S_VOBSUB", 56, kNoTag, false},
    CodecRow{"B_VOBBTN", 57, kNoTag, false},
};

}  // namespace

std::span<const CodecRow> CodecTable() { return kCodecs; }

const CodecRow& FindCodec(const std::string& codecId) {
  for (const CodecRow& row : kCodecs)
    if (codecId == row.id) return row;
  return kCodecs.front();
}

const CodecRow& CodecOfType(uint32_t type) {
  for (const CodecRow& row : kCodecs)
    if (row.type == type) return row;
  return kCodecs.front();
}

}  // namespace mkv

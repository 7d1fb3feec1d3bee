#include "framework/matroska/MkvElements.h"

#include <array>

namespace mkv {
namespace {

constexpr std::array kElements = {
    ElementRow{0, ElementType::kMaster, u"UNKNOWN"},
    ElementRow{0x1A45DFA3, ElementType::kMaster, u"EBML"},
    ElementRow{0x4282, ElementType::kAscii, u"DOCTYPE"},
    ElementRow{0x4287, ElementType::kUnsigned, u"DOCTYPEVERSION"},
    ElementRow{0x4285, ElementType::kUnsigned, u"DOCTYPEREADVERSION"},
    ElementRow{0x18538067, ElementType::kMaster, u"SEGMENT"},
    ElementRow{0xBF, ElementType::kUnsigned, u"CRC"},
    ElementRow{0xEC, ElementType::kBinary, u"VOID"},
    ElementRow{0x7BA9, ElementType::kUtf8, u"TITLE"},
    ElementRow{0x7384, ElementType::kUtf8, u"FILENAME"},
    ElementRow{0x3C83AB, ElementType::kUtf8, u"PREVFILENAME"},
    ElementRow{0x3E83BB, ElementType::kUtf8, u"NEXTFILENAME"},
    ElementRow{0x4D80, ElementType::kUtf8, u"MUXINGAPP"},
    ElementRow{0x5741, ElementType::kUtf8, u"WRITINGAPP"},
    ElementRow{0x1549A966, ElementType::kMaster, u"SEGMENTINFO"},
    ElementRow{0x2AD7B1, ElementType::kUnsigned, u"TIMECODESCALE"},
    ElementRow{0x4489, ElementType::kFloat, u"DURATION"},
    ElementRow{0x73A4, ElementType::kBinary, u"SEGMENTUID"},
    ElementRow{0x3CB923, ElementType::kBinary, u"PREVUID"},
    ElementRow{0x3EB923, ElementType::kBinary, u"NEXTUID"},
    ElementRow{0x1654AE6B, ElementType::kMaster, u"TRACKS"},
    ElementRow{0x536E, ElementType::kUtf8, u"NAME"},
    ElementRow{0x22B59C, ElementType::kAscii, u"LANGUAGE"},
    ElementRow{0xAE, ElementType::kMaster, u"TRACKENTRY"},
    ElementRow{0xD7, ElementType::kUnsigned, u"TRACKNUMBER"},
    ElementRow{0x83, ElementType::kUnsigned, u"TRACKTYPE"},
    ElementRow{0x23314F, ElementType::kUnsigned, u"TRACKTIMECODESCALE"},
    ElementRow{0x73C5, ElementType::kUnsigned, u"TRACKUID"},
    ElementRow{0x7446, ElementType::kUnsigned, u"ATTACHMENTLINK"},
    ElementRow{0x23E383, ElementType::kUnsigned, u"DEFAULTDURATION"},
    ElementRow{0xE0, ElementType::kMaster, u"VIDEO"},
    ElementRow{0xE1, ElementType::kMaster, u"AUDIO"},
    ElementRow{0x9C, ElementType::kMaster, u"FILELACING"},
    ElementRow{0x63A2, ElementType::kBinary, u"CODECPRIVATE"},
    ElementRow{0x86, ElementType::kUtf8, u"CODECID"},
    ElementRow{0x258688, ElementType::kUtf8, u"CODECNAME"},
    ElementRow{0xB5, ElementType::kUnsigned, u"SAMPLINGFREQUENCY"},
    ElementRow{0x78B5, ElementType::kUnsigned, u"OUTPUTSAMPLINGFREQENCY"},
    ElementRow{0x9F, ElementType::kUnsigned, u"CHANNELS"},
    ElementRow{0x6264, ElementType::kUnsigned, u"BITDEPTH"},
    ElementRow{0x6D80, ElementType::kMaster, u"CONTENTENCODINGS"},
    ElementRow{0x6240, ElementType::kMaster, u"CONTENTENCODING"},
    ElementRow{0x5034, ElementType::kMaster, u"CONTENTCOMPRESSION"},
    ElementRow{0x4254, ElementType::kUnsigned, u"CONTENTCOMPALGO"},
    ElementRow{0x4255, ElementType::kBinary, u"CONTENTCOMPSETTINGS"},
    ElementRow{0xB0, ElementType::kUnsigned, u"MKVELEMENT_PIXELWIDTH"},
    ElementRow{0xBA, ElementType::kUnsigned, u"MKVELEMENT_PIXELHEIGHT"},
    ElementRow{0x54B0, ElementType::kUnsigned, u"MKVELEMENT_DISPLAYWIDTH"},
    ElementRow{0x54BA, ElementType::kUnsigned, u"MKVELEMENT_DISPLAYHEIGHT"},
    ElementRow{0x9A, ElementType::kFlag, u"MKVELEMENT_FLAGINTERLACED"},
    ElementRow{0x1F43B675, ElementType::kMaster, u"CLUSTER"},
    ElementRow{0xA0, ElementType::kMaster, u"BLOCKGROUP"},
    ElementRow{0xA1, ElementType::kBinary, u"BLOCK"},
    ElementRow{0xA3, ElementType::kBinary, u"SIMPLEBLOCK"},
    ElementRow{0xE7, ElementType::kUnsigned, u"TIMECODE"},
    ElementRow{0xFB, ElementType::kSigned, u"REFERENCEBLOCK"},
    ElementRow{0xA7, ElementType::kUnsigned, u"POSITION"},
    ElementRow{0xAB, ElementType::kUnsigned, u"PREVSIZE"},
    ElementRow{0x9B, ElementType::kSigned, u"BLOCKDURATION"},
    ElementRow{0x1C53BB6B, ElementType::kMaster, u"CUES"},
    ElementRow{0xBB, ElementType::kMaster, u"CUEPOINT"},
    ElementRow{0xB3, ElementType::kUnsigned, u"CUETIME"},
    ElementRow{0xB7, ElementType::kMaster, u"CUETRACKPOSITIONS"},
    ElementRow{0xF1, ElementType::kUnsigned, u"CUECLUSTERPOSITION"},
    ElementRow{0xF7, ElementType::kUnsigned, u"CUETRACK"},
    ElementRow{0x5378, ElementType::kUnsigned, u"CUEBLOCKNUMBER"},
    ElementRow{0x1043A770, ElementType::kMaster, u"CHAPTERS"},
    ElementRow{0x45B9, ElementType::kMaster, u"EDITIONENTRY"},
    ElementRow{0x45BC, ElementType::kUnsigned, u"EDITIONUID2"},
    ElementRow{0x45BD, ElementType::kFlag, u"EDITIONFLAGHIDDEN"},
    ElementRow{0x45DB, ElementType::kFlag, u"EDITIONFLAGDEFAULT"},
    ElementRow{0x45DD, ElementType::kFlag, u"EDITIONFLAGORDERED"},
    ElementRow{0xB6, ElementType::kMaster, u"CHAPTERATOM"},
    ElementRow{0x73C4, ElementType::kUnsigned, u"CHAPTERUID2"},
    ElementRow{0x91, ElementType::kUnsigned, u"CHAPTERTIMESTART"},
    ElementRow{0x92, ElementType::kUnsigned, u"CHAPTERTIMEEND"},
    ElementRow{0x98, ElementType::kFlag, u"CHAPTERFLAGHIDDEN"},
    ElementRow{0x4598, ElementType::kFlag, u"CHAPTERFLAGENABLED"},
    ElementRow{0x6E67, ElementType::kBinary, u"CHAPTERSEGMENTUID"},
    ElementRow{0x6EBC, ElementType::kUnsigned, u"CHAPTERSEGMENTEDITIONUID"},
    ElementRow{0x8F, ElementType::kMaster, u"CHAPTERTRACKS"},
    ElementRow{0x89, ElementType::kUnsigned, u"CHAPTERTRACKNUMBER"},
    ElementRow{0x80, ElementType::kMaster, u"CHAPTERDISPLAY"},
    ElementRow{0x85, ElementType::kUtf8, u"CHAPSTRING"},
    ElementRow{0x437C, ElementType::kAscii, u"CHAPLANGUAGE"},
    ElementRow{0x437E, ElementType::kAscii, u"CHAPCOUNTRY"},
    ElementRow{0x1941A469, ElementType::kMaster, u"ATTACHMENTS"},
    ElementRow{0x61A7, ElementType::kMaster, u"ATTACHEDFILE"},
    ElementRow{0x467E, ElementType::kUtf8, u"FILEDESCRIPTION"},
    ElementRow{0x466E, ElementType::kUtf8, u"FILENAME"},
    ElementRow{0x4660, ElementType::kAscii, u"FILEMIMETYPE"},
    ElementRow{0x465C, ElementType::kBinary, u"FILEDATA"},
    ElementRow{0x46AE, ElementType::kUnsigned, u"FILEUID"},
    ElementRow{0x4661, ElementType::kUnsigned, u"ATTACHMENTSTARTTIME"},
    ElementRow{0x4662, ElementType::kUnsigned, u"ATTACHMENTENDTIME"},
    ElementRow{0x114D9B74, ElementType::kMaster, u"SEEKHEAD"},
    ElementRow{0x4DBB, ElementType::kMaster, u"SEEK"},
    ElementRow{0x53AC, ElementType::kUnsigned, u"SEEKPOSITION"},
    ElementRow{0x53AB, ElementType::kUnsigned, u"SEEKID"},
    ElementRow{0xC0, ElementType::kUnsigned, u"ENHANCEDTRACK_UID"},
    ElementRow{0xC1, ElementType::kUnsigned, u"ENHANCEDTRACK_SEGUID"},
    ElementRow{0xC2, ElementType::kUtf8, u"ENHANCEDTRACK_FILENAME"},
    ElementRow{0xC4, ElementType::kUnsigned, u"MASTERTRACK_SEGUID"},
    ElementRow{0xC5, ElementType::kUtf8, u"MASTERTRACK_FILENAME"},
    ElementRow{0xC7, ElementType::kUnsigned, u"MASTERTRACK_UID"},
    ElementRow{0x2AD1D3, ElementType::kMaster, u"HIERARCHICAL_INDEX"},
    ElementRow{0x30A1D9, ElementType::kMaster, u"HIERARCHICAL_INDEX_POINT"},
    ElementRow{0x4A10, ElementType::kUnsigned, u"HIERARCHICAL_INDEX_TIME"},
    ElementRow{0x4A11, ElementType::kMaster, u"HIERARCHICAL_INDEX_POSITIONS"},
    ElementRow{0x4A12, ElementType::kUnsigned, u"HIERARCHICAL_INDEX_TRACK"},
    ElementRow{0x4A13, ElementType::kUnsigned, u"HIERARCHICAL_INDEX_CUEPOS"},
};

constexpr std::array kTagElements = {
    ElementRow{0, ElementType::kMaster, u"UNKNOWN"},
    ElementRow{0x1254C367, ElementType::kMaster, u"TAGS"},
    ElementRow{0x7373, ElementType::kMaster, u"TAG"},
    ElementRow{0x67C8, ElementType::kMaster, u"SIMPLETAG"},
    ElementRow{0x63C0, ElementType::kMaster, u"TARGETS"},
    ElementRow{0x63CA, ElementType::kUtf8, u"TARGETTYPE"},
    ElementRow{0x68CA, ElementType::kUnsigned, u"TARGETTYPEVALUE"},
    ElementRow{0x4487, ElementType::kUtf8, u"TAGSTRING"},
    ElementRow{0x45A3, ElementType::kUtf8, u"TAGNAME"},
    ElementRow{0x447A, ElementType::kAscii, u"TAGLANGUAGE"},
    ElementRow{0x4484, ElementType::kFlag, u"TAGORIGINAL"},
    ElementRow{0x4485, ElementType::kBinary, u"TAGBINARYVALUE"},
    ElementRow{0x63C5, ElementType::kUnsigned, u"TRACKUID"},
    ElementRow{0x63C9, ElementType::kUnsigned, u"EDITIONUID"},
    ElementRow{0x63C4, ElementType::kUnsigned, u"CHAPTERUID"},
    ElementRow{0x63C6, ElementType::kUnsigned, u"ATTACHMENTUID"},
};

constexpr uint32_t kSegmentChildren[] = {
    el::SEEKHEAD, el::SEGMENTINFO, el::TRACKS,   el::CUES,     el::CHAPTERS,
    el::ATTACHMENTS, tag::TAGS,    el::CLUSTER,  el::HIERARCHICAL_INDEX,
};

}  // namespace

std::span<const ElementRow> ElementTable() { return kElements; }
std::span<const ElementRow> TagElementTable() { return kTagElements; }

const ElementRow& FindElement(std::span<const ElementRow> table, uint32_t id) {
  for (const ElementRow& row : table)
    if (row.id == id) return row;
  return table.front();
}

bool IsSegmentChild(uint32_t id) {
  for (uint32_t child : kSegmentChildren)
    if (child == id) return true;
  return false;
}

}  // namespace mkv

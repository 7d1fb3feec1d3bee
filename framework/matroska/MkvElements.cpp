#include "framework/matroska/MkvElements.h"

#include <array>

namespace mkv {
namespace {

constexpr std::array kElements = {
    ElementRow{el::UNKNOWN, ElementType::kMaster, u"UNKNOWN"},
    ElementRow{el::EBML, ElementType::kMaster, u"EBML"},
    ElementRow{el::DOCTYPE, ElementType::kAscii, u"DOCTYPE"},
    ElementRow{el::DOCTYPEVERSION, ElementType::kUnsigned, u"DOCTYPEVERSION"},
    ElementRow{el::DOCTYPEREADVERSION, ElementType::kUnsigned, u"DOCTYPEREADVERSION"},
    ElementRow{el::SEGMENT, ElementType::kMaster, u"SEGMENT"},
    ElementRow{el::CRC, ElementType::kUnsigned, u"CRC"},
    ElementRow{el::VOID, ElementType::kBinary, u"VOID"},
    ElementRow{el::TITLE, ElementType::kUtf8, u"TITLE"},
    ElementRow{el::FILENAME, ElementType::kUtf8, u"FILENAME"},
    ElementRow{el::PREVFILENAME, ElementType::kUtf8, u"PREVFILENAME"},
    ElementRow{el::NEXTFILENAME, ElementType::kUtf8, u"NEXTFILENAME"},
    ElementRow{el::MUXINGAPP, ElementType::kUtf8, u"MUXINGAPP"},
    ElementRow{el::WRITINGAPP, ElementType::kUtf8, u"WRITINGAPP"},
    ElementRow{el::SEGMENTINFO, ElementType::kMaster, u"SEGMENTINFO"},
    ElementRow{el::TIMECODESCALE, ElementType::kUnsigned, u"TIMECODESCALE"},
    ElementRow{el::DURATION, ElementType::kFloat, u"DURATION"},
    ElementRow{el::SEGMENTUID, ElementType::kBinary, u"SEGMENTUID"},
    ElementRow{el::PREVUID, ElementType::kBinary, u"PREVUID"},
    ElementRow{el::NEXTUID, ElementType::kBinary, u"NEXTUID"},
    ElementRow{el::TRACKS, ElementType::kMaster, u"TRACKS"},
    ElementRow{el::NAME, ElementType::kUtf8, u"NAME"},
    ElementRow{el::LANGUAGE, ElementType::kAscii, u"LANGUAGE"},
    ElementRow{el::TRACKENTRY, ElementType::kMaster, u"TRACKENTRY"},
    ElementRow{el::TRACKNUMBER, ElementType::kUnsigned, u"TRACKNUMBER"},
    ElementRow{el::TRACKTYPE, ElementType::kUnsigned, u"TRACKTYPE"},
    ElementRow{el::TRACKTIMECODESCALE, ElementType::kUnsigned, u"TRACKTIMECODESCALE"},
    ElementRow{el::TRACKUID, ElementType::kUnsigned, u"TRACKUID"},
    ElementRow{el::ATTACHMENTLINK, ElementType::kUnsigned, u"ATTACHMENTLINK"},
    ElementRow{el::DEFAULTDURATION, ElementType::kUnsigned, u"DEFAULTDURATION"},
    ElementRow{el::VIDEO, ElementType::kMaster, u"VIDEO"},
    ElementRow{el::AUDIO, ElementType::kMaster, u"AUDIO"},
    ElementRow{el::FILELACING, ElementType::kMaster, u"FILELACING"},
    ElementRow{el::CODECPRIVATE, ElementType::kBinary, u"CODECPRIVATE"},
    ElementRow{el::CODECID, ElementType::kUtf8, u"CODECID"},
    ElementRow{el::CODECNAME, ElementType::kUtf8, u"CODECNAME"},
    ElementRow{el::SAMPLINGFREQUENCY, ElementType::kUnsigned, u"SAMPLINGFREQUENCY"},
    ElementRow{el::OUTPUTSAMPLINGFREQENCY, ElementType::kUnsigned, u"OUTPUTSAMPLINGFREQENCY"},
    ElementRow{el::CHANNELS, ElementType::kUnsigned, u"CHANNELS"},
    ElementRow{el::BITDEPTH, ElementType::kUnsigned, u"BITDEPTH"},
    ElementRow{el::CONTENTENCODINGS, ElementType::kMaster, u"CONTENTENCODINGS"},
    ElementRow{el::CONTENTENCODING, ElementType::kMaster, u"CONTENTENCODING"},
    ElementRow{el::CONTENTCOMPRESSION, ElementType::kMaster, u"CONTENTCOMPRESSION"},
    ElementRow{el::CONTENTCOMPALGO, ElementType::kUnsigned, u"CONTENTCOMPALGO"},
    ElementRow{el::CONTENTCOMPSETTINGS, ElementType::kBinary, u"CONTENTCOMPSETTINGS"},
    ElementRow{el::MKVELEMENT_PIXELWIDTH, ElementType::kUnsigned, u"MKVELEMENT_PIXELWIDTH"},
    ElementRow{el::MKVELEMENT_PIXELHEIGHT, ElementType::kUnsigned, u"MKVELEMENT_PIXELHEIGHT"},
    ElementRow{el::MKVELEMENT_DISPLAYWIDTH, ElementType::kUnsigned, u"MKVELEMENT_DISPLAYWIDTH"},
    ElementRow{el::MKVELEMENT_DISPLAYHEIGHT, ElementType::kUnsigned, u"MKVELEMENT_DISPLAYHEIGHT"},
    ElementRow{el::MKVELEMENT_FLAGINTERLACED, ElementType::kFlag, u"MKVELEMENT_FLAGINTERLACED"},
    ElementRow{el::CLUSTER, ElementType::kMaster, u"CLUSTER"},
    ElementRow{el::BLOCKGROUP, ElementType::kMaster, u"BLOCKGROUP"},
    ElementRow{el::BLOCK, ElementType::kBinary, u"BLOCK"},
    ElementRow{el::SIMPLEBLOCK, ElementType::kBinary, u"SIMPLEBLOCK"},
    ElementRow{el::TIMECODE, ElementType::kUnsigned, u"TIMECODE"},
    ElementRow{el::REFERENCEBLOCK, ElementType::kSigned, u"REFERENCEBLOCK"},
    ElementRow{el::POSITION, ElementType::kUnsigned, u"POSITION"},
    ElementRow{el::PREVSIZE, ElementType::kUnsigned, u"PREVSIZE"},
    ElementRow{el::BLOCKDURATION, ElementType::kSigned, u"BLOCKDURATION"},
    ElementRow{el::CUES, ElementType::kMaster, u"CUES"},
    ElementRow{el::CUEPOINT, ElementType::kMaster, u"CUEPOINT"},
    ElementRow{el::CUETIME, ElementType::kUnsigned, u"CUETIME"},
    ElementRow{el::CUETRACKPOSITIONS, ElementType::kMaster, u"CUETRACKPOSITIONS"},
    ElementRow{el::CUECLUSTERPOSITION, ElementType::kUnsigned, u"CUECLUSTERPOSITION"},
    ElementRow{el::CUETRACK, ElementType::kUnsigned, u"CUETRACK"},
    ElementRow{el::CUEBLOCKNUMBER, ElementType::kUnsigned, u"CUEBLOCKNUMBER"},
    ElementRow{el::CHAPTERS, ElementType::kMaster, u"CHAPTERS"},
    ElementRow{el::EDITIONENTRY, ElementType::kMaster, u"EDITIONENTRY"},
    ElementRow{el::EDITIONUID2, ElementType::kUnsigned, u"EDITIONUID2"},
    ElementRow{el::EDITIONFLAGHIDDEN, ElementType::kFlag, u"EDITIONFLAGHIDDEN"},
    ElementRow{el::EDITIONFLAGDEFAULT, ElementType::kFlag, u"EDITIONFLAGDEFAULT"},
    ElementRow{el::EDITIONFLAGORDERED, ElementType::kFlag, u"EDITIONFLAGORDERED"},
    ElementRow{el::CHAPTERATOM, ElementType::kMaster, u"CHAPTERATOM"},
    ElementRow{el::CHAPTERUID2, ElementType::kUnsigned, u"CHAPTERUID2"},
    ElementRow{el::CHAPTERTIMESTART, ElementType::kUnsigned, u"CHAPTERTIMESTART"},
    ElementRow{el::CHAPTERTIMEEND, ElementType::kUnsigned, u"CHAPTERTIMEEND"},
    ElementRow{el::CHAPTERFLAGHIDDEN, ElementType::kFlag, u"CHAPTERFLAGHIDDEN"},
    ElementRow{el::CHAPTERFLAGENABLED, ElementType::kFlag, u"CHAPTERFLAGENABLED"},
    ElementRow{el::CHAPTERSEGMENTUID, ElementType::kBinary, u"CHAPTERSEGMENTUID"},
    ElementRow{el::CHAPTERSEGMENTEDITIONUID, ElementType::kUnsigned, u"CHAPTERSEGMENTEDITIONUID"},
    ElementRow{el::CHAPTERTRACKS, ElementType::kMaster, u"CHAPTERTRACKS"},
    ElementRow{el::CHAPTERTRACKNUMBER, ElementType::kUnsigned, u"CHAPTERTRACKNUMBER"},
    ElementRow{el::CHAPTERDISPLAY, ElementType::kMaster, u"CHAPTERDISPLAY"},
    ElementRow{el::CHAPSTRING, ElementType::kUtf8, u"CHAPSTRING"},
    ElementRow{el::CHAPLANGUAGE, ElementType::kAscii, u"CHAPLANGUAGE"},
    ElementRow{el::CHAPCOUNTRY, ElementType::kAscii, u"CHAPCOUNTRY"},
    ElementRow{el::ATTACHMENTS, ElementType::kMaster, u"ATTACHMENTS"},
    ElementRow{el::ATTACHEDFILE, ElementType::kMaster, u"ATTACHEDFILE"},
    ElementRow{el::FILEDESCRIPTION, ElementType::kUtf8, u"FILEDESCRIPTION"},
    ElementRow{el::ATTACHEDFILENAME, ElementType::kUtf8, u"FILENAME"},
    ElementRow{el::FILEMIMETYPE, ElementType::kAscii, u"FILEMIMETYPE"},
    ElementRow{el::FILEDATA, ElementType::kBinary, u"FILEDATA"},
    ElementRow{el::FILEUID, ElementType::kUnsigned, u"FILEUID"},
    ElementRow{el::ATTACHMENTSTARTTIME, ElementType::kUnsigned, u"ATTACHMENTSTARTTIME"},
    ElementRow{el::ATTACHMENTENDTIME, ElementType::kUnsigned, u"ATTACHMENTENDTIME"},
    ElementRow{el::SEEKHEAD, ElementType::kMaster, u"SEEKHEAD"},
    ElementRow{el::SEEK, ElementType::kMaster, u"SEEK"},
    ElementRow{el::SEEKPOSITION, ElementType::kUnsigned, u"SEEKPOSITION"},
    ElementRow{el::SEEKID, ElementType::kUnsigned, u"SEEKID"},
    ElementRow{el::ENHANCEDTRACK_UID, ElementType::kUnsigned, u"ENHANCEDTRACK_UID"},
    ElementRow{el::ENHANCEDTRACK_SEGUID, ElementType::kUnsigned, u"ENHANCEDTRACK_SEGUID"},
    ElementRow{el::ENHANCEDTRACK_FILENAME, ElementType::kUtf8, u"ENHANCEDTRACK_FILENAME"},
    ElementRow{el::MASTERTRACK_SEGUID, ElementType::kUnsigned, u"MASTERTRACK_SEGUID"},
    ElementRow{el::MASTERTRACK_FILENAME, ElementType::kUtf8, u"MASTERTRACK_FILENAME"},
    ElementRow{el::MASTERTRACK_UID, ElementType::kUnsigned, u"MASTERTRACK_UID"},
    ElementRow{el::HIERARCHICAL_INDEX, ElementType::kMaster, u"HIERARCHICAL_INDEX"},
    ElementRow{el::HIERARCHICAL_INDEX_POINT, ElementType::kMaster, u"HIERARCHICAL_INDEX_POINT"},
    ElementRow{el::HIERARCHICAL_INDEX_TIME, ElementType::kUnsigned, u"HIERARCHICAL_INDEX_TIME"},
    ElementRow{el::HIERARCHICAL_INDEX_POSITIONS, ElementType::kMaster, u"HIERARCHICAL_INDEX_POSITIONS"},
    ElementRow{el::HIERARCHICAL_INDEX_TRACK, ElementType::kUnsigned, u"HIERARCHICAL_INDEX_TRACK"},
    ElementRow{el::HIERARCHICAL_INDEX_CUEPOS, ElementType::kUnsigned, u"HIERARCHICAL_INDEX_CUEPOS"},
};

constexpr std::array kTagElements = {
    ElementRow{tag::UNKNOWN, ElementType::kMaster, u"UNKNOWN"},
    ElementRow{tag::TAGS, ElementType::kMaster, u"TAGS"},
    ElementRow{tag::TAG, ElementType::kMaster, u"TAG"},
    ElementRow{tag::SIMPLETAG, ElementType::kMaster, u"SIMPLETAG"},
    ElementRow{tag::TARGETS, ElementType::kMaster, u"TARGETS"},
    ElementRow{tag::TARGETTYPE, ElementType::kUtf8, u"TARGETTYPE"},
    ElementRow{tag::TARGETTYPEVALUE, ElementType::kUnsigned, u"TARGETTYPEVALUE"},
    ElementRow{tag::TAGSTRING, ElementType::kUtf8, u"TAGSTRING"},
    ElementRow{tag::TAGNAME, ElementType::kUtf8, u"TAGNAME"},
    ElementRow{tag::TAGLANGUAGE, ElementType::kAscii, u"TAGLANGUAGE"},
    ElementRow{tag::TAGORIGINAL, ElementType::kFlag, u"TAGORIGINAL"},
    ElementRow{tag::TAGBINARYVALUE, ElementType::kBinary, u"TAGBINARYVALUE"},
    ElementRow{tag::TRACKUID, ElementType::kUnsigned, u"TRACKUID"},
    ElementRow{tag::EDITIONUID, ElementType::kUnsigned, u"EDITIONUID"},
    ElementRow{tag::CHAPTERUID, ElementType::kUnsigned, u"CHAPTERUID"},
    ElementRow{tag::ATTACHMENTUID, ElementType::kUnsigned, u"ATTACHMENTUID"},
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

#include "framework/BuiltinModules.h"

#include "framework/ModuleProbes.h"
#include "framework/VmfErrors.h"

namespace vmf {
namespace {

// Slots of a module whose reader this system does not have: nothing can be opened, and every
// entry that takes a module handle says so.
template <typename... Args>
int32_t NoReader(Args...) {
  return VMF_ERR_UNSUPPORTED_CONTAINER;
}

// Slots that a module fills with an entry that does nothing.
template <typename... Args>
int32_t AnswerZero(Args...) {
  return VMF_OK;
}

// Each module keeps its own copy of the registration record, as Init hands it over.
template <int32_t Id>
int32_t CopyRecord(const VmfRegistrationRecord* record) {
  static VmfRegistrationRecord copy;
  if (record != nullptr) copy = *record;
  return VMF_OK;
}

template <const VmfModuleInfo& Info>
const VmfModuleInfo* InfoOf() {
  return &Info;
}

constexpr VmfModuleInfo kAviInfo{1, 0, {1, 0, 1, 0}, u".avi, .vexa", u"AVI 1.0 and AVI 2.0 read module."};
constexpr VmfModuleInfo kMatroskaInfo{1, 0, {1, 0, 1, 0}, u".mkv", u"MKV read module."};
constexpr VmfModuleInfo kAvcInfo{1, 0, {1, 0, 0, 1}, u".h264, .264", u"AVC read module."};
constexpr VmfModuleInfo kSrtInfo{1, 0, {1, 0, 0, 1}, u".srt", u"SRT read module."};
constexpr VmfModuleInfo kMp4Info{1, 0, {1, 0, 1, 0}, u".mp4, .mov",
                                 u"MP4 read module. Supports AVC and AAC in mp4."};
constexpr VmfModuleInfo kMpegInfo{1, 0, {1, 0, 1, 0}, u".aac", u"AAC in ADTS read module."};

// Filled: 0 to 3, 5, 7 to 14, 17, 21 to 25.
constexpr VmfEntryTable kAviEntries{
    .init = CopyRecord<VMF_MODULE_AVI>, .getModuleInfo = InfoOf<kAviInfo>, .probe = ProbeAvi,
    .openContainer = NoReader, .openContainerEx = NoReader, .closeContainer = NoReader,
    .setTitle = NoReader, .setMenu = NoReader, .getInfo = NoReader, .setPosition = NoReader,
    .setTitleActiveStream = NoReader, .readNextBlock = NoReader,
    .readNextBlockByStream = NoReader, .setInfo = NoReader,
    .extra19To27 = {nullptr, nullptr, NoReader, NoReader, NoReader, NoReader, NoReader}};

// The stand-in while the Matroska reader is not linked. Filled: 0 to 3, 5, 7, 8, 10 to 14, 17;
// slot 9 and slots 21 to 25 answer 0.
constexpr VmfEntryTable kMatroskaEntries{
    .init = CopyRecord<VMF_MODULE_MATROSKA>, .getModuleInfo = InfoOf<kMatroskaInfo>,
    .probe = ProbeMatroska, .openContainer = NoReader, .openContainerEx = NoReader,
    .closeContainer = NoReader, .setTitle = NoReader, .setMenu = AnswerZero, .getInfo = NoReader,
    .setPosition = NoReader, .setTitleActiveStream = NoReader, .readNextBlock = NoReader,
    .readNextBlockByStream = NoReader, .setInfo = NoReader,
    .extra19To27 = {nullptr, nullptr, AnswerZero, AnswerZero, AnswerZero, AnswerZero, AnswerZero}};

// Filled: 1 to 3, 7, 8, 10 to 14; slot 0 answers 0.
constexpr VmfEntryTable kAvcEntries{
    .init = AnswerZero, .getModuleInfo = InfoOf<kAvcInfo>, .probe = ProbeAvc,
    .openContainer = NoReader, .closeContainer = NoReader, .setTitle = NoReader,
    .getInfo = NoReader, .setPosition = NoReader, .setTitleActiveStream = NoReader,
    .readNextBlock = NoReader, .readNextBlockByStream = NoReader};

// The stand-in while the SRT reader is not linked. Filled: 0 to 3, 7, 8, 10 to 14, 17.
constexpr VmfEntryTable kSrtEntries{
    .init = CopyRecord<VMF_MODULE_SRT>, .getModuleInfo = InfoOf<kSrtInfo>, .probe = ProbeSrt,
    .openContainer = NoReader, .closeContainer = NoReader, .setTitle = NoReader,
    .getInfo = NoReader, .setPosition = NoReader, .setTitleActiveStream = NoReader,
    .readNextBlock = NoReader, .readNextBlockByStream = NoReader, .setInfo = NoReader};

// Filled: 0 to 3, 5, 7, 10 to 14, 17; slot 8 answers 0.
constexpr VmfEntryTable kMp4Entries{
    .init = CopyRecord<VMF_MODULE_MP4>, .getModuleInfo = InfoOf<kMp4Info>, .probe = ProbeMp4,
    .openContainer = NoReader, .openContainerEx = NoReader, .closeContainer = NoReader,
    .setTitle = AnswerZero, .getInfo = NoReader, .setPosition = NoReader,
    .setTitleActiveStream = NoReader, .readNextBlock = NoReader,
    .readNextBlockByStream = NoReader, .setInfo = NoReader};

// Filled: 0 to 3, 7, 8, 10 to 14, 17.
constexpr VmfEntryTable kMpegEntries{
    .init = CopyRecord<VMF_MODULE_MPEG>, .getModuleInfo = InfoOf<kMpegInfo>, .probe = ProbeMpeg,
    .openContainer = NoReader, .closeContainer = NoReader, .setTitle = NoReader,
    .getInfo = NoReader, .setPosition = NoReader, .setTitleActiveStream = NoReader,
    .readNextBlock = NoReader, .readNextBlockByStream = NoReader, .setInfo = NoReader};

constexpr VmfModuleDescriptor kAvi{VMF_MODULE_AVI, &kAviInfo, &kAviEntries};
// The two stand-ins serve only while their reader is not linked.
[[maybe_unused]] constexpr VmfModuleDescriptor kMatroska{VMF_MODULE_MATROSKA, &kMatroskaInfo, &kMatroskaEntries};
constexpr VmfModuleDescriptor kAvc{VMF_MODULE_AVC, &kAvcInfo, &kAvcEntries};
[[maybe_unused]] constexpr VmfModuleDescriptor kSrt{VMF_MODULE_SRT, &kSrtInfo, &kSrtEntries};
constexpr VmfModuleDescriptor kMp4{VMF_MODULE_MP4, &kMp4Info, &kMp4Entries};
constexpr VmfModuleDescriptor kMpeg{VMF_MODULE_MPEG, &kMpegInfo, &kMpegEntries};

}  // namespace

const VmfModuleDescriptor& AviModule() { return kAvi; }
const VmfModuleDescriptor& AvcModule() { return kAvc; }
const VmfModuleDescriptor& Mp4Module() { return kMp4; }
const VmfModuleDescriptor& MpegModule() { return kMpeg; }

const VmfModuleDescriptor& MatroskaModule() {
#ifdef VEXA_HAVE_MATROSKA_READER
  return *MatroskaModuleDescriptor();
#else
  return kMatroska;
#endif
}

const VmfModuleDescriptor& SrtModule() {
#ifdef VEXA_HAVE_SRT_READER
  return *SrtModuleDescriptor();
#else
  return kSrt;
#endif
}

}  // namespace vmf

// Module 12 through its entry table: the queries the demultiplexer node asks (layer 2 hands them
// on unchanged) and the property records.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "framework/VmfQueryIds.h"
#include "framework/matroska/MkvFormat.h"
#include "framework/matroska/MkvModule.h"
#include "framework/matroska/MkvPropRecords.h"
#include "tests/framework/matroska/MkvCorpus.h"

using namespace mkvtest;

namespace {

class MkvModule : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { built_ = BuildCorpus(); }
  void SetUp() override { ASSERT_TRUE(built_); }
  void TearDown() override { EXPECT_EQ(h_ != nullptr ? e_.closeContainer(h_) : VMF_OK, VMF_OK); }
  void OpenModule(const std::string& file) {
    const std::string path = CorpusDir() + "/" + file;
    ASSERT_EQ(e_.openContainer(&h_, std::u16string(path.begin(), path.end()).c_str(), nullptr), 0);
  }
  uint64_t Number(uint32_t qid, int32_t index = 0) {
    VmfQueryValue v{};
    EXPECT_EQ(e_.getInfo(h_, qid, &v, index), 0) << std::hex << qid;
    return v.value.u64;
  }
  // Asks for a record or string of `size` bytes into `out`.
  int32_t Fill(uint32_t qid, int32_t index, void* out, size_t size) {
    VmfQueryValue v{.dataType = 0, .size = static_cast<uint32_t>(size), .value = {.ptr = out}};
    return e_.getInfo(h_, qid, &v, index);
  }
  template <class Record>
  int32_t Get(uint32_t qid, int32_t index, Record* out) {
    std::memset(out, 0xEE, sizeof *out);
    return Fill(qid, index, out, sizeof *out);
  }
  int32_t Set(uint32_t qid, uint32_t value) {
    VmfQueryValue v{.dataType = 0, .size = 0, .value = {.u32 = value}};
    return e_.setInfo(h_, qid, &v, 0);
  }
  static bool built_;
  const VmfEntryTable& e_ = *MatroskaModuleDescriptor()->entries;
  VmfModuleHandle h_ = nullptr;
};
bool MkvModule::built_ = false;

}  // namespace

// What a host asks about the file as a whole: a local file is all there, read from its start.
TEST_F(MkvModule, AnswersTheFileQueries) {
  OpenModule("mkvmerge.mkv");
  const uint64_t size = std::filesystem::file_size(CorpusDir() + "/mkvmerge.mkv");
  const uint64_t duration = Number(VMF_QID_TITLE_DURATION);  // 100 ns units
  const struct { uint32_t qid; uint64_t value; } rows[] = {
      {VMF_QID_GET_CONTAINER_TYPE, VMF_MODULE_MATROSKA}, {VMF_QID_GET_FILE_SIZE, size},
      {VMF_QID_GET_FILE_DOWNLOADED_SIZE, size}, {VMF_QID_BYTES_AVAILABLE_AHEAD, size},
      {VMF_QID_FILE_POSITION, 0}, {VMF_QID_GET_PROGRESS, 100}, {VMF_QID_GET_INDX_GAP, 0},
      {VMF_QID_GET_CACHE_FILEPATH_LENGTH, (CorpusDir() + "/mkvmerge.mkv").size()},
      {VMF_QID_GET_BITRATE, size * 8 * 10000000 / duration}, {VMF_QID_GET_ATTACHMENT_COUNT, 0},
  };
  for (const auto& row : rows) EXPECT_EQ(Number(row.qid) & 0xFFFFFFFF, row.value & 0xFFFFFFFF) << std::hex << row.qid;
  VmfQueryValue v{};
  EXPECT_EQ(e_.getInfo(h_, VMF_QID_GET_ATTACHMENT_SIZE, &v, 0), VMF_ERR_VF3_PARSE_ATTACHMENTS);
}

TEST_F(MkvModule, AnswersTheDemultiplexersQueries) {
  OpenModule("mkvmerge.mkv");
  EXPECT_EQ(Number(VMF_QID_NUM_CONTAINER_TITLE) & 0xFFFF, 1u);
  EXPECT_EQ(Number(VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA) & 0xFFFF, 1u);
  EXPECT_EQ(Number(VMF_QID_NUM_TITLEMEDIA_AUDIOMEDIA) & 0xFFFF, 3u);
  const int64_t duration = static_cast<int64_t>(Number(VMF_QID_TITLE_DURATION));
  EXPECT_GT(duration, 29000000);
  EXPECT_LT(duration, 31000000);

  uint8_t format[48] = {};
  EXPECT_EQ(Fill(VMF_QID_VID_STREAM_FORMAT, 0, format, 47), VMF_ERR_BUFFER_TOO_SMALL);
  ASSERT_EQ(Fill(VMF_QID_VID_STREAM_FORMAT, 0, format, 48), 0);
  EXPECT_EQ(std::memcmp(format + 24, "H264", 4), 0);
  ASSERT_EQ(Fill(VMF_QID_AUD_STREAM_FORMAT, 1, format, 48), 0);  // the AC-3 track
  EXPECT_EQ(format[2] | format[3] << 8, 8192);

  std::vector<uint8_t> avcc(Number(VMF_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE));
  ASSERT_GT(avcc.size(), 7u);
  ASSERT_EQ(Fill(VMF_QID_VIDEO_CODEC_PRIVATE_DATA, 0, avcc.data(), avcc.size()), 0);
  EXPECT_EQ(avcc[0], 1);  // an AVC decoder configuration record

  char16_t text[64];
  ASSERT_EQ(Fill(VMF_QID_AUD_CODEC_ID, 2, text, sizeof text), 0);
  EXPECT_EQ(std::u16string(text), u"A_MPEG/L3");
  EXPECT_EQ(Fill(VMF_QID_EDTD, 0, text, sizeof text), VMF_ERR_UNSUPPORTED_QID);
}

// The property records, over a file whose names, languages, chapters, tags and attachment
// mkvmerge was told. Each index past its list is refused with the list's own code.
TEST_F(MkvModule, PropertyRecordsByIndexAndTheirBounds) {
  OpenModule("props.mkv");
  mkv::MkvContainerProp c;
  ASSERT_EQ(Get(VMF_QID_GET_CONTAINER_PROP, 0, &c), 0);
  EXPECT_EQ(c.trackCount, 5u);
  EXPECT_EQ(c.fileSize, std::filesystem::file_size(CorpusDir() + "/props.mkv"));
  mkv::MkvTitleProp t;
  mkv::MkvVideoMediaProp v;
  mkv::MkvTrackProp tr;
  mkv::MkvPlaylistProp p;
  mkv::MkvAttachmentProp a;
  mkv::MkvSubtitleMediaProp s;
  ASSERT_EQ(Get(VMF_QID_GET_TITLE_PROP, 0, &t), 0);
  EXPECT_EQ(std::u16string(t.title), u"Props title");
  EXPECT_EQ(t.duration, c.duration);
  ASSERT_EQ(Get(VMF_QID_GET_TRACK_PROP, 3, &tr), 0);
  EXPECT_EQ(std::string(tr.codecId), "A_MPEG/L3");
  EXPECT_EQ(tr.streamIndex, 2u);
  ASSERT_EQ(Get(VMF_QID_PLAYLISTS_GET_PROP, 0, &p), 0);
  EXPECT_EQ(p.segmentCount, 1u);  // not ordered: the segment plays whole
  ASSERT_EQ(Get(VMF_QID_SET_ATTACHMENT, 0, &a), 0);
  EXPECT_EQ(std::u16string(a.name), u"notes.txt");
  EXPECT_EQ(Get(VMF_QID_GET_HDSUBTITLE_MEDIA_PROP, 0, &s), VMF_ERR_CODEC_UNSUPPORTED);  // a text track
  EXPECT_EQ(Get(VMF_QID_GET_TITLE_PROP, 1, &t), VMF_ERR_INDEX_OUT_OF_RANGE);
  EXPECT_EQ(Get(VMF_QID_GET_VIDEO_MEDIA_PROP, 1, &v), VMF_ERR_INVALID_STREAM);
  EXPECT_EQ(Get(VMF_QID_GET_TRACK_PROP, 5, &tr), VMF_ERR_INDEX_OUT_OF_RANGE);
  EXPECT_EQ(Get(VMF_QID_GET_TRACK_PROP, -1, &tr), VMF_ERR_INDEX_OUT_OF_RANGE);
  EXPECT_EQ(Get(VMF_QID_PLAYLISTS_GET_PROP, 1, &p), VMF_ERR_INDEX_OUT_OF_RANGE);
  EXPECT_EQ(Get(VMF_QID_SET_ATTACHMENT, 1, &a), VMF_ERR_VF3_PARSE_ATTACHMENTS);
  uint8_t format[48];
  EXPECT_EQ(Fill(VMF_QID_AUD_STREAM_FORMAT, 3, format, sizeof format), VMF_ERR_INVALID_STREAM);
}

// Simple tags form a tree numbered depth first: ARTIST (0) holds SORT_WITH (1); COMMENT is 2.
TEST_F(MkvModule, SimpleTagsAndSettingsThroughTheEntryTable) {
  OpenModule("props.mkv");
  mkv::MkvSimpleTagInfo st;
  ASSERT_EQ(Get(VMF_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX, 1, &st), 0);
  EXPECT_EQ(std::u16string(st.name), u"COMMENT");
  EXPECT_EQ(std::tuple(st.id, st.parentId, st.stringSize), std::tuple(2u, UINT64_MAX, 14u));  // six characters and the NUL, UTF-16
  ASSERT_EQ(Get(VMF_QID_TAGS_GET_SIMPLETAGINFO_BYID, 1, &st), 0);
  EXPECT_EQ(std::u16string(st.name), u"SORT_WITH");
  EXPECT_EQ(std::tuple(st.parentId, st.depth), std::tuple(0u, 1u));
  EXPECT_EQ(Get(VMF_QID_TAGS_GET_SIMPLETAGINFO_BYID, 3, &st), VMF_ERR_VF3_PARSE_TAGS);
  ASSERT_EQ(Set(VMF_QID_TAGS_SET_CURRENTTAGIDX, 1), 0);  // there is no second tag
  EXPECT_EQ(Get(VMF_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX, 0, &st), VMF_ERR_VF3_PARSE_TAGS);
  EXPECT_EQ(Set(VMF_QID_MKV_COMBINE_FIELDS, 7), VMF_OK);  // any nonzero value switches it on
  VmfQueryValue v{};
  ASSERT_EQ(e_.getInfo(h_, VMF_QID_MKV_COMBINE_FIELDS, &v, 0), 0);
  EXPECT_EQ(v.value.u32, 1u);
  EXPECT_EQ(Set(VMF_QID_USE_HIERARCHICAL_INDEX, 7), VMF_OK);  // accepted, ignored
}

TEST_F(MkvModule, ShortBuffersLearnTheSizeAndStayUntouched) {
  OpenModule("props.mkv");
  uint8_t buf[sizeof(mkv::MkvAttachmentProp)];
  for (const auto& [qid, size] : {std::pair<uint32_t, size_t>{VMF_QID_GET_CONTAINER_PROP, sizeof(mkv::MkvContainerProp)},
                                  {VMF_QID_GET_TITLE_PROP, sizeof(mkv::MkvTitleProp)},
                                  {VMF_QID_GET_AUDIO_MEDIA_PROP, sizeof(mkv::MkvAudioMediaProp)},
                                  {VMF_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX, sizeof(mkv::MkvSimpleTagInfo)},
                                  {VMF_QID_SET_ATTACHMENT, sizeof(mkv::MkvAttachmentProp)}}) {
    std::memset(buf, 0xAB, sizeof buf);
    VmfQueryValue v{.dataType = 0, .size = static_cast<uint32_t>(size - 1), .value = {.ptr = buf}};
    EXPECT_EQ(e_.getInfo(h_, qid, &v, 0), VMF_ERR_BUFFER_TOO_SMALL) << std::hex << qid;
    EXPECT_EQ(v.size, size);
    EXPECT_EQ(buf[0], 0xAB);
    EXPECT_EQ(Fill(qid, 0, nullptr, size), VMF_MISSING_ARGUMENT);
  }
}

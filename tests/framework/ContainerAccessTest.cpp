// Layer 2 over small Matroska files whose blocks name themselves: routing across files, limits
// and failed opens; the trace the logging module writes, byte for byte; the error and query
// vocabularies, registration, and choosing the built-in module for real files made by FFmpeg and
// for names without files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "framework/BuiltinModules.h"
#include "framework/ContainerAccess.h"
#include "framework/L2carWrapper.h"
#include "framework/LoggingModule.h"
#include "framework/ModuleRegistry.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "platform/os/MemoryArena.h"
#include "tests/framework/ContainerFiles.h"
#include "tests/support/ProcessTestTools.h"

namespace {

using containertest::LogText;

std::string BlockText(const VmfBlock& block) { return std::string(reinterpret_cast<const char*>(block.data), block.size); }

// Each test has a folder of its own for its files and the logging module's trace.
class ContainerAccessTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(vmf::Init(nullptr), VMF_OK); }
  void TearDown() override { Close(); }
  // A tagged Matroska file named `tag`, without an extension: its content names the module.
  std::u16string Mkv(const std::string& tag, int video, int audio, int subtitle) {
    return containertest::WriteTaggedMkv(dir_.path() / tag, tag, video, audio, subtitle);
  }
  // Closes the handle open so far, expecting success, and opens `name`.
  int32_t Open(const std::u16string& name) {
    Close();
    return vmf::OpenContainer(&container_, name.c_str(), nullptr);
  }
  void Close() {
    EXPECT_EQ(container_ != nullptr ? vmf::CloseContainer(container_) : VMF_OK, VMF_OK);
    container_ = nullptr;
  }
  // The text of the block read, or the failure in brackets.
  std::string Read(int32_t blockType, int32_t nStream) {
    uint8_t bytes[64];
    VmfBlock block{bytes, 0, sizeof bytes, 0, 0, 0, nullptr, nullptr, {}};
    const int32_t result = vmf::ReadNextBlockByStream(container_, blockType, nStream, &block);
    return result == VMF_OK ? BlockText(block) : Failure(result);
  }
  static std::string Failure(int32_t result) { return "[" + std::to_string(result) + "]"; }
  ProcessTestTools::TraceDir dir_{"access"};
  VmfContainer* container_ = nullptr;
};

TEST_F(ContainerAccessTest, StreamsAreNumberedAcrossTheFilesOfAHandle) {
  const std::u16string cues = dir_.Write("cues.srt", "1\n00:00:01,000 --> 00:00:02,000\nA\n");
  ASSERT_EQ(Open(Mkv("first", 1, 2, 0) + u";" + Mkv("second", 2, 0, 1) + u";" + cues), VMF_OK);
  ASSERT_EQ(container_->fileCount, 3u);
  EXPECT_EQ(Read(VMF_BLOCK_VIDEO, 0), "first/2/0/0");
  EXPECT_EQ(Read(VMF_BLOCK_VIDEO, 1), "second/2/0/0");
  EXPECT_EQ(Read(VMF_BLOCK_AUDIO, 1), "first/1/1/0");
  EXPECT_EQ(Read(VMF_BLOCK_SUBTITLE, 0), "second/3/0/0");
  // The aliases are located among the video and subtitle streams: video stream 2 is the second
  // file's stream 1 (as the trace shows; the Matroska module refuses the alias); subtitle stream 1 is
  // the SubRip file's cue, a picture too large for the buffer.
  EXPECT_EQ(Read(VMF_BLOCK_VIDEO_ALIAS, 2), Failure(VMF_ERR_INVALID_STREAM));
  EXPECT_EQ(Read(VMF_BLOCK_SUBTITLE_ALIAS, 1), Failure(VMF_ERR_BLOCK_BUFFER_TOO_SMALL));
  // A stream beyond every file, or before the first, is no stream: it once answered as the
  // last file's stream 0.
  for (int32_t past : {3, 7, -1}) {
    EXPECT_EQ(Read(VMF_BLOCK_VIDEO, past), Failure(VMF_ERR_INVALID_STREAM)) << past;
    char16_t name[32] = {};
    VmfQueryValue value{.dataType = 0, .size = sizeof name, .value = {.ptr = name}};
    EXPECT_EQ(vmf::GetInfo(container_, VMF_QID_VID_MIME_TYPE, &value, past), VMF_ERR_INVALID_STREAM) << past;
  }
  // Counts are the handle's, whatever the index, even where there are none.
  for (auto [qid, streams] : {std::pair{VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA, 3}, {VMF_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA, 2}}) {
    VmfQueryValue count{};
    ASSERT_EQ(vmf::GetInfo(container_, qid, &count, 5), VMF_OK);
    EXPECT_EQ(count.value.u16, streams);
  }
  ASSERT_EQ(Open(Mkv("only", 1, 0, 0)), VMF_OK);
  EXPECT_NE(LogText(dir_.path()).find("blockType: 5\nnStream: 1\n"), std::string::npos);  // traced once closed
  VmfQueryValue none{};
  EXPECT_EQ(vmf::GetInfo(container_, VMF_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA, &none, 0), VMF_OK);
  EXPECT_EQ(none.value.u16, 0);
  EXPECT_EQ(Read(VMF_BLOCK_NONE, 0), Failure(VMF_FAILED));
  EXPECT_EQ(Read(VMF_BLOCK_INVALID, 0), Failure(VMF_FAILED));
  // Two blocks, then the end of the stream.
  for (const std::string& next : {std::string("only/2/0/0"), std::string("only/2/0/1"), Failure(VMF_ERR_END_OF_STREAM)}) EXPECT_EQ(Read(VMF_BLOCK_VIDEO, 0), next);
}

TEST_F(ContainerAccessTest, FailedOpensNameTheirCause) {
  const std::u16string one = Mkv("one", 1, 0, 0);
  EXPECT_EQ(vmf::OpenContainer(nullptr, one.c_str(), nullptr), VMF_ERR_INVALID_HANDLER);
  EXPECT_EQ(vmf::OpenContainer(&container_, nullptr, nullptr), VMF_MISSING_ARGUMENT);
  // Nothing scores the name: the handle built so far is left for the caller to close.
  EXPECT_EQ(Open(one + u";" + dir_.Wide("nothing.xyz")), VMF_ERR_UNSUPPORTED_CONTAINER);
  ASSERT_NE(container_, nullptr);
  EXPECT_EQ(container_->fileCount, 1u);
  EXPECT_EQ(Open(u""), VMF_ERR_UNSUPPORTED_CONTAINER);
  // "FILE://" is not the scheme: the name is passed on whole, and nothing accepts it.
  EXPECT_EQ(Open(u"FILE://" + one), VMF_ERR_UNSUPPORTED_CONTAINER);
  // An empty remainder after the last ";" ends the list.
  ASSERT_EQ(Open(one + u";"), VMF_OK);
  EXPECT_EQ(container_->fileCount, 1u);
  // More than ten files, or a name of more than 1023 characters, are refused whole.
  std::u16string eleven;
  for (int i = 0; i < 11; ++i) eleven += one + u";";
  EXPECT_EQ(Open(eleven), VMF_ERR_OPEN_CONTAINER);
  EXPECT_EQ(Open(one + u";" + std::u16string(1024, u'x')), VMF_ERR_OPEN_CONTAINER);
  EXPECT_EQ(container_, nullptr);
}

TEST_F(ContainerAccessTest, WrapperOwnsOneContainerAtATime) {
  auto* wrapper = new L2carWrapper;
  EXPECT_EQ(wrapper->Close(), VMF_OK);
  const std::u16string name = Mkv("w", 0, 1, 0);
  EXPECT_EQ(wrapper->Open((name + u";" + dir_.Wide("none.xyz")).c_str()), VMF_ERR_UNSUPPORTED_CONTAINER);
  EXPECT_FALSE(wrapper->IsOpen());
  ASSERT_EQ(wrapper->Open(name.c_str()), VMF_OK);
  EXPECT_TRUE(wrapper->IsOpen());
  uint8_t bytes[16];
  VmfBlock block{bytes, 0, sizeof bytes, 0, 0, 0, nullptr, nullptr, {}};
  ASSERT_EQ(wrapper->ReadNextBlockByStream(VMF_BLOCK_AUDIO, 0, &block), VMF_OK);
  EXPECT_EQ(BlockText(block), "w/1/0/0");
  EXPECT_EQ(wrapper->AddRef(), 2);
  EXPECT_EQ(wrapper->Release(), 1);
  EXPECT_EQ(wrapper->Release(), 0);  // deleted, and its container closed
  // The trace ends with the close that the last release made.
  EXPECT_TRUE(LogText(dir_.path()).ends_with("CloseContainer Exit:\nVexaError: 0\n"));
}

// Layer 2's records and the module's handles come from the arena the caller gives, and go back
// to it on close; an arena too small for a handle makes the module's open fail with
// out-of-memory.
TEST_F(ContainerAccessTest, ContainersAndHandlesComeFromTheCallersArena) {
  const std::u16string name = Mkv("arena", 0, 1, 0);
  alignas(8) static uint8_t buffer[64 * 1024], tiny[96];
  const VexaOS::ArenaDescriptor d{buffer, sizeof buffer, 8}, t{tiny, sizeof tiny, 8};
  VexaOS::MemoryArena* arena = VexaOS::ArenaCreate(&d);
  ASSERT_NE(arena, nullptr);
  ASSERT_EQ(vmf::OpenContainer(&container_, (name + u";" + name).c_str(), arena), VMF_OK);
  const VmfFileHandle& second = *container_->files[1];
  for (const void* record : {static_cast<const void*>(container_), static_cast<const void*>(&second), static_cast<const void*>(second.moduleHandle)}) {
    EXPECT_TRUE(record >= buffer && record < buffer + sizeof buffer);
  }
  EXPECT_EQ(second.allocator, arena);
  EXPECT_EQ(second.streamCursor, -1);
  Close();
  EXPECT_NE(VexaOS::ArenaAlloc(arena, sizeof buffer / 2), nullptr);  // given back
  VmfModuleHandle h = nullptr;
  EXPECT_EQ(vmf::MatroskaModule().entries->openContainer(&h, name.c_str(), VexaOS::ArenaCreate(&t)), VMF_OUT_OF_MEMORY);
}

TEST_F(ContainerAccessTest, EntriesTheLayerDoesNotExposeAreForwardedAndTraced) {
  const VmfEntryTable& log = *vmf::LoggingModule().entries;
  VmfModuleHandle handle = nullptr;
  ASSERT_EQ(log.openContainer(&handle, Mkv("log", 1, 0, 0).c_str(), nullptr), VMF_OK);
  int32_t type = 7;
  int32_t stream = 8;
  VmfBlock block{};  // no room: the frame stays unread
  int32_t title = 5;
  EXPECT_EQ(log.setMenu(handle, 1), VMF_OK);
  EXPECT_EQ(log.readNextBlock(handle, &type, &stream, &block), VMF_OUT_OF_MEMORY);
  EXPECT_EQ(log.addTitle(handle, &title), VMF_ERR_NULL_MODULE_FUNC);
  EXPECT_EQ(log.extra19To27[0](handle, 0, 0, 0, 0), VMF_ERR_NULL_MODULE_FUNC);
  ASSERT_EQ(log.closeContainer(handle), VMF_OK);
  const std::string expected =
      "OpenContainer:\nFile: " + (dir_.path() / "log").string() + "\n"
      "SetMenu Entry:\nMenuIndex 1\nSetMenu Exit:\nVexaError: 0\n"
      "ReadNextBlock Entry:\nReadNextBlock Exit:\n*pBlockType: 2\n*pnStream: 0\n"
      "Block Data CRC: 0\nBlock Time: 0\nVexaError: " + std::to_string(VMF_OUT_OF_MEMORY) + "\n"
      "AddTitle Entry:\nAddTitle Exit:\n*TitleID: 5\nVexaError: " + std::to_string(VMF_ERR_NULL_MODULE_FUNC) + "\n"
      "CloseContainer Entry:\nCloseContainer Exit:\nVexaError: 0\n";
  EXPECT_EQ(LogText(dir_.path()), expected);
  // The logging module is never chosen for a file itself.
  int32_t score = -1;
  EXPECT_EQ(log.probe(&score, dir_.Wide("log").c_str(), nullptr), VMF_OK);
  EXPECT_EQ(score, 0);
}

TEST_F(ContainerAccessTest, ContainersWorkUntracedWhenTheLogCannotBeOpened) {
  ProcessTestTools::SetEnvironment("VEXA_L1LOG_DIR", ProcessTestTools::PathUtf8(dir_.path() / "missing" / "deeper").c_str());
  ASSERT_EQ(Open(Mkv("untraced", 1, 0, 0)), VMF_OK);
  VmfQueryValue value{};
  EXPECT_EQ(vmf::GetInfo(container_, VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA, &value, 0), VMF_OK);
  EXPECT_EQ(value.value.u16, 1);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "missing"));
}

// Lookups by value: unassigned codes and plain values have no entry; no value is named twice.
TEST(VmfVocabulary, ErrorsAndQueryIdentifiersAreFoundByValue) {
  EXPECT_STREQ(VmfFindError(static_cast<int32_t>(0xC000001A))->message, "End of stream.");
  EXPECT_EQ(VmfFindError(static_cast<int32_t>(0xC0000044)), nullptr);  // unassigned
  EXPECT_EQ(VmfFindError(VMF_FAILED), nullptr);
  EXPECT_STREQ(VmfQidName(0x450E07), "VMF_QID_TITLE_DURATION");
  EXPECT_EQ(VmfQidName(0x450E08), nullptr);
  std::set<int64_t> values;
  for (const VmfErrorEntry& entry : VmfErrorTable()) EXPECT_TRUE(values.insert(entry.code).second) << entry.name;
  values.clear();
  for (const VmfQidEntry& entry : VmfQidTable()) EXPECT_TRUE(values.insert(entry.value).second) << entry.name;
}

// The trace's block CRC is IEEE 802.3's: the standard check value, and a long unaligned block.
TEST(VmfVocabulary, BlockCrcIsTheIeeeCrc32) {
  const std::string check = "123456789";
  EXPECT_EQ(vmf::BlockCrc32(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xCBF43926u);
  std::vector<uint8_t> block(100003);
  for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 131 >> 3);
  EXPECT_EQ(vmf::BlockCrc32(block.data() + 1, block.size() - 1), 0x2E476DAFu);
}

TEST(ModuleRegistry, StatesAndTheBuiltInListAreEntered) {
  int state = 0;
  // The Matroska module's entries under ids of a module outside the built-in list.
  const VmfModuleDescriptor& matroska = vmf::MatroskaModule();
  const VmfModuleDescriptor outOfRange{50, matroska.info, matroska.entries}, own{3, matroska.info, matroska.entries};
  const VmfModuleDescriptor* list[] = {&outOfRange, &own};
  void* states[] = {nullptr, &state};
  const VmfRegistrationRecord record{0, list, states, 2, 0};
  ASSERT_EQ(vmf::Register(&record), VMF_OK);
  EXPECT_EQ(vmf::ModuleState(3), &state);
  // The module reads only: a write open finds no module.
  int32_t id = 0;
  EXPECT_EQ(vmf::ChooseModule(u"a.mkv", vmf::AccessMode::Write, nullptr, &id), VMF_ERR_UNSUPPORTED_CONTAINER);
  ASSERT_EQ(vmf::Register(nullptr), VMF_OK);
  EXPECT_EQ(vmf::ModuleState(3), nullptr);
  const VmfModuleDescriptor* found = nullptr;
  for (int32_t builtin : {10, 12, 14, 15, 16, 17, 18}) {
    ASSERT_EQ(vmf::FindModule(builtin, &found), VMF_OK) << builtin;
    EXPECT_EQ(found->id, builtin);
    EXPECT_NE(found->entries->probe, nullptr);
  }
  EXPECT_EQ(vmf::FindModule(3, &found), VMF_FAILED);
}

namespace fs = std::filesystem;

#ifndef _WIN32  // the fixtures come from FFmpeg, which the Windows build has no form of here
fs::path FixtureDir() { return fs::path(VEXA_BINARY_DIR) / "framework_probe_fixtures"; }

class ModuleProbeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fs::create_directories(FixtureDir());
    const std::string video = "-f lavfi -i testsrc=size=64x48:rate=5:duration=0.4 ";
    const std::string audio = "-f lavfi -i sine=duration=0.4 ";
    const std::pair<const char*, std::string> fixtures[] = {
        {"clip.avi", video + audio + "-c:v mpeg4 -c:a mp2"}, {"clip.mp4", video + "-c:v mpeg4"},
        {"clip.ts", video + "-c:v mpeg2video"}, {"clip.mpg", video + "-c:v mpeg2video -f vob"},
        {"clip.aac", audio + "-c:a aac"}, {"clip.mkv", video + audio + "-c:v mpeg4 -c:a mp2"}};
    // Each test runs in a process of its own, several at once: a fixture appears under its name
    // only whole, so that no process reads one another is still writing.
    for (const auto& [name, arguments] : fixtures) {
      const fs::path file = FixtureDir() / name;
      if (fs::exists(file)) continue;
      const fs::path part = FixtureDir() / ("part-" + std::to_string(getpid()) + "-" + name);
      const std::string command = "ffmpeg -nostdin -v error -y " + arguments + " '" + part.string() + "'";
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
      fs::rename(part, file);
    }
  }
  void SetUp() override { ASSERT_EQ(vmf::Init(nullptr), VMF_OK); }

  // The module chosen for a name, or the failure of the choice.
  static int32_t Chosen(const std::u16string& name) {
    int32_t id = 0;
    const int32_t result = vmf::ChooseModule(name.c_str(), vmf::AccessMode::Read, nullptr, &id);
    return result == VMF_OK ? id : result;
  }
};

TEST_F(ModuleProbeTest, RealFilesAreChosenByTheirContent) {
  const struct { const char* fixture; const char* copy; int32_t chosen; } cases[] = {
      {"clip.avi", nullptr, VMF_MODULE_AVI}, {"clip.mkv", nullptr, VMF_MODULE_MATROSKA}, {"clip.mp4", nullptr, VMF_MODULE_MP4},
      {"clip.ts", nullptr, VMF_MODULE_MPEG}, {"clip.mpg", nullptr, VMF_MODULE_MPEG}, {"clip.aac", nullptr, VMF_MODULE_MPEG},
      // Content beats a misleading extension; capital letters do not matter when content decides.
      {"clip.mkv", "matroska.MKV", VMF_MODULE_MATROSKA}, {"clip.mkv", "matroska.avi", VMF_MODULE_MATROSKA},
      // Two modules scoring 100: the lower id wins (Matroska by content, SRT by extension).
      {"clip.mkv", "subtitles.srt", VMF_MODULE_MATROSKA}, {"clip.ts", "stream.264", VMF_MODULE_AVC},
      // The MP4 module never takes a 3GP name, whatever the content.
      {"clip.mp4", "phone.3GP", VMF_ERR_UNSUPPORTED_CONTAINER}};
  for (const auto& c : cases) {
    const fs::path file = FixtureDir() / (c.copy == nullptr ? c.fixture : c.copy);
    if (c.copy != nullptr) fs::copy_file(FixtureDir() / c.fixture, file, fs::copy_options::overwrite_existing);
    EXPECT_EQ(Chosen(file.u16string()), c.chosen) << file;
  }
  // The modules chosen for these have no reader: opening them is refused.
  for (const char* name : {"clip.avi", "clip.mp4", "clip.ts", "clip.aac"}) {
    VmfContainer* container = nullptr;
    EXPECT_EQ(vmf::OpenContainer(&container, (u"file://" + (FixtureDir() / name).u16string()).c_str(), nullptr),
              VMF_ERR_UNSUPPORTED_CONTAINER)
        << name;
    EXPECT_EQ(vmf::CloseContainer(container), VMF_OK);
  }
}

TEST_F(ModuleProbeTest, NamesWithoutFilesAreChosenByExtensionWhereAModuleAllowsIt) {
  const std::pair<const char*, int32_t> cases[] = {
      {"a.mkv", VMF_MODULE_MATROSKA}, {"a.vf3", VMF_MODULE_MATROSKA}, {"a.MKV", VMF_ERR_UNSUPPORTED_CONTAINER},
      {"a.AVI", VMF_MODULE_AVI}, {"a.Avi", VMF_ERR_UNSUPPORTED_CONTAINER}, {"a.VSBT", VMF_MODULE_AVI},
      {"a.H264", VMF_MODULE_AVC}, {"a.264", VMF_MODULE_AVC}, {"a.srt", VMF_MODULE_SRT},
      {"a.SRT", VMF_ERR_UNSUPPORTED_CONTAINER}, {"a.mp4", VMF_ERR_UNSUPPORTED_CONTAINER},
      {"noextension", VMF_ERR_UNSUPPORTED_CONTAINER}, {"a.M2TS  ", VMF_MODULE_MPEG}};  // trailing spaces dropped
  for (const auto& [name, chosen] : cases) EXPECT_EQ(Chosen((FixtureDir() / "missing" / name).u16string()), chosen) << name;
  // Without reading anything; .m4v ties with MPEG's extension.
  EXPECT_EQ(Chosen(u"http://host/a.MOV"), VMF_MODULE_MP4);
  EXPECT_EQ(Chosen(u"http://host/a.m4v"), VMF_MODULE_MP4);
  EXPECT_EQ(Chosen(u"http://host/a.3g2"), VMF_ERR_UNSUPPORTED_CONTAINER);
}

#endif

}  // namespace

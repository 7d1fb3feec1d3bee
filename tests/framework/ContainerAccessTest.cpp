// Layer 2 over the test-only module: routing across files, markers, limits, missing entries.
#include <gtest/gtest.h>

#include <string>

#include "framework/ContainerAccess.h"
#include "framework/L2carWrapper.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "tests/framework/FakeModule.h"

namespace {

class ContainerAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::RestoreEntries();
    ASSERT_EQ(fake::RegisterWithLogging(), VMF_OK);
  }
  void TearDown() override {
    Close();
    fake::RestoreEntries();
    fake::TheCalls().closeResult = 0;
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
    VmfBlock block = fake::Block(bytes, sizeof bytes);
    const int32_t result = vmf::ReadNextBlockByStream(container_, blockType, nStream, &block);
    return result == VMF_OK ? fake::BlockText(block) : "[" + std::to_string(result) + "]";
  }
  static std::string Failure(int32_t result) { return "[" + std::to_string(result) + "]"; }
  int32_t Query(uint32_t qid, int32_t index, void* out, size_t size) {
    VmfQueryValue value{.dataType = 0, .size = static_cast<uint32_t>(size), .value = {.ptr = out}};
    return vmf::GetInfo(container_, qid, &value, index);
  }
  VmfContainer* container_ = nullptr;
};

TEST_F(ContainerAccessTest, StreamsAreNumberedAcrossTheFilesOfAHandle) {
  ASSERT_EQ(Open(u"fake:v1a2s0:first;fake:v2a0s1:second"), VMF_OK);
  ASSERT_EQ(container_->fileCount, 2u);
  EXPECT_EQ(Read(VMF_BLOCK_VIDEO, 0), "first/2/0/0");
  EXPECT_EQ(Read(VMF_BLOCK_VIDEO, 1), "second/2/0/0");
  EXPECT_EQ(Read(VMF_BLOCK_VIDEO_ALIAS, 2), "second/2/1/0");
  EXPECT_EQ(Read(VMF_BLOCK_AUDIO, 1), "first/1/1/0");
  EXPECT_EQ(Read(VMF_BLOCK_SUBTITLE_ALIAS, 0), "second/3/0/0");
  // A stream beyond every file, or before the first, is no stream: it once answered as the
  // last file's stream 0.
  for (int32_t past : {3, 7, -1}) {
    EXPECT_EQ(Read(VMF_BLOCK_VIDEO, past), Failure(VMF_ERR_INVALID_STREAM)) << past;
    char16_t name[32] = {};
    EXPECT_EQ(Query(VMF_QID_VID_MIME_TYPE, past, name, sizeof name), VMF_ERR_INVALID_STREAM) << past;
  }
  // Counts are the handle's, whatever the index, even where there are none.
  for (auto [qid, streams] : {std::pair{VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA, 3}, {VMF_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA, 1}}) {
    VmfQueryValue count{};
    ASSERT_EQ(vmf::GetInfo(container_, qid, &count, 5), VMF_OK);
    EXPECT_EQ(count.value.u16, streams);
  }
  ASSERT_EQ(Open(u"fake:v1a0s0:only"), VMF_OK);
  VmfQueryValue none{};
  EXPECT_EQ(vmf::GetInfo(container_, VMF_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA, &none, 0), VMF_OK);
  EXPECT_EQ(none.value.u16, 0);
  EXPECT_EQ(Read(VMF_BLOCK_NONE, 0), Failure(VMF_FAILED));
  EXPECT_EQ(Read(VMF_BLOCK_INVALID, 0), Failure(VMF_FAILED));
  // Two blocks, then the end of the stream.
  for (const std::string& next : {std::string("only/2/0/0"), std::string("only/2/0/1"), Failure(VMF_ERR_END_OF_STREAM)}) EXPECT_EQ(Read(VMF_BLOCK_VIDEO, 0), next);
}

TEST_F(ContainerAccessTest, GetInfoRoutesByTheStreamKindOfTheIdentifier) {
  ASSERT_EQ(Open(u"file://fake:v1a0s0:one;fake:v2a1s0:two"), VMF_OK);
  char16_t name[32] = {};
  ASSERT_EQ(Query(VMF_QID_VID_MIME_TYPE, 2, name, sizeof name), VMF_OK);
  EXPECT_EQ(std::u16string(name), u"two#1");
  // Kind 0: the first file with the index unchanged.
  VmfQueryValue count{};
  ASSERT_EQ(vmf::GetInfo(container_, VMF_QID_NUM_CONTAINER_TITLE, &count, 0), VMF_ERR_UNSUPPORTED_QID);
  VmfTitleMediaProp prop{};
  ASSERT_EQ(Query(VMF_QID_GET_TITLE_MEDIA_PROP, 0, &prop, sizeof prop), VMF_OK);
  EXPECT_EQ(prop.field, 3);  // the last file's ("two")
  EXPECT_EQ(std::vector<int>(prop.counts, prop.counts + 3), (std::vector<int>{3, 1, 0}));
  EXPECT_EQ(Query(VMF_QID_GET_TITLE_MEDIA_PROP, 0, &prop, sizeof prop - 1), VMF_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(vmf::GetInfo(container_, VMF_QID_VID_MIME_TYPE, nullptr, 0), VMF_ERR_INVALID_HANDLER);
}

TEST_F(ContainerAccessTest, SetPositionSeeksTheFileHoldingTheStream) {
  ASSERT_EQ(Open(u"fake:v1a0s0:a;fake:v2a0s0:b"), VMF_OK);
  int64_t time = 1000;
  ASSERT_EQ(vmf::SetPosition(container_, VMF_BLOCK_VIDEO, 2, &time), VMF_OK);
  EXPECT_EQ(time, 1000 - 5 + 1);  // stream 1 of the second file
  EXPECT_EQ(vmf::SetPosition(container_, VMF_BLOCK_VIDEO, 0, nullptr), VMF_MISSING_ARGUMENT);
  EXPECT_EQ(vmf::SetTitle(container_, 0), VMF_OK);
  EXPECT_EQ(vmf::SetTitle(container_, 1), VMF_ERR_INVALID_TITLE_INDEX);
}

TEST_F(ContainerAccessTest, HandlesAreCheckedBeforeAnythingElse) {
  int64_t time = 0;
  VmfQueryValue value{};
  VmfBlock block{};
  EXPECT_EQ(vmf::CloseContainer(nullptr), VMF_ERR_INVALID_HANDLER);
  EXPECT_EQ(vmf::SetTitle(nullptr, 0), static_cast<int32_t>(0xC0000006));
  EXPECT_EQ(vmf::GetInfo(nullptr, 0, &value, 0), VMF_ERR_INVALID_HANDLER);
  EXPECT_EQ(vmf::SetPosition(nullptr, 2, 0, &time), VMF_ERR_INVALID_HANDLER);
  EXPECT_EQ(vmf::ReadNextBlockByStream(nullptr, 2, 0, &block), VMF_ERR_INVALID_HANDLER);
  ASSERT_EQ(Open(u"fake:v1a0s0"), VMF_OK);
  container_->marker = 7;
  EXPECT_EQ(vmf::SetTitle(container_, 0), -1);
  EXPECT_EQ(vmf::GetInfo(container_, 0, nullptr, 0), -1);
  EXPECT_EQ(vmf::SetPosition(container_, 2, 0, nullptr), -1);
  EXPECT_EQ(vmf::ReadNextBlockByStream(container_, 2, 0, nullptr), -1);
  EXPECT_EQ(vmf::CloseContainer(container_), -1);
  container_->marker = VMF_CONTAINER_MARKER;
  container_->files[0]->moduleId = 19;
  EXPECT_EQ(vmf::SetTitle(container_, 0), VMF_ERR_GET_MODULE_ID);
  container_->files[0]->moduleId = 5;  // valid id, nothing registered
  EXPECT_EQ(vmf::SetTitle(container_, 0), VMF_FAILED);
  container_->files[0]->moduleId = VMF_MODULE_LOGGING;
}

TEST_F(ContainerAccessTest, NamesBeyondTheLimitsAreRefusedWhole) {
  std::u16string eleven;
  for (int i = 0; i < 11; ++i) eleven += u"fake:v1a0s0;";
  const std::u16string longest = u"fake:v1a0s0:" + std::u16string(1023 - 12, u'x');
  for (const std::u16string& name : {eleven, eleven.substr(0, eleven.size() - 1), longest + u"y"}) {
    EXPECT_EQ(Open(name), VMF_ERR_OPEN_CONTAINER);
    EXPECT_EQ(container_, nullptr);
  }
  ASSERT_EQ(Open(eleven.substr(eleven.find(u';') + 1)), VMF_OK);
  EXPECT_EQ(container_->fileCount, 10u);
  ASSERT_EQ(Open(u"file://" + longest), VMF_OK);
  EXPECT_EQ(Read(VMF_BLOCK_VIDEO, 0), Failure(VMF_ERR_BLOCK_BUFFER_TOO_SMALL));  // the tag does not fit the block
}

TEST_F(ContainerAccessTest, FailedOpensNameTheirCause) {
  EXPECT_EQ(vmf::OpenContainer(nullptr, u"fake:v1a0s0", nullptr), VMF_ERR_INVALID_HANDLER);
  EXPECT_EQ(vmf::OpenContainer(&container_, nullptr, nullptr), VMF_MISSING_ARGUMENT);
  // Nothing scores the name: the handle built so far is left for the caller to close.
  EXPECT_EQ(Open(u"fake:v1a0s0;nothing.xyz"), static_cast<int32_t>(0xC0000031));
  ASSERT_NE(container_, nullptr);
  EXPECT_EQ(container_->fileCount, 1u);
  EXPECT_EQ(Open(u""), VMF_ERR_UNSUPPORTED_CONTAINER);
  // "FILE://" is not the scheme: the name is passed on whole, and nothing accepts it.
  EXPECT_EQ(Open(u"FILE://fake:v1a0s0"), VMF_ERR_UNSUPPORTED_CONTAINER);
  // An empty remainder after the last ";" ends the list.
  ASSERT_EQ(Open(u"fake:v1a0s0;"), VMF_OK);
  EXPECT_EQ(container_->fileCount, 1u);
}

TEST_F(ContainerAccessTest, MissingEntriesAreReported) {
  fake::MutableEntries().readNextBlockByStream = nullptr;
  fake::MutableEntries().setPosition = nullptr;
  ASSERT_EQ(Open(u"fake:v1a0s0"), VMF_OK);
  int64_t time = 0;
  EXPECT_EQ(Read(VMF_BLOCK_VIDEO, 0), Failure(VMF_ERR_NULL_MODULE_FUNC));
  EXPECT_EQ(vmf::SetPosition(container_, VMF_BLOCK_VIDEO, 0, &time), VMF_ERR_NULL_MODULE_FUNC);
  fake::MutableEntries().probe = nullptr;  // a registered module without a probe stops the choice
  EXPECT_EQ(Open(u"fake:v1a0s0"), VMF_ERR_NULL_MODULE_FUNC);
}

TEST_F(ContainerAccessTest, CloseReleasesEveryFileEvenWhenAModuleFails) {
  ASSERT_EQ(Open(u"fake:v1a0s0;fake:v1a0s0;fake:v1a0s0"), VMF_OK);
  const int closesBefore = fake::TheCalls().closes;
  fake::TheCalls().closeResult = VMF_ERR_UNEXPECTED_ERROR;
  EXPECT_EQ(vmf::CloseContainer(container_), VMF_ERR_UNEXPECTED_ERROR);
  container_ = nullptr;
  EXPECT_EQ(fake::TheCalls().closes - closesBefore, 3);  // and ASan sees no leak
}

TEST_F(ContainerAccessTest, WrapperOwnsOneContainerAtATime) {
  auto* wrapper = new L2carWrapper;
  EXPECT_EQ(wrapper->Close(), VMF_OK);
  EXPECT_EQ(wrapper->Open(u"fake:v1a0s0;none.xyz"), VMF_ERR_UNSUPPORTED_CONTAINER);
  EXPECT_FALSE(wrapper->IsOpen());
  ASSERT_EQ(wrapper->Open(u"fake:v0a1s0:w"), VMF_OK);
  EXPECT_TRUE(wrapper->IsOpen());
  uint8_t bytes[16];
  VmfBlock block = fake::Block(bytes, sizeof bytes);
  ASSERT_EQ(wrapper->ReadNextBlockByStream(VMF_BLOCK_AUDIO, 0, &block), VMF_OK);
  EXPECT_EQ(fake::BlockText(block), "w/1/0/0");
  EXPECT_EQ(wrapper->AddRef(), 2);
  EXPECT_EQ(wrapper->Release(), 1);
  const int closesBefore = fake::TheCalls().closes;
  EXPECT_EQ(wrapper->Release(), 0);  // deleted, and its container closed
  EXPECT_EQ(fake::TheCalls().closes - closesBefore, 1);
}

}  // namespace

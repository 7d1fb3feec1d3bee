// Layer 2 over the test-only module: routing across files, limits and failed opens.
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
  void SetUp() override { ASSERT_EQ(fake::RegisterWithLogging(), VMF_OK); }
  void TearDown() override { Close(); }
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
  // More than ten files, or more than 1023 characters, are refused whole.
  std::u16string eleven;
  for (int i = 0; i < 11; ++i) eleven += u"fake:v1a0s0;";
  EXPECT_EQ(Open(eleven), VMF_ERR_OPEN_CONTAINER);
  EXPECT_EQ(Open(u"fake:v1a0s0:" + std::u16string(1012, u'x')), VMF_ERR_OPEN_CONTAINER);
  EXPECT_EQ(container_, nullptr);
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
  const int closesBefore = fake::Closes();
  EXPECT_EQ(wrapper->Release(), 0);  // deleted, and its container closed
  EXPECT_EQ(fake::Closes() - closesBefore, 1);
}

}  // namespace

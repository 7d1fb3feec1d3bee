// The trace the logging module writes, byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "framework/ContainerAccess.h"
#include "framework/LoggingModule.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "tests/framework/FakeModule.h"
#include "tests/support/ProcessTestTools.h"

namespace {

namespace fs = std::filesystem;

class LoggingModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("VEXA_L1LOG_DIR", dir_.path().c_str(), 1);
    ASSERT_EQ(fake::RegisterWithLogging(), VMF_OK);
  }
  void TearDown() override { ::unsetenv("VEXA_L1LOG_DIR"); }
  ProcessTestTools::TempDir dir_{"logging"};
};

TEST_F(LoggingModuleTest, EntriesTheLayerDoesNotExposeAreForwardedAndTraced) {
  const VmfEntryTable& log = *vmf::LoggingModule().entries;
  VmfModuleHandle handle = nullptr;
  ASSERT_EQ(log.openContainer(&handle, u"fake:v0a1s0", nullptr), VMF_OK);
  int32_t type = 7;
  int32_t stream = 8;
  VmfBlock block{};
  int32_t title = 5;
  EXPECT_EQ(log.setMenu(handle, 1), VMF_ERR_NULL_MODULE_FUNC);
  EXPECT_EQ(log.readNextBlock(handle, &type, &stream, &block), VMF_ERR_NULL_MODULE_FUNC);
  EXPECT_EQ(log.addTitle(handle, &title), VMF_ERR_NULL_MODULE_FUNC);
  EXPECT_EQ(log.extra19To27[3](handle, 0, 0, 0, 0), VMF_ERR_NULL_MODULE_FUNC);
  ASSERT_EQ(log.closeContainer(handle), VMF_OK);
  const std::string missing = std::to_string(VMF_ERR_NULL_MODULE_FUNC);
  const std::string expected =
      "OpenContainer:\nFile: fake:v0a1s0\n"
      "SetMenu Entry:\nMenuIndex 1\nSetMenu Exit:\nVexaError: " + missing + "\n"
      "ReadNextBlock Entry:\nReadNextBlock Exit:\n*pBlockType: 7\n*pnStream: 8\n"
      "Block Data CRC: 0\nBlock Time: 0\nVexaError: " + missing + "\n"
      "AddTitle Entry:\nAddTitle Exit:\n*TitleID: 5\nVexaError: " + missing + "\n"
      "CloseContainer Entry:\nCloseContainer Exit:\nVexaError: 0\n";
  EXPECT_EQ(fake::LogText(dir_.path()), expected);
  // The logging module is never chosen for a file itself.
  int32_t score = -1;
  EXPECT_EQ(log.probe(&score, u"fake:v1a0s0", nullptr), VMF_OK);
  EXPECT_EQ(score, 0);
}

TEST_F(LoggingModuleTest, ContainersWorkUntracedWhenTheLogCannotBeOpened) {
  ::setenv("VEXA_L1LOG_DIR", (dir_.path() / "missing" / "deeper").c_str(), 1);
  VmfContainer* container = nullptr;
  ASSERT_EQ(vmf::OpenContainer(&container, u"fake:v1a0s0", nullptr), VMF_OK);
  VmfQueryValue value{};
  EXPECT_EQ(vmf::GetInfo(container, VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA, &value, 0), VMF_OK);
  EXPECT_EQ(value.value.u16, 1);
  EXPECT_EQ(vmf::CloseContainer(container), VMF_OK);
  EXPECT_FALSE(fs::exists(dir_.path() / "missing"));
}

}  // namespace

// Layer 2 opens the SubRip file; the frame size goes to the module through its entry table, as
// layer 2 has no entry for settings.
#include "tools/vexa-subrender/SrtCuePacket.h"

#include <cstring>

#include "framework/ContainerAccess.h"
#include "framework/ModuleRegistry.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "framework/srt/SrtModule.h"
#include "platform/files/TextConvert.h"

namespace subrender {
namespace {

constexpr double kUnitsPerSecond = 1e7;  // block times are in 100-ns units
constexpr uint32_t kFirstBufferSize = 64 * 1024;

struct ContainerCloser {
  void operator()(VmfContainer* c) const { vmf::CloseContainer(c); }
};
using ContainerPtr = std::unique_ptr<VmfContainer, ContainerCloser>;

int32_t ReadFormat(VmfContainer* c, srt::SubtitleFormat* format) {
  VmfQueryValue v{};
  v.size = sizeof *format;
  v.value.ptr = format;
  return vmf::GetInfo(c, VMF_QID_SUB_STREAM_FORMAT, &v, 0);
}

int32_t SetFrameSize(VmfContainer* c, uint32_t width, uint32_t height) {
  srt::SubtitleFormat format{};
  int32_t rc = ReadFormat(c, &format);
  if (rc != VMF_OK) return rc;
  format.width = static_cast<int32_t>(width);
  format.height = static_cast<int32_t>(height);
  const VmfFileHandle& file = *c->files[0];
  const VmfModuleDescriptor* module = nullptr;
  if ((rc = vmf::FindModule(file.moduleId, &module)) != VMF_OK) return rc;
  VmfQueryValue v{};
  v.size = sizeof format;
  v.value.ptr = &format;
  return module->entries->setInfo(file.moduleHandle, VMF_QID_SUB_STREAM_FORMAT, &v, 0);
}

// Reads blocks until one shows at `t` (100-ns units); an empty packet when none does.
int32_t ReadUntil(VmfContainer* c, int64_t t, SrtCuePacket* out) {
  std::vector<uint8_t> buffer(kFirstBufferSize);
  for (;;) {
    VmfBlock block{};
    block.data = buffer.data();
    block.capacity = static_cast<uint32_t>(buffer.size());
    const int32_t rc = vmf::ReadNextBlockByStream(c, VMF_BLOCK_SUBTITLE, 0, &block);
    // The SRT module's bitmap output ends with its reader's own end code.
    if (rc == VMF_ERR_END_OF_STREAM || rc == srt::kSrtEnd) return VMF_OK;
    if (rc == VMF_ERR_BLOCK_BUFFER_TOO_SMALL && block.size > buffer.size()) {
      buffer.resize(block.size);
      continue;
    }
    if (rc != VMF_OK) return rc;
    if (block.time <= t && t < block.time + block.duration) {
      out->packet.assign(buffer.begin(), buffer.begin() + block.size);
      out->start = static_cast<double>(block.time) / kUnitsPerSecond;
      out->end = static_cast<double>(block.time + block.duration) / kUnitsPerSecond;
      return VMF_OK;
    }
  }
}

int32_t Failed(int32_t rc, SrtCuePacket* out) {
  const VmfErrorEntry* e = VmfFindError(rc);
  out->failure = e != nullptr ? e->name : "error " + std::to_string(rc);
  return rc;
}

}  // namespace

int32_t FindSrtCuePacket(const std::string& path, double seconds, uint32_t frameWidth, uint32_t frameHeight,
                         SrtCuePacket* out) {
  std::u16string name;
  if (!VexaFiles::Utf8ToUtf16String(path, name)) return Failed(VMF_ERR_FILE_OPEN_FAILURE, out);
  int32_t rc = vmf::Init(nullptr);
  if (rc != VMF_OK) return Failed(rc, out);
  VmfContainer* opened = nullptr;
  rc = vmf::OpenContainer(&opened, name.c_str(), nullptr);
  ContainerPtr c(opened);
  if (rc != VMF_OK) return Failed(rc, out);
  if (frameWidth != 0 && (rc = SetFrameSize(c.get(), frameWidth, frameHeight)) != VMF_OK) return Failed(rc, out);
  srt::SubtitleFormat format{};
  if ((rc = ReadFormat(c.get(), &format)) != VMF_OK) return Failed(rc, out);
  out->frameWidth = static_cast<uint32_t>(format.width);
  out->frameHeight = static_cast<uint32_t>(format.height);
  rc = ReadUntil(c.get(), static_cast<int64_t>(seconds * kUnitsPerSecond), out);
  return rc == VMF_OK ? rc : Failed(rc, out);
}

}  // namespace subrender

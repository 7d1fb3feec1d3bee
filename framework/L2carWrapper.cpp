#include "framework/L2carWrapper.h"

#include "framework/VmfErrors.h"

L2carWrapper::~L2carWrapper() { Close(); }

int32_t L2carWrapper::AddRef() { return SafeAddRef(); }

int32_t L2carWrapper::Release() {
  const int32_t count = SafeRelease();
  if (count == 0) delete this;
  return count;
}

int32_t L2carWrapper::Init() { return vmf::Init(nullptr); }

int32_t L2carWrapper::Open(const char16_t* name) {
  Close();  // one container at a time
  VmfContainer* container = nullptr;
  const int32_t result = vmf::OpenContainer(&container, name, nullptr);
  if (result != VMF_OK) {
    // A failed open leaves what it had built; nothing of it may stay behind.
    if (container != nullptr) vmf::CloseContainer(container);
    return result;
  }
  m_container = container;
  return VMF_OK;
}

int32_t L2carWrapper::GetInfo(uint32_t qid, VmfQueryValue* value, int32_t index) {
  return vmf::GetInfo(m_container, qid, value, index);
}

int32_t L2carWrapper::SetTitle(int32_t titleIndex) { return vmf::SetTitle(m_container, titleIndex); }

int32_t L2carWrapper::SetPosition(int32_t blockType, int32_t nStream, int64_t* pTime) {
  return vmf::SetPosition(m_container, blockType, nStream, pTime);
}

int32_t L2carWrapper::ReadNextBlockByStream(int32_t blockType, int32_t nStream, VmfBlock* block) {
  return vmf::ReadNextBlockByStream(m_container, blockType, nStream, block);
}

int32_t L2carWrapper::Close() {
  if (m_container == nullptr) return VMF_OK;
  const int32_t result = vmf::CloseContainer(m_container);
  m_container = nullptr;
  return result;
}

bool L2carWrapper::IsOpen() { return m_container != nullptr; }

// The transcoder's way into the framework: a reference-counted owner of one container handle.
// The virtual slots keep their order: destructor, the base's no-op, AddRef, Release, Init,
// Open, GetInfo, SetTitle, SetPosition, ReadNextBlockByStream, Close, IsOpen.
#pragma once

#include <cstdint>

#include "framework/ContainerAccess.h"
#include "interfaces/RefCounters.h"

class L2carWrapper : public CSafetyRefCnt {
 public:
  L2carWrapper() = default;
  ~L2carWrapper() override;  // closes the container still open
  L2carWrapper(const L2carWrapper&) = delete;
  L2carWrapper& operator=(const L2carWrapper&) = delete;

  virtual int32_t AddRef();
  virtual int32_t Release();  // deletes the wrapper at 0
  virtual int32_t Init();     // registers the built-in modules
  // Opens a container with the process heap; on failure nothing stays open.
  virtual int32_t Open(const char16_t* name);
  virtual int32_t GetInfo(uint32_t qid, VmfQueryValue* value, int32_t index);
  virtual int32_t SetTitle(int32_t titleIndex);
  virtual int32_t SetPosition(int32_t blockType, int32_t nStream, int64_t* pTime);
  virtual int32_t ReadNextBlockByStream(int32_t blockType, int32_t nStream, VmfBlock* block);
  virtual int32_t Close();    // nothing to do when no container is open
  virtual bool IsOpen();

 private:
  VmfContainer* m_container = nullptr;
};

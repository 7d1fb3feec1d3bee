#include "framework/ModuleRegistry.h"

#include <array>
#include <atomic>
#include <string_view>

#include "framework/BuiltinModules.h"
#include "framework/LoggingModule.h"
#include "framework/VmfErrors.h"

namespace vmf {
namespace {

// Entries are published one by one as atomics so that readers of open containers, which do not
// take the registry lock, see either the old or the new descriptor of an id, never a torn one.
struct Registry {
  std::array<std::atomic<const VmfModuleDescriptor*>, VMF_REGISTRY_SLOTS> descriptors{};
  std::array<std::atomic<void*>, VMF_REGISTRY_SLOTS> states{};
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

bool IsRegistrableId(int32_t id) { return id >= 1 && id < VMF_REGISTRY_SLOTS; }

int32_t InitModule(const VmfModuleDescriptor& module, const VmfRegistrationRecord& record) {
  if (module.entries == nullptr || module.entries->init == nullptr) return VMF_ERR_LAYER1_FUNC_ERR;
  return module.entries->init(&record) < 0 ? VMF_ERR_LAYER1_MODULE_INIT : VMF_OK;
}

bool IsLoggingModule(const VmfModuleInfo* info) {
  return info != nullptr && info->extensions != nullptr &&
         std::u16string_view(info->extensions) == u"logging";
}

bool CanServe(const VmfModuleInfo* info, AccessMode mode) {
  if (info == nullptr) return false;
  return mode == AccessMode::Read ? info->canRead != 0 : info->canWrite != 0;
}

const VmfModuleInfo* InfoOf(const VmfModuleDescriptor& module) {
  if (module.info != nullptr) return module.info;
  if (module.entries != nullptr && module.entries->getModuleInfo != nullptr) {
    return module.entries->getModuleInfo();
  }
  return nullptr;
}

}  // namespace

std::recursive_mutex& RegistryLock() {
  static std::recursive_mutex lock;
  return lock;
}

const VmfRegistrationRecord& BuiltinRegistration() {
  static const VmfModuleDescriptor* const modules[] = {
      &AviModule(), &MatroskaModule(), &AvcModule(), &SrtModule(),
      &Mp4Module(), &MpegModule(),     &LoggingModule(),
  };
  static const VmfRegistrationRecord record{0, modules, nullptr, std::size(modules), 0};
  return record;
}

int32_t Register(const VmfRegistrationRecord* record) {
  if (record == nullptr) record = &BuiltinRegistration();
  std::lock_guard<std::recursive_mutex> hold(RegistryLock());
  std::array<const VmfModuleDescriptor*, VMF_REGISTRY_SLOTS> descriptors{};
  std::array<void*, VMF_REGISTRY_SLOTS> states{};
  int32_t result = VMF_OK;
  for (uint32_t i = 0; i < record->moduleCount && record->modules != nullptr; ++i) {
    const VmfModuleDescriptor* module = record->modules[i];
    if (module == nullptr || !IsRegistrableId(module->id)) continue;
    result = InitModule(*module, *record);
    if (result != VMF_OK) break;
    descriptors[module->id] = module;
    if (record->states != nullptr) states[module->id] = record->states[i];
  }
  // What registered before a failing module stays registered, as it would have been entered.
  Registry& registry = TheRegistry();
  for (int32_t id = 0; id < VMF_REGISTRY_SLOTS; ++id) {
    registry.descriptors[id].store(descriptors[id], std::memory_order_release);
    registry.states[id].store(states[id], std::memory_order_release);
  }
  return result;
}

int32_t FindModule(int32_t moduleId, const VmfModuleDescriptor** descriptor) {
  if (moduleId < 1 || moduleId > VMF_MODULE_ID_MAX) return VMF_ERR_GET_MODULE_ID;
  const VmfModuleDescriptor* found =
      TheRegistry().descriptors[moduleId].load(std::memory_order_acquire);
  if (found == nullptr || found->entries == nullptr) return VMF_FAILED;
  *descriptor = found;
  return VMF_OK;
}

void* ModuleState(int32_t moduleId) {
  if (!IsRegistrableId(moduleId)) return nullptr;
  return TheRegistry().states[moduleId].load(std::memory_order_acquire);
}

int32_t ChooseModule(const char16_t* name, AccessMode mode, VexaOS::MemoryArena* allocator,
                     int32_t* moduleId) {
  int32_t bestScore = 0;
  int32_t bestId = 0;
  for (int32_t id = 1; id <= VMF_MODULE_ID_MAX; ++id) {
    const VmfModuleDescriptor* module = nullptr;
    if (FindModule(id, &module) != VMF_OK) continue;
    if (module->entries->probe == nullptr) return VMF_ERR_NULL_MODULE_FUNC;
    const VmfModuleInfo* info = InfoOf(*module);
    if (IsLoggingModule(info) || !CanServe(info, mode)) continue;
    int32_t score = 0;
    if (module->entries->probe(&score, name, allocator) != VMF_OK) continue;
    if (score > bestScore) {  // strictly greater: a tie keeps the lower id
      bestScore = score;
      bestId = id;
    }
  }
  if (bestId == 0) return VMF_ERR_UNSUPPORTED_CONTAINER;
  *moduleId = bestId;
  return VMF_OK;
}

}  // namespace vmf

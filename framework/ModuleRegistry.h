// The process-wide table of registered read modules, indexed by module id, and the choice of
// the module that reads a file.
#pragma once

#include <cstdint>
#include <mutex>

#include "framework/ModuleTable.h"

namespace vmf {

// Clears the registry and registers each descriptor of the record in order (ids 1..49), after
// calling its Init with the record. A null record registers the built-in list. Answers 0,
// VMF_ERR_LAYER1_FUNC_ERR for a module without Init, VMF_ERR_LAYER1_MODULE_INIT when an Init fails.
// Takes the registry lock.
int32_t Register(const VmfRegistrationRecord* record);

// The registration record of the seven built-in modules.
const VmfRegistrationRecord& BuiltinRegistration();

// The descriptor registered for `moduleId`: VMF_ERR_GET_MODULE_ID for an id outside 1..18,
// -1 for an id with nothing registered. Safe from any thread.
int32_t FindModule(int32_t moduleId, const VmfModuleDescriptor** descriptor);

// The state pointer registered with a module, or null.
void* ModuleState(int32_t moduleId);

enum class AccessMode { Read, Write };

// Probes every registered module for the file and picks the highest score, the lower id on a
// tie. Answers 0 with the id, VMF_ERR_NULL_MODULE_FUNC for a registered module without a probe,
// VMF_ERR_UNSUPPORTED_CONTAINER when no module scores above 0. The logging module and modules
// that cannot serve `mode` are never chosen.
int32_t ChooseModule(const char16_t* name, AccessMode mode, VexaOS::MemoryArena* allocator,
                     int32_t* moduleId);

// The process-wide lock under which registration and container opening run: the host opens
// containers from several threads at once. Recursive, so that a module whose open goes back
// through layer 2 does not lock itself out.
std::recursive_mutex& RegistryLock();

}  // namespace vmf

// Descriptors of the built-in read modules. AVI, raw AVC, MP4 and MPEG/ADTS have no reader in
// this system: they probe, and their open answers VMF_ERR_UNSUPPORTED_CONTAINER. Matroska and
// SRT take their readers' descriptors when those are linked (see ModuleTable.h).
#pragma once

#include "framework/ModuleTable.h"

namespace vmf {

const VmfModuleDescriptor& AviModule();
const VmfModuleDescriptor& MatroskaModule();
const VmfModuleDescriptor& SrtModule();
const VmfModuleDescriptor& AvcModule();
const VmfModuleDescriptor& Mp4Module();
const VmfModuleDescriptor& MpegModule();

}  // namespace vmf

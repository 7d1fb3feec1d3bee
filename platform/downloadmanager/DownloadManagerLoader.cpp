#include "platform/downloadmanager/DownloadManagerLoader.h"

#include <new>

#include "platform/settings/VexaSettings.h"

namespace VexaDownload {

void* DownloadManagerLoader::Resolve(EntryPoint entry) {
  if (entry < 0 || entry >= kEntryPointCount) return nullptr;
  if (void* known = m_entries[entry].load(std::memory_order_acquire)) return known;
  std::lock_guard<std::mutex> hold(m_lock);
  if (!LoadLocked()) return nullptr;
  void* address = m_library.Symbol(kEntryPointNames[entry]);
  if (address) m_entries[entry].store(address, std::memory_order_release);
  return address;
}

bool DownloadManagerLoader::EnsureLoaded() {
  std::lock_guard<std::mutex> hold(m_lock);
  return LoadLocked();
}

bool DownloadManagerLoader::LoadLocked() {
  if (m_library.IsLoaded()) return true;
  for (const char* name : kLibraryNames)
    if (TryLoad(name)) return true;
  // An empty InstallDir names no folder: "/VexaDownloadManager.so" would be a path at the
  // root, which nobody meant.
  const std::string dir = ReadInstallDir();
  if (dir.empty()) return false;
  for (const char* name : kLibraryNames)
    if (TryLoad(dir + "/" + name)) return true;
  return false;
}

bool DownloadManagerLoader::TryLoad(const std::string& path) {
  if (m_opener) return m_opener(m_library, path.c_str(), m_openerContext);
  return m_library.Load(path.c_str());
}

DownloadManagerLoader& ProcessLoader() {
  // Made on first use in static storage and never destroyed: the library must outlive every
  // stream, including those closed while the process exits. Static storage rather than the
  // heap, so that nothing is left behind when the library holding this loader (the plug-in) is
  // unloaded.
  alignas(DownloadManagerLoader) static unsigned char storage[sizeof(DownloadManagerLoader)];
  static DownloadManagerLoader* const loader = new (storage) DownloadManagerLoader();
  return *loader;
}

std::string ReadInstallDir() {
  std::string dir;
  if (!veds::ReadSettingString(kInstallProduct, kInstallDirValue, dir)) return {};
  return dir;
}

}  // namespace VexaDownload

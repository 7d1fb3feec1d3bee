// Finds and loads the download-manager library and resolves its entry points one by one, each
// at its first use. The process has one loader, made on first use and never destroyed, so the
// library stays loaded for the life of the process. A load that fails is tried again at the
// next resolve: the library may be installed while the process runs.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "platform/downloadmanager/DownloadManagerContract.h"
#include "platform/os/ScopedDLL.h"

namespace VexaDownload {

// The file names tried, bare (through the library search path) and then under InstallDir.
constexpr const char* kLibraryNames[] = {"VexaDownloadManager.dll", "VexaDownloadManager.so",
                                         "libVexaDownloadManager.dylib"};
// Where InstallDir lives in the settings store: the string InstallDir of the product
// DesktopService, that is the key Settings/DesktopService.
constexpr const char* kInstallProduct = "DesktopService";
constexpr const char* kInstallDirValue = "InstallDir";

// Loads one candidate path into `library`; true when it loaded. The default one is
// ScopedDLL::Load; another may watch the paths go by.
using LibraryOpener = bool (*)(VexaOS::ScopedDLL& library, const char* path, void* context);

class DownloadManagerLoader {
 public:
  DownloadManagerLoader() = default;
  DownloadManagerLoader(LibraryOpener opener, void* context)
      : m_opener(opener), m_openerContext(context) {}
  DownloadManagerLoader(const DownloadManagerLoader&) = delete;
  DownloadManagerLoader& operator=(const DownloadManagerLoader&) = delete;

  // The entry point's address, loading the library first when none is loaded yet; null when
  // the library or the entry point is not there.
  void* Resolve(EntryPoint entry);
  // Whether a library is loaded (trying to load one when none is).
  bool EnsureLoaded();

 private:
  bool LoadLocked();
  bool TryLoad(const std::string& path);

  LibraryOpener m_opener = nullptr;
  void* m_openerContext = nullptr;
  std::mutex m_lock;  // serialises loading and resolving
  VexaOS::ScopedDLL m_library;
  std::atomic<void*> m_entries[kEntryPointCount] = {};
};

// The process-wide loader.
DownloadManagerLoader& ProcessLoader();

// InstallDir as the settings store holds it; empty when missing.
std::string ReadInstallDir();

}  // namespace VexaDownload

// The streaming stack's side of the conversation, as the programs that host the plug-in play
// it: a client request, a media item, a job listener and the host callback.
#pragma once

#include <atomic>
#include <string>

#include "interfaces/public/TranscoderInterfaces.h"

namespace NS = Stackvale::NetworkStreaming;

// The User-Agent of a PlayStation 3, a client the plug-in serves.
inline constexpr char kPs3UserAgent[] = "UPnP/1.0 DLNADOC/1.50 Platform/PLAYSTATION 3";

// Objects the host owns on its stack: their counts never free them.
template <class Interface>
class StackOwned : public Interface {
 public:
  int32_t AddRef() override { return ++m_count; }
  int32_t Release() override { return --m_count; }

 private:
  std::atomic<int32_t> m_count{1};
};

class HostRequest : public StackOwned<NS::IClientRequest> {
 public:
  HostRequest(std::string clientId, std::string userAgent, std::string address = "127.0.0.1")
      : m_clientId(std::move(clientId)),
        m_userAgent(std::move(userAgent)),
        m_address(std::move(address)) {}
  const char* GetClientId() override { return m_clientId.c_str(); }
  const char* GetRemoteAddress() override { return m_address.c_str(); }
  const char* GetHeader(int32_t which) override {
    return which == NS::kHeaderUserAgent ? m_userAgent.c_str() : nullptr;
  }

 private:
  std::string m_clientId;
  std::string m_userAgent;
  std::string m_address;
};

class HostItem : public StackOwned<NS::IMediaItem> {
 public:
  explicit HostItem(std::u16string path) : m_path(std::move(path)) {}
  const char* GetTitle() override { return ""; }
  const char* GetClass() override { return "object.item.videoItem"; }
  int64_t GetSize() override { return -1; }
  const char16_t* GetSourcePath() override { return m_path.c_str(); }
  int64_t GetDurationMs() override { return -1; }
  const char* GetSourceMimeType() override { return nullptr; }  // judged by the extension

 private:
  std::u16string m_path;
};

class HostListener : public NS::IJobListener {
 public:
  void OnJobEvent(NS::ITranscoderJob*, int32_t event, int32_t, int32_t) override {
    m_lastEvent = event;
  }
  int32_t LastEvent() const { return m_lastEvent; }

 private:
  std::atomic<int32_t> m_lastEvent{0};
};

// Answers the plug-in's requests for help. Request 2 (the encoder executable is missing): when
// an ffmpeg is on the PATH, its location is stored as the user's FFmpegPath and 2 is answered
// so the plug-in looks again.
class HostCallback : public NS::ITranscoderHost {
 public:
  int32_t ForwardRequest(int32_t code) override;
};

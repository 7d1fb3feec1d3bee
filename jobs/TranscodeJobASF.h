// The ASF job: runs the external FFmpeg encoder on a Matroska source and relays the ASF stream
// (WMV2 video, WMA2 audio) that the encoder writes to its standard output.
//
// Whether the encoder failed is its exit status alone. Its standard error is drained but not
// judged by its words: FFmpeg reports a frame it cannot decode as an error and carries on, and
// the banner repeats the source's metadata, whose titles may hold any word. A stream whose
// encoder ends with a failure is reported to the listener (kJobEventFailed) as it ends.
//
// The host reads on one thread while others may stop or restart the job. Each run of the
// encoder is shared between the job and a reader inside Read: stopping kills and reaps the
// encoder at once, but its pipes close only when the last of them lets go, so a reader never
// finds its handles closed or reused under it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/BaseTranscoderJob.h"
#include "pipeline/TranscodeNodeObserver.h"

class CTranscodeJobASF : public CBaseTranscoderJob, public CTranscodeNodeObserver {
 public:
  // How long a start waits for the encoder's banner before giving up on it.
  static constexpr int kBannerTimeoutMs = 30000;
  // The banner is read up to this many bytes.
  static constexpr size_t kBannerLimit = 65535;
  // How long the end of the encoder's output may precede its exit.
  static constexpr int kExitWaitMs = 5000;
  // The request a job forwards to its owner when the encoder cannot be found; an answer of
  // the same value means "look again".
  static constexpr int32_t kRequestEncoderMissing = 2;

  explicit CTranscodeJobASF(NS::ITranscoderJobCallbacks* owner);
  ~CTranscodeJobASF() override;

  bool Seek(int64_t ms) override;
  bool QueryFlag(uint32_t) override { return false; }
  int64_t GetDuration() override { return m_duration.load(); }
  bool Read(uint8_t* buffer, uint32_t size, uint32_t* count) override;
  bool IsValid() override { return true; }
  int64_t GetTimestamp() override;
  int32_t QueryValue(uint32_t) override { return 0; }
  int32_t Start(int64_t fromMs, int64_t toMs) override;
  int32_t Stop() override;
  int32_t TogglePause() override { return kJobOk; }
  int32_t Open(NS::IJobListener* listener, const char16_t* path, const char* mime) override;
  int32_t CheckSource(const char16_t* path, const char* mime) override;
  NS::ITranscoderJob* MakeJob(NS::ITranscoderJobCallbacks* owner) override;
  int64_t GetTranscodedDuration() override { return GetDuration(); }
  bool IsAvailable() override;

  // The job has no pipeline; no event concerns it.
  void Notify(int32_t) override {}

  // The encoder's argument vector: read the source from the start position, WMV2 at 640x360
  // and quality 5, WMA2 in two channels, ASF to standard output.
  static std::vector<std::u16string> BuildArguments(const std::u16string& encoder,
                                                    const std::u16string& source, int64_t startMs);
  // The start position as the encoder's "-ss" offset, "HH:MM:SS.mmm".
  static std::u16string FormatOffset(int64_t startMs);

  enum class BannerVerdict { kReadOn, kDuration };
  // Looks for the input's duration line in the encoder's standard error so far. kDuration
  // sets durationMs (-1 when the line does not read as a time).
  static BannerVerdict InspectBanner(std::string_view text, bool complete, int64_t& durationMs);
  // "H:MM:SS.fff..." at the start of text, the fraction being a decimal fraction of a second.
  static bool ParseDuration(std::string_view text, int64_t& durationMs);

 private:
  struct EncoderRun;

  enum class RelayResult { kRelayed, kStreamEnded, kStreamFailed, kStopped };

  std::u16string FindEncoder();
  bool StartEncoder(int64_t startMs);
  bool ReadBanner(EncoderRun& run, int64_t& durationMs);
  RelayResult RelayOutput(EncoderRun& run, uint8_t* buffer, uint32_t size, size_t& count);
  // The output has ended: the stream is whole only if the encoder exits cleanly.
  RelayResult JudgeEnd(EncoderRun& run);
  static void DrainErrors(EncoderRun& run);
  static std::shared_ptr<EncoderRun> NewRun();
  std::shared_ptr<EncoderRun> CurrentRun();

  std::atomic<NS::IJobListener*> m_listener{nullptr};  // not owned
  std::mutex m_runLock;                    // guards the three fields below
  std::shared_ptr<EncoderRun> m_running;   // the run Read relays
  std::shared_ptr<EncoderRun> m_starting;  // a run still in its banner phase
  uint64_t m_generation = 0;               // advanced by every stop and start
  std::atomic<int64_t> m_duration{-1};
};

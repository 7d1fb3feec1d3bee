#include "tests/support/MuxFixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <chrono>
#include <thread>

#include "interfaces/SampleTimingRecord.h"
#include "pipeline/TranscodeDecodeFake.h"
#include "pipeline/TranscodeEncodeFake.h"
#include "pipeline/TranscodeMemConnection.h"
#include "pipeline/TranscodeMuxMP2.h"
#include "pipeline/TranscodeSink.h"

namespace {

constexpr int64_t kShiftMs = 1000;  // keeps every source time positive, as a demultiplexer delivers it

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct CrcPacket {
  int64_t ptsMs;
  size_t size;
};

// framecrc lines: stream, dts, pts, duration, size, crc; "#tb 0: num/den" gives the time base.
std::vector<CrcPacket> ReadFrameCrc(const std::string& path) {
  std::ifstream in(path);
  std::vector<CrcPacket> packets;
  std::string line;
  int64_t num = 1, den = 1000;
  while (std::getline(in, line)) {
    if (line.rfind("#tb 0:", 0) == 0) {
      std::sscanf(line.c_str(), "#tb 0: %ld/%ld", &num, &den);
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    long stream, dts, pts, duration, size;
    if (std::sscanf(line.c_str(), "%ld, %ld, %ld, %ld, %ld", &stream, &dts, &pts, &duration, &size) == 5)
      packets.push_back({pts * num * 1000 / den, size_t(size)});
  }
  return packets;
}

// ADTS frames carry their own length; the container's packets lack the 7-byte header.
std::vector<size_t> AdtsFrameSizes(const std::vector<uint8_t>& bytes) {
  std::vector<size_t> sizes;
  for (size_t at = 0; at + 7 <= bytes.size();) {
    size_t length = ((bytes[at + 3] & 3) << 11) | (bytes[at + 4] << 3) | (bytes[at + 5] >> 5);
    if (bytes[at] != 0xFF || length < 7) return {};
    sizes.push_back(length);
    at += length;
  }
  return sizes;
}

EsStream Cut(int32_t code, const std::vector<uint8_t>& bytes, const std::vector<CrcPacket>& packets,
             const std::vector<size_t>& sizes) {
  EsStream stream{code, {}};
  size_t at = 0;
  for (size_t i = 0; i < packets.size(); ++i) {
    size_t size = sizes.empty() ? packets[i].size : sizes[i];
    if (at + size > bytes.size()) return {code, {}};
    stream.samples.push_back({packets[i].ptsMs + kShiftMs, {bytes.begin() + long(at), bytes.begin() + long(at + size)}});
    at += size;
  }
  if (at != bytes.size()) return {code, {}};
  return stream;
}

// Tests run as parallel processes: each makes its own temporary file and renames it into
// place, so that a reader never sees a half-written fixture.
std::string Temporary(const std::string& path) {
  return path + ".tmp" + std::to_string(getpid()) + path.substr(path.rfind('.'));
}

bool Publish(const std::string& temporary, const std::string& path) {
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

EsStream Extract(const std::string& base, const std::string& map, int32_t code, const std::string& format,
                 const std::string& extra) {
  std::string es = base + "." + map.substr(map.find(':') + 1) + ".es";
  std::string crc = es + ".crc";
  for (char& ch : es) ch = ch == ':' ? '_' : ch;
  for (char& ch : crc) ch = ch == ':' ? '_' : ch;
  if (!Exists(es) || !Exists(crc)) {
    std::string input = " -i " + base + ".mkv -map " + map + " -c copy " + extra;
    std::string esTemporary = Temporary(es), crcTemporary = Temporary(crc);
    if (!RunCommand("ffmpeg -v error -y" + input + " -f " + format + " " + esTemporary + " -map " + map +
                    " -c copy " + extra + " -f framecrc " + crcTemporary) ||
        !Publish(crcTemporary, crc) || !Publish(esTemporary, es))
      return {code, {}};
  }
  std::vector<uint8_t> bytes = ReadBytes(es);
  std::vector<CrcPacket> packets = ReadFrameCrc(crc);
  std::vector<size_t> sizes;
  if (code == 143) {
    sizes = AdtsFrameSizes(bytes);
    if (sizes.size() != packets.size()) return {code, {}};
  }
  return Cut(code, bytes, packets, sizes);
}

}  // namespace

bool RunCommand(const std::string& command, const std::string& outputFile) {
  return std::system((command + " >" + outputFile + " 2>&1").c_str()) == 0;
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

std::vector<EsStream> MakeFixture(const std::string& dir, const std::string& name, const std::string& videoSize,
                                  int seconds, const std::vector<std::string>& audioCodecs) {
  RunCommand("mkdir -p " + dir);
  std::string base = dir + "/" + name;
  if (!Exists(base + ".mkv")) {
    std::string command = "ffmpeg -v error -y -f lavfi -i testsrc2=size=" + videoSize +
                          ":rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t " + std::to_string(seconds) +
                          " -map 0:v";
    for (size_t i = 0; i < audioCodecs.size(); ++i) command += " -map 1:a";
    command += " -c:v libx264 -preset veryfast -bf 3 -b_strategy 0 -x264-params b-pyramid=normal -g 50";
    const char* encoders[] = {"aac", "ac3", "libmp3lame"};
    const char* names[] = {"aac", "ac3", "mp3"};
    for (size_t i = 0; i < audioCodecs.size(); ++i)
      for (int k = 0; k < 3; ++k)
        if (audioCodecs[i] == names[k]) command += " -c:a:" + std::to_string(i) + " " + encoders[k];
    std::string temporary = Temporary(base + ".mkv");
    if (!RunCommand(command + " " + temporary) || !Publish(temporary, base + ".mkv")) return {};
  }
  std::vector<EsStream> streams;
  streams.push_back(Extract(base, "0:v", 10, "rawvideo", "-bsf:v h264_mp4toannexb,h264_metadata=aud=insert"));
  for (size_t i = 0; i < audioCodecs.size(); ++i) {
    std::string map = "0:a:" + std::to_string(i);
    if (audioCodecs[i] == "aac") streams.push_back(Extract(base, map, 143, "adts", ""));
    if (audioCodecs[i] == "ac3") streams.push_back(Extract(base, map, 150, "ac3", ""));
    if (audioCodecs[i] == "mp3")
      streams.push_back(Extract(base, map, 132, "mp3", "-write_xing 0 -id3v2_version 0"));
  }
  for (const EsStream& stream : streams)
    if (stream.samples.empty()) return {};
  return streams;
}

namespace {

// The delimiter and parameter sets of an access unit, as the demultiplexer sends them first
// (its delimiter byte lacks the stop bit).
std::vector<uint8_t> ParameterSets(const std::vector<uint8_t>& unit) {
  std::vector<uint8_t> out = {0, 0, 0, 1, 9, 0xE0};
  for (size_t i = 0; i + 4 < unit.size(); ++i) {
    if (unit[i] != 0 || unit[i + 1] != 0 || unit[i + 2] != 1) continue;
    uint8_t type = unit[i + 3] & 0x1F;
    size_t end = i + 3;
    while (end + 3 < unit.size() && !(unit[end] == 0 && unit[end + 1] == 0 && unit[end + 2] <= 1)) ++end;
    if (end + 3 >= unit.size()) end = unit.size();
    if (type == 7 || type == 8) {
      out.insert(out.end(), {0, 0, 0, 1});
      out.insert(out.end(), unit.begin() + long(i + 3), unit.begin() + long(end));
    }
  }
  return out;
}

struct StreamChain {
  CTranscodeMemConnection connection{0x500000, 0x10000};
  CTranscodeDecodeFake* decoder = nullptr;
  CTranscodeEncodeFake* encoder = nullptr;
};

void Write(CTranscodeMemConnection& connection, const std::vector<uint8_t>& bytes, int64_t ms) {
  std::vector<uint8_t> copy = bytes;
  connection.copyBytes(&connection, copy.data(), uint32_t(copy.size()));
  SampleTimingRecord record{};
  record.start = ms * 27000;
  record.stop = record.start + 1;
  record.size = uint32_t(copy.size());
  record.present = 1;
  record.startValid = 1;
  connection.auxInfo(&connection, 0, kAuxSampleTiming, &record, sizeof record);
}

// Waits until the library has read what the face holds, for a while at most.
void WaitUntilTaken(bufstream* face) {
  for (int i = 0; i < 200 && face->usableBytes(face) > 0; ++i)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
}

}  // namespace

PipelineRun RunPipeline(const std::vector<EsStream>& streams, const std::vector<FeedPass>& passes, bool paced) {
  PipelineRun run;
  auto* sink = new CTranscodeSink(nullptr);
  auto* mux = new CTranscodeMuxMP2(nullptr);
  mux->SetOutput(sink->WritingFace());
  std::vector<StreamChain> chains(streams.size());
  std::vector<bufstream*> faces(streams.size());
  for (size_t i = 0; i < streams.size(); ++i) {
    chains[i].decoder = new CTranscodeDecodeFake(nullptr);
    chains[i].encoder = new CTranscodeEncodeFake(nullptr, streams[i].code);
    chains[i].decoder->SetSource(&chains[i].connection, streams[i].code);
    chains[i].decoder->SetReceiver(chains[i].encoder);
    int32_t code = 0;
    bufstream* face = faces[i] = chains[i].encoder->GetOutput(&code);
    mux->AddStream(face, code);
  }
  std::thread reader([&] {
    std::vector<uint8_t> buffer(1 << 20);
    uint32_t count = 0;
    while ((run.readResultAtEnd = sink->Read(buffer.data(), uint32_t(buffer.size()), &count)) == 0)
      run.output.insert(run.output.end(), buffer.begin(), buffer.begin() + count);
  });
  for (const FeedPass& pass : passes) {
    std::vector<size_t> next(streams.size(), 0);
    std::vector<int64_t> last(streams.size(), INT64_MIN);
    for (size_t i = 0; i < streams.size(); ++i)
      if (streams[i].code == 10) Write(chains[i].connection, ParameterSets(streams[i].samples[0].bytes),
                                       streams[i].samples[0].ptsMs + pass.shiftMs);
    for (;;) {
      size_t pick = streams.size();
      for (size_t i = 0; i < streams.size(); ++i)
        if (next[i] < streams[i].samples.size() && (pick == streams.size() || last[i] < last[pick])) pick = i;
      if (pick == streams.size()) break;
      const EsSample& sample = streams[pick].samples[next[pick]++];
      Write(chains[pick].connection, sample.bytes, sample.ptsMs + pass.shiftMs);
      last[pick] = sample.ptsMs;
      if (paced) WaitUntilTaken(faces[pick]);
    }
  }
  mux->Close();
  sink->SetEndOfStream();
  reader.join();
  mux->Release();
  for (StreamChain& chain : chains) {
    chain.decoder->Release();
    chain.encoder->Release();
  }
  sink->Release();
  return run;
}

#include "tests/support/TsChecker.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace {

constexpr size_t kPacket = 188;
constexpr int64_t k27MHzPerMs = 27000;
constexpr int64_t kMaxPcrGap = 40 * k27MHzPerMs;
constexpr int64_t kMaxPcrJump = 100 * k27MHzPerMs;
constexpr int64_t kMaxPsiGap = 100 * k27MHzPerMs;
constexpr int64_t kMaxEarly = 1000 * k27MHzPerMs;

struct Pcr {
  size_t position;
  int64_t value;
  bool discontinuity;
};

struct PendingPes {
  bool open = false;
  TsPesInfo info;
  std::vector<uint8_t> bytes;
};

struct Checker {
  TsReport report;
  std::vector<Pcr> pcrs;
  std::map<uint16_t, int> counters;
  std::map<uint16_t, PendingPes> pending;
  std::vector<size_t> psiPositions[2];  // PAT, PMT
  uint16_t pmtPid = 0x1FFF;
  bool patSeen = false, pmtSeen = false;

  void Problem(const std::string& text) {
    if (report.problems.size() < 50) report.problems.push_back(text);
  }
};

uint32_t Crc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= uint32_t(data[i]) << 24;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

std::optional<int64_t> Timestamp(const uint8_t* p, uint8_t prefix) {
  if ((p[0] >> 4) != prefix || !(p[0] & 1) || !(p[2] & 1) || !(p[4] & 1)) return std::nullopt;
  return (int64_t(p[0] & 0x0E) << 29) | (int64_t(p[1]) << 22) | (int64_t(p[2] >> 1) << 15) | (int64_t(p[3]) << 7) |
         (p[4] >> 1);
}

// 13-bit PIDs and 12-bit lengths behind a few reserved bits.
uint16_t Bits13(const uint8_t* p) { return uint16_t(((p[0] & 0x1F) << 8) | p[1]); }
size_t Bits12(const uint8_t* p) { return size_t(((p[0] & 0x0F) << 8) | p[1]); }

// A section starting at the payload's pointer field: answers its body (CRC checked) or empty.
std::vector<uint8_t> Section(Checker& c, const uint8_t* payload, size_t size, const char* what) {
  size_t at = 1 + payload[0];
  if (at + 3 > size) return {};
  size_t length = Bits12(payload + at + 1);
  if (at + 3 + length > size || length < 9) {
    c.Problem(std::string(what) + " section does not fit one packet");
    return {};
  }
  if (Crc32(payload + at, 3 + length) != 0) c.Problem(std::string(what) + " CRC wrong");
  return std::vector<uint8_t>(payload + at, payload + at + 3 + length - 4);
}

// The PAT (table 0) names the PMT's PID; the PMT (table 2) the PCR PID and each stream's type.
void ReadTable(Checker& c, uint8_t table, const uint8_t* payload, size_t size) {
  const char* what = table == 0 ? "PAT" : "PMT";
  std::vector<uint8_t> s = Section(c, payload, size, what);
  if (s.size() < 12 || s[0] != table) return c.Problem(std::string(what) + " malformed");
  if (table == 0) {
    c.pmtPid = Bits13(&s[10]);
    c.patSeen = true;
    return;
  }
  c.report.pcrPid = Bits13(&s[8]);
  for (size_t at = 12 + Bits12(&s[10]); at + 5 <= s.size(); at += 5 + Bits12(&s[at + 3]))
    c.report.streamTypes[Bits13(&s[at + 1])] = s[at];
  c.pmtSeen = true;
}

void ClosePes(Checker& c, uint16_t pid) {
  PendingPes& p = c.pending[pid];
  if (!std::exchange(p.open, false)) return;
  const std::vector<uint8_t>& b = p.bytes;
  if (b.size() < 9 || b[0] != 0 || b[1] != 0 || b[2] != 1) return c.Problem("PES start code missing");
  size_t declared = (b[4] << 8) | b[5];
  if (declared && declared != b.size() - 6) c.Problem("PES_packet_length differs from the data");
  if ((b[6] & 0xC0) != 0x80) c.Problem("PES marker bits wrong");
  uint8_t flags = b[7] >> 6;
  size_t headerLength = b[8];
  if (9 + headerLength > b.size()) return c.Problem("PES header longer than the packet");
  TsPesInfo& info = p.info;
  if (flags == 1) c.Problem("PES with DTS but no PTS");
  // The PTS's prefix is 2 alone, 3 beside a DTS (prefix 1) that follows it.
  auto pts = flags >= 2 ? Timestamp(b.data() + 9, flags) : std::nullopt;
  auto dts = flags == 3 ? Timestamp(b.data() + 14, 1) : pts;
  if (flags >= 2 && !(pts && dts)) c.Problem("PTS or DTS markers wrong");
  info.hasPts = pts.has_value();
  info.hasDts = flags == 3 && dts;
  info.pts = pts.value_or(0);
  info.dts = dts.value_or(info.pts);
  info.payload.assign(b.begin() + 9 + long(headerLength), b.end());
  c.report.pes[pid].push_back(std::move(info));
}

void ReadPes(Checker& c, uint16_t pid, bool unitStart, size_t position, const uint8_t* payload, size_t size) {
  PendingPes& p = c.pending[pid];
  if (unitStart) {
    ClosePes(c, pid);
    p = PendingPes{};
    p.open = true;
    p.info.firstByte = position;
  } else if (!p.open) {
    return c.Problem("elementary data before its first PES start");
  }
  p.info.lastByte = position;
  p.bytes.insert(p.bytes.end(), payload, payload + size);
}

void ReadAdaptation(Checker& c, uint16_t pid, size_t position, const uint8_t* af, size_t length, bool& discontinuity) {
  if (length == 0) return;
  discontinuity = af[0] & 0x80;
  bool pcr = af[0] & 0x10;
  if (pcr && length < 7) return c.Problem("PCR flag in a short adaptation field");
  // After the flags and the fields they announce come stuffing bytes, all 0xFF.
  if (!(af[0] & 0x0F) && std::any_of(af + (pcr ? 7 : 1), af + length, [](uint8_t b) { return b != 0xFF; }))
    c.Problem("adaptation field stuffing that is not 0xFF");
  if (!pcr) return;
  int64_t base = (int64_t(af[1]) << 25) | (af[2] << 17) | (af[3] << 9) | (af[4] << 1) | (af[5] >> 7);
  int64_t extension = ((af[5] & 1) << 8) | af[6];
  if (pid != c.report.pcrPid) c.Problem("PCR on a PID that is not the PCR PID");
  c.pcrs.push_back({position + 11, base * 300 + extension, discontinuity});
}

void ReadContinuity(Checker& c, uint16_t pid, uint8_t counter, bool hasPayload, bool discontinuity) {
  auto it = c.counters.find(pid);
  if (it != c.counters.end() && !discontinuity) {
    int expected = hasPayload ? (it->second + 1) & 0x0F : it->second;
    if (counter != expected) c.Problem("continuity counter gap on PID " + std::to_string(pid));
  }
  c.counters[pid] = counter;
}

void ReadPacket(Checker& c, const uint8_t* p, size_t position) {
  if (p[0] != 0x47) return c.Problem("sync byte missing at " + std::to_string(position));
  if (p[1] & 0x80) c.Problem("transport error indicator set");
  uint16_t pid = Bits13(p + 1);
  bool unitStart = p[1] & 0x40;
  uint8_t control = (p[3] >> 4) & 3;
  if (control == 0) return c.Problem("reserved adaptation_field_control");
  size_t at = 4;
  bool discontinuity = false;
  if (control & 2) {
    size_t length = p[4];
    if (length > 183 || (control == 3 && length > 182)) return c.Problem("adaptation field too long");
    ReadAdaptation(c, pid, position, p + 5, length, discontinuity);
    at = 5 + length;
  }
  ReadContinuity(c, pid, p[3] & 0x0F, control & 1, discontinuity);
  if (!(control & 1)) return;
  if (position == 0 && pid != 0) c.Problem("the stream does not begin with a PAT");
  if (pid == 0 || pid == c.pmtPid) {
    c.psiPositions[pid != 0].push_back(position);
    if (unitStart) ReadTable(c, pid == 0 ? 0 : 2, p + at, kPacket - at);
  } else if (c.report.streamTypes.count(pid)) {
    ReadPes(c, pid, unitStart, position, p + at, kPacket - at);
  } else if (pid != 0x1FFF) {
    c.Problem(c.pmtSeen ? "packet of a PID outside the program" : "elementary packet before the PMT");
  }
}

std::vector<Pcr>::const_iterator PcrAtOrAfter(const std::vector<Pcr>& pcrs, size_t position) {
  return std::lower_bound(pcrs.begin(), pcrs.end(), position, [](const Pcr& pcr, size_t at) { return pcr.position < at; });
}

// Arrival time of a byte, interpolated between the PCRs of one time base around it.
std::optional<int64_t> Arrival(const std::vector<Pcr>& pcrs, size_t position) {
  auto after = PcrAtOrAfter(pcrs, position);
  if (after == pcrs.begin() || after == pcrs.end() || after->discontinuity) return std::nullopt;
  auto before = after - 1;
  if (after->position == before->position) return before->value;
  return before->value + (after->value - before->value) * int64_t(position - before->position) /
                             int64_t(after->position - before->position);
}

void CheckPcrs(Checker& c) {
  for (size_t i = 1; i < c.pcrs.size(); ++i) {
    c.report.discontinuities += c.pcrs[i].discontinuity;
    if (c.pcrs[i].discontinuity) continue;
    int64_t step = c.pcrs[i].value - c.pcrs[i - 1].value;
    if (step < 0 || step > kMaxPcrJump) c.Problem("PCR jumps without discontinuity indicator");
    else if (step > kMaxPcrGap) c.Problem("PCR interval over 40 ms: " + std::to_string(step / k27MHzPerMs) + " ms");
  }
  if (c.pcrs.empty()) c.Problem("no PCR");
}

size_t TimeBaseOf(const std::vector<Pcr>& pcrs, size_t position) {
  return size_t(std::count_if(pcrs.begin(), pcrs.end(),
                              [&](const Pcr& pcr) { return pcr.discontinuity && pcr.position < position; }));
}

void CheckPsiRepetition(Checker& c, const char* what, const std::vector<size_t>& positions) {
  for (size_t i = 1; i < positions.size(); ++i) {
    auto a = Arrival(c.pcrs, positions[i - 1]), b = Arrival(c.pcrs, positions[i]);
    if (a && b && *b - *a > kMaxPsiGap && TimeBaseOf(c.pcrs, positions[i - 1]) == TimeBaseOf(c.pcrs, positions[i]))
      c.Problem(std::string(what) + " interval over 100 ms");
  }
}

// Arrival of a PES against its decode time; decode times increase within each time base.
void CheckPesTiming(Checker& c) {
  for (auto& [pid, list] : c.report.pes) {
    std::optional<int64_t> lastDts;
    size_t lastBase = 0;
    for (const TsPesInfo& pes : list) {
      if (!pes.hasPts) continue;
      if (pes.dts > pes.pts) c.Problem("DTS after PTS on PID " + std::to_string(pid));
      size_t base = TimeBaseOf(c.pcrs, pes.firstByte);
      if (lastDts && base == lastBase && pes.dts <= *lastDts)
        c.Problem("decode times not increasing on PID " + std::to_string(pid));
      lastDts = pes.dts, lastBase = base;
      auto first = Arrival(c.pcrs, pes.firstByte);
      auto last = Arrival(c.pcrs, pes.lastByte + kPacket - 1);
      // The last bytes of a stream cut off by a seek have no closing PCR: the next one opens the
      // stream that follows.
      if (!first || !last) {
        auto next = PcrAtOrAfter(c.pcrs, pes.lastByte);
        if (next == c.pcrs.end() || !next->discontinuity) c.Problem("PES bytes without PCRs of their time base around them");
        continue;
      }
      if (*last > pes.dts * 300) c.Problem("PES arrives after its decode time on PID " + std::to_string(pid));
      if (*first < pes.dts * 300 - kMaxEarly) c.Problem("PES arrives over 1 s before its decode time");
    }
  }
}

}  // namespace

TsReport CheckTransportStream(const std::vector<uint8_t>& ts) {
  Checker c;
  if (ts.empty() || ts.size() % kPacket != 0) c.Problem("size is not a whole number of packets");
  for (size_t at = 0; at + kPacket <= ts.size(); at += kPacket) ReadPacket(c, ts.data() + at, at);
  for (auto& [pid, pending] : c.pending) ClosePes(c, pid);
  if (!c.patSeen || !c.pmtSeen) c.Problem("PAT or PMT missing");
  CheckPcrs(c);
  CheckPsiRepetition(c, "PAT", c.psiPositions[0]);
  CheckPsiRepetition(c, "PMT", c.psiPositions[1]);
  CheckPesTiming(c);
  return std::move(c.report);
}

#include "mux/TsPacketWriter.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr uint8_t kSyncByte = 0x47;
constexpr size_t kPayloadMax = kTsPacketSize - 4;
constexpr int64_t kTimestampWrap = int64_t(1) << 33;
constexpr uint8_t kAfDiscontinuity = 0x80;
constexpr uint8_t kAfRandomAccess = 0x40;
constexpr uint8_t kAfPcr = 0x10;

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i << 24;
    for (int bit = 0; bit < 8; ++bit) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

struct AdaptationField {
  uint8_t flags = 0;
  bool hasPcr = false;
  int64_t pcr = 0;
};

size_t AdaptationLength(const AdaptationField& af) { return af.flags || af.hasPcr ? 2 + (af.hasPcr ? 6 : 0) : 0; }

void PutPcr(uint8_t* p, int64_t pcr) {
  int64_t base = (pcr / 300) % kTimestampWrap;
  int64_t extension = pcr % 300;
  p[0] = uint8_t(base >> 25);
  p[1] = uint8_t(base >> 17);
  p[2] = uint8_t(base >> 9);
  p[3] = uint8_t(base >> 1);
  p[4] = uint8_t(((base & 1) << 7) | 0x7E | (extension >> 8));
  p[5] = uint8_t(extension);
}

// One transport packet: header, adaptation field (stretched with stuffing so that the payload
// fills the packet), payload. The counter advances only for packets with payload.
bool MarksDiscontinuity(const TsPacketWriter& ts, uint16_t pid) {
  return ts.continuesAnother && !ts.written[pid];
}

void WritePacket(TsPacketWriter& ts, uint16_t pid, bool unitStart, const AdaptationField& given,
                 const uint8_t* payload, size_t size) {
  AdaptationField af = given;
  if (MarksDiscontinuity(ts, pid)) af.flags |= kAfDiscontinuity;
  ts.written[pid] = true;
  size_t base = ts.out.size();
  ts.out.resize(base + kTsPacketSize);
  uint8_t* p = ts.out.data() + base;
  size_t afNeeded = AdaptationLength(af);
  bool withAf = afNeeded > 0 || size < kPayloadMax;
  uint8_t control = (size ? 0x10 : 0) | (withAf ? 0x20 : 0);
  uint8_t& counter = ts.continuity[pid];
  p[0] = kSyncByte;
  p[1] = uint8_t((unitStart ? 0x40 : 0) | (pid >> 8));
  p[2] = uint8_t(pid);
  // A packet without payload repeats the counter of the stream's last packet.
  p[3] = uint8_t(control | ((size ? counter : counter + 15) & 0x0F));
  if (size) counter = uint8_t((counter + 1) & 0x0F);
  if (!withAf) {
    std::memcpy(p + 4, payload, size);
    return;
  }
  size_t afLength = kPayloadMax - 1 - size;  // bytes after the length byte
  p[4] = uint8_t(afLength);
  if (afLength > 0) {
    p[5] = uint8_t(af.flags | (af.hasPcr ? kAfPcr : 0));
    if (af.hasPcr) PutPcr(p + 6, af.pcr);
    size_t fields = af.hasPcr ? 7 : 1;  // the flags, and the clock after them
    std::memset(p + 5 + fields, 0xFF, afLength - fields);  // stuffing
  }
  if (size) std::memcpy(p + 5 + afLength, payload, size);
}

void PutTimestamp(uint8_t* p, uint8_t prefix, int64_t t) {
  t %= kTimestampWrap;
  if (t < 0) t += kTimestampWrap;
  p[0] = uint8_t((prefix << 4) | ((t >> 29) & 0x0E) | 1);
  p[1] = uint8_t(t >> 22);
  p[2] = uint8_t(((t >> 14) & 0xFE) | 1);
  p[3] = uint8_t(t >> 7);
  p[4] = uint8_t(((t << 1) & 0xFE) | 1);
}

void WriteSection(TsPacketWriter& ts, uint16_t pid, std::vector<uint8_t>& section) {
  uint32_t crc = TsCrc32(section.data(), section.size());
  for (int shift = 24; shift >= 0; shift -= 8) section.push_back(uint8_t(crc >> shift));
  std::vector<uint8_t> payload(section.size() + 1);
  payload[0] = 0;  // pointer_field
  std::memcpy(payload.data() + 1, section.data(), section.size());
  for (size_t at = 0; at < payload.size(); at += kPayloadMax) {
    uint8_t packet[kPayloadMax];
    // A packet that must carry the discontinuity indicator leaves room for its flags.
    size_t room = MarksDiscontinuity(ts, pid) ? kPayloadMax - 2 : kPayloadMax;
    size_t size = std::min(room, payload.size() - at);
    std::memset(packet, 0xFF, sizeof packet);
    std::memcpy(packet, payload.data() + at, size);
    // Sections end with 0xFF stuffing in the payload rather than in an adaptation field.
    WritePacket(ts, pid, at == 0, AdaptationField{}, packet, room);
    at -= kPayloadMax - size;
  }
}

// table_id, section length (filled later), id, version 0 current, section 0 of 0.
std::vector<uint8_t> SectionHead(uint8_t tableId, uint16_t id) {
  return {tableId, 0xB0, 0x00, uint8_t(id >> 8), uint8_t(id), 0xC1, 0x00, 0x00};
}

void SetSectionLength(std::vector<uint8_t>& section) {
  size_t length = section.size() - 3 + 4;  // after the length field, CRC included
  section[1] = uint8_t(0xB0 | (length >> 8));
  section[2] = uint8_t(length);
}

}  // namespace

uint32_t TsCrc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ data[i]) & 0xFF];
  return crc;
}

void TsWritePat(TsPacketWriter& ts, uint16_t transportStreamId, uint16_t programNumber, uint16_t pmtPid) {
  std::vector<uint8_t> section = SectionHead(0x00, transportStreamId);
  section.insert(section.end(), {uint8_t(programNumber >> 8), uint8_t(programNumber),
                                 uint8_t(0xE0 | (pmtPid >> 8)), uint8_t(pmtPid)});
  SetSectionLength(section);
  WriteSection(ts, kPatPid, section);
}

void TsWritePmt(TsPacketWriter& ts, uint16_t pmtPid, uint16_t programNumber, uint16_t pcrPid,
                const std::vector<TsProgramStream>& streams) {
  std::vector<uint8_t> section = SectionHead(0x02, programNumber);
  section.insert(section.end(), {uint8_t(0xE0 | (pcrPid >> 8)), uint8_t(pcrPid), 0xF0, 0x00});
  for (const TsProgramStream& stream : streams) {
    uint8_t infoLength = stream.ac3Registration ? 6 : 0;
    section.insert(section.end(), {stream.streamType, uint8_t(0xE0 | (stream.pid >> 8)), uint8_t(stream.pid),
                                   0xF0, infoLength});
    if (stream.ac3Registration) section.insert(section.end(), {0x05, 0x04, 'A', 'C', '-', '3'});
  }
  SetSectionLength(section);
  WriteSection(ts, pmtPid, section);
}

void TsWritePes(TsPacketWriter& ts, const TsPes& pes) {
  uint8_t header[19] = {0x00, 0x00, 0x01, pes.streamId, 0, 0, 0x84, 0x00, 0x00};
  size_t headerSize = 9;
  if (pes.hasPts) {
    bool withDts = pes.hasDts && pes.dts != pes.pts;
    header[7] = withDts ? 0xC0 : 0x80;
    PutTimestamp(header + 9, withDts ? 0x3 : 0x2, pes.pts);
    headerSize += 5;
    if (withDts) {
      PutTimestamp(header + 14, 0x1, pes.dts);
      headerSize += 5;
    }
  }
  header[8] = uint8_t(headerSize - 9);
  size_t pesLength = headerSize - 6 + pes.size;
  if (pes.boundedLength && pesLength <= 0xFFFF) {
    header[4] = uint8_t(pesLength >> 8);
    header[5] = uint8_t(pesLength);
  }
  // The header and the start of the data share the first packet.
  std::vector<uint8_t> first(header, header + headerSize);
  AdaptationField af;
  af.flags = pes.randomAccess ? kAfRandomAccess : 0;
  if (MarksDiscontinuity(ts, pes.pid)) af.flags |= kAfDiscontinuity;
  size_t room = kPayloadMax - AdaptationLength(af) - headerSize;
  size_t taken = std::min(room, pes.size);
  if (taken) first.insert(first.end(), pes.data, pes.data + taken);
  WritePacket(ts, pes.pid, true, af, first.data(), first.size());
  for (size_t at = taken; at < pes.size; at += kPayloadMax)
    WritePacket(ts, pes.pid, false, AdaptationField{}, pes.data + at, std::min(kPayloadMax, pes.size - at));
}

void TsWritePcr(TsPacketWriter& ts, uint16_t pid, int64_t pcr, bool discontinuity) {
  AdaptationField af;
  af.flags = discontinuity ? kAfDiscontinuity : 0;
  af.hasPcr = true;
  af.pcr = pcr;
  WritePacket(ts, pid, false, af, nullptr, 0);
}

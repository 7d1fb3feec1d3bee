// The readers of the header elements: seek head, segment information, tracks, cues,
// chapters, attachments and tags, each into the reader's own records. Every value is read
// through the bounds-checked readers of MkvEbml; lists stop growing at their limits.
#include <algorithm>
#include <cmath>

#include "framework/VmfErrors.h"
#include "framework/matroska/MkvCodecs.h"
#include "framework/matroska/MkvElements.h"
#include "framework/matroska/MkvReader.h"

namespace mkv {
namespace {

int32_t ReadFlag(MkvFileCache& file, const ElementHeader& e, bool* flag) {
  uint64_t v = 0;
  const int32_t rc = ReadUnsigned(file, e, &v);
  if (rc == VMF_OK) *flag = v != 0;
  return rc;
}

constexpr uint32_t kContentEncodingScope = 0x5032;  // which parts a content encoding covers

}  // namespace

int32_t MkvReader::ReadSeekHead(const ElementHeader& e) {
  return ForEachChild(e, [&](const ElementHeader& seek) {
    if (seek.id != el::SEEK) return VMF_OK;
    uint64_t id = 0, position = UINT64_MAX;
    const int32_t rc = ForEachChild(seek, [&](const ElementHeader& c) {
      if (c.id == el::SEEKID) return ReadUnsigned(m_file, c, &id);
      if (c.id == el::SEEKPOSITION) return ReadUnsigned(m_file, c, &position);
      return VMF_OK;
    });
    if (rc == VMF_OK && position != UINT64_MAX && m_seekEntries.size() < kMaxEntries)
      m_seekEntries.emplace_back(static_cast<uint32_t>(id), position);
    return rc;
  });
}

int32_t MkvReader::ReadSegmentInfo(const ElementHeader& e) {
  MkvSegmentInfo& info = m_segment.info;
  return ForEachChild(e, [&](const ElementHeader& c) {
    switch (c.id) {
      case el::TIMECODESCALE: {
        uint64_t scale = 0;
        const int32_t rc = ReadUnsigned(m_file, c, &scale);
        if (rc == VMF_OK && scale != 0) info.timecodeScale = scale;
        return rc;
      }
      case el::DURATION: {
        const int32_t rc = ReadFloat(m_file, c, &info.duration);
        info.hasDuration = rc == VMF_OK && std::isfinite(info.duration) && info.duration > 0;
        return rc;
      }
      case el::TITLE: return ReadString(m_file, c, &info.title);
      case el::MUXINGAPP: return ReadString(m_file, c, &info.muxingApp);
      case el::WRITINGAPP: return ReadString(m_file, c, &info.writingApp);
      case el::FILENAME: return ReadString(m_file, c, &info.fileName);
      case el::PREVFILENAME: return ReadString(m_file, c, &info.prevFileName);
      case el::NEXTFILENAME: return ReadString(m_file, c, &info.nextFileName);
      case el::SEGMENTUID: return ReadBinary(m_file, c, &info.segmentUid);
      case el::PREVUID: return ReadBinary(m_file, c, &info.prevUid);
      case el::NEXTUID: return ReadBinary(m_file, c, &info.nextUid);
      default: return VMF_OK;
    }
  });
}

int32_t MkvReader::ReadTracks(const ElementHeader& e) {
  return ForEachChild(e, [&](const ElementHeader& c) {
    if (c.id != el::TRACKENTRY) return VMF_OK;
    MkvTrack track;
    const int32_t rc = ReadTrackEntry(c, &track);
    if (rc == VMF_OK && m_segment.tracks.size() < kMaxTracks) m_segment.tracks.push_back(std::move(track));
    return rc;
  });
}

int32_t MkvReader::ReadTrackEntry(const ElementHeader& e, MkvTrack* t) {
  const int32_t rc = ForEachChild(e, [&](const ElementHeader& c) {
    switch (c.id) {
      case el::TRACKNUMBER: return ReadUnsigned(m_file, c, &t->number);
      case el::TRACKTYPE: return ReadUnsigned(m_file, c, &t->type);
      case el::TRACKUID: return ReadUnsigned(m_file, c, &t->uid);
      case el::TRACKTIMECODESCALE: {
        double scale = 1.0;
        const int32_t r = ReadFloat(m_file, c, &scale);
        if (r == VMF_OK && std::isfinite(scale) && scale > 0 && scale < 1e9) t->timecodeScale = scale;
        return r;
      }
      case el::DEFAULTDURATION: {
        const int32_t r = ReadUnsigned(m_file, c, &t->defaultDuration);
        t->hasDefaultDuration = r == VMF_OK && t->defaultDuration != 0;
        return r;
      }
      case el::NAME: return ReadString(m_file, c, &t->name);
      case el::LANGUAGE: return ReadString(m_file, c, &t->language);
      case el::CODECID: return ReadString(m_file, c, &t->codecId);
      case el::CODECNAME: return ReadString(m_file, c, &t->codecName);
      case el::CODECPRIVATE: return ReadBinary(m_file, c, &t->codecPrivate);
      case el::ATTACHMENTLINK: {
        uint64_t link = 0;
        const int32_t r = ReadUnsigned(m_file, c, &link);
        if (r == VMF_OK && t->attachmentLinks.size() < kMaxEntries) t->attachmentLinks.push_back(link);
        return r;
      }
      case el::VIDEO: return ReadVideo(c, t);
      case el::AUDIO: return ReadAudio(c, t);
      case el::CONTENTENCODINGS: return ReadContentEncodings(c, t);
      case el::ENHANCEDTRACK_UID: return ReadUnsigned(m_file, c, &t->enhancedTrack.uid);
      case el::ENHANCEDTRACK_SEGUID: return ReadUnsigned(m_file, c, &t->enhancedTrack.segmentUid);
      case el::ENHANCEDTRACK_FILENAME: return ReadString(m_file, c, &t->enhancedTrack.fileName);
      case el::MASTERTRACK_UID: return ReadUnsigned(m_file, c, &t->masterTrack.uid);
      case el::MASTERTRACK_SEGUID: return ReadUnsigned(m_file, c, &t->masterTrack.segmentUid);
      case el::MASTERTRACK_FILENAME: return ReadString(m_file, c, &t->masterTrack.fileName);
      default: return VMF_OK;
    }
  });
  if (rc != VMF_OK) return rc;
  const CodecRow& codec = FindCodec(t->codecId);
  t->codecType = codec.type;
  return VMF_OK;
}

int32_t MkvReader::ReadVideo(const ElementHeader& e, MkvTrack* t) {
  MkvTrack::Video& v = t->video;
  return ForEachChild(e, [&](const ElementHeader& c) {
    int32_t rc = VMF_OK;
    switch (c.id) {
      case el::MKVELEMENT_PIXELWIDTH: rc = ReadUnsigned(m_file, c, &v.pixelWidth); v.hasPixelWidth = rc == VMF_OK; break;
      case el::MKVELEMENT_PIXELHEIGHT: rc = ReadUnsigned(m_file, c, &v.pixelHeight); v.hasPixelHeight = rc == VMF_OK; break;
      case el::MKVELEMENT_DISPLAYWIDTH: rc = ReadUnsigned(m_file, c, &v.displayWidth); v.hasDisplayWidth = rc == VMF_OK; break;
      case el::MKVELEMENT_DISPLAYHEIGHT: rc = ReadUnsigned(m_file, c, &v.displayHeight); v.hasDisplayHeight = rc == VMF_OK; break;
      case el::MKVELEMENT_FLAGINTERLACED: {
        // FlagInterlaced: 1 interlaced, 2 progressive, 0 undetermined.
        uint64_t flag = 0;
        rc = ReadUnsigned(m_file, c, &flag);
        v.interlaced = rc == VMF_OK && flag == 1;
        v.hasInterlaced = rc == VMF_OK;
        break;
      }
      default: break;
    }
    return rc;
  });
}

int32_t MkvReader::ReadAudio(const ElementHeader& e, MkvTrack* t) {
  MkvTrack::Audio& a = t->audio;
  return ForEachChild(e, [&](const ElementHeader& c) {
    int32_t rc = VMF_OK;
    switch (c.id) {
      case el::SAMPLINGFREQUENCY: {
        double f = 0;
        rc = ReadFloat(m_file, c, &f);
        if (rc == VMF_OK && std::isfinite(f) && f > 0 && f < 4e9) {
          a.samplingFrequency = f;
          a.hasSamplingFrequency = true;
        }
        break;
      }
      case el::OUTPUTSAMPLINGFREQENCY: {
        double f = 0;
        rc = ReadFloat(m_file, c, &f);
        if (rc == VMF_OK && std::isfinite(f) && f > 0 && f < 4e9) {
          a.outputSamplingFrequency = f;
          a.hasOutputSamplingFrequency = true;
        }
        break;
      }
      case el::CHANNELS: rc = ReadUnsigned(m_file, c, &a.channels); a.hasChannels = rc == VMF_OK; break;
      case el::BITDEPTH: rc = ReadUnsigned(m_file, c, &a.bitDepth); a.hasBitDepth = rc == VMF_OK; break;
      default: break;
    }
    return rc;
  });
}

int32_t MkvReader::ReadContentEncodings(const ElementHeader& e, MkvTrack* t) {
  bool done = false;
  return ForEachChild(e, [&](const ElementHeader& encoding) {
    if (encoding.id != el::CONTENTENCODING || done) return VMF_OK;
    uint64_t scope = 1;  // frames
    bool compressed = false;
    uint64_t algo = 0;   // zlib when the element is absent
    std::vector<uint8_t> settings;
    const int32_t rc = ForEachChild(encoding, [&](const ElementHeader& c) {
      if (c.id == kContentEncodingScope) return ReadUnsigned(m_file, c, &scope);
      if (c.id != el::CONTENTCOMPRESSION) return VMF_OK;
      compressed = true;
      return ForEachChild(c, [&](const ElementHeader& cc) {
        if (cc.id == el::CONTENTCOMPALGO) return ReadUnsigned(m_file, cc, &algo);
        if (cc.id == el::CONTENTCOMPSETTINGS) return ReadBinary(m_file, cc, &settings);
        return VMF_OK;
      });
    });
    if (rc != VMF_OK) return rc;
    // Only an encoding of the frames themselves changes what is delivered.
    if (compressed && (scope & 1) != 0) {
      t->compression = static_cast<Compression>(std::min<uint64_t>(algo, 0xFFFF) + 1);
      t->compressionSettings = std::move(settings);
      done = true;
    }
    return VMF_OK;
  });
}

int32_t MkvReader::ReadCues(const ElementHeader& e) {
  return ForEachChild(e, [&](const ElementHeader& c) {
    return c.id == el::CUEPOINT ? ReadCuePoint(c) : VMF_OK;
  });
}

int32_t MkvReader::ReadCuePoint(const ElementHeader& e) {
  uint64_t time = 0;
  const size_t first = m_cues.size();
  const int32_t rc = ForEachChild(e, [&](const ElementHeader& c) {
    if (c.id == el::CUETIME) return ReadUnsigned(m_file, c, &time);
    if (c.id != el::CUETRACKPOSITIONS) return VMF_OK;
    MkvCuePoint point;
    const int32_t r = ForEachChild(c, [&](const ElementHeader& p) {
      if (p.id == el::CUETRACK) return ReadUnsigned(m_file, p, &point.track);
      if (p.id == el::CUECLUSTERPOSITION) return ReadUnsigned(m_file, p, &point.clusterPosition);
      if (p.id == el::CUEBLOCKNUMBER) return ReadUnsigned(m_file, p, &point.blockNumber);
      return VMF_OK;
    });
    if (r == VMF_OK && m_cues.size() < kMaxCuePoints) m_cues.push_back(point);
    return r;
  });
  // The time may follow the positions.
  for (size_t i = first; i < m_cues.size(); ++i) m_cues[i].time = time;
  return rc;
}

int32_t MkvReader::ReadChapters(const ElementHeader& e) {
  return ForEachChild(e, [&](const ElementHeader& c) {
    if (c.id != el::EDITIONENTRY) return VMF_OK;
    MkvEdition edition;
    const int32_t rc = ReadEdition(c, &edition);
    if (rc == VMF_OK && m_editions.size() < kMaxEntries) m_editions.push_back(std::move(edition));
    return rc;
  });
}

int32_t MkvReader::ReadEdition(const ElementHeader& e, MkvEdition* edition) {
  return ForEachChild(e, [&](const ElementHeader& c) {
    switch (c.id) {
      case el::EDITIONUID2: return ReadUnsigned(m_file, c, &edition->uid);
      case el::EDITIONFLAGHIDDEN: return ReadFlag(m_file, c, &edition->hidden);
      case el::EDITIONFLAGDEFAULT: return ReadFlag(m_file, c, &edition->isDefault);
      case el::EDITIONFLAGORDERED: return ReadFlag(m_file, c, &edition->ordered);
      case el::CHAPTERATOM: {
        MkvChapter chapter;
        const int32_t rc = ReadChapterAtom(c, &chapter, 0);
        if (rc == VMF_OK && edition->chapters.size() < kMaxEntries) edition->chapters.push_back(std::move(chapter));
        return rc;
      }
      default: return VMF_OK;
    }
  });
}

int32_t MkvReader::ReadChapterAtom(const ElementHeader& e, MkvChapter* chapter, int depth) {
  if (depth > kMaxNesting) return VMF_ERR_FILE_CORRUPT;
  return ForEachChild(e, [&](const ElementHeader& c) {
    switch (c.id) {
      case el::CHAPTERUID2: return ReadUnsigned(m_file, c, &chapter->uid);
      case el::CHAPTERTIMESTART: return ReadUnsigned(m_file, c, &chapter->start);
      case el::CHAPTERTIMEEND: {
        const int32_t rc = ReadUnsigned(m_file, c, &chapter->end);
        chapter->hasEnd = rc == VMF_OK;
        return rc;
      }
      case el::CHAPTERFLAGHIDDEN: return ReadFlag(m_file, c, &chapter->hidden);
      case el::CHAPTERFLAGENABLED: return ReadFlag(m_file, c, &chapter->enabled);
      case el::CHAPTERSEGMENTUID: return ReadBinary(m_file, c, &chapter->segmentUid);
      case el::CHAPTERSEGMENTEDITIONUID: return ReadUnsigned(m_file, c, &chapter->segmentEditionUid);
      case el::CHAPTERTRACKS:
        return ForEachChild(c, [&](const ElementHeader& n) {
          if (n.id != el::CHAPTERTRACKNUMBER) return VMF_OK;
          uint64_t number = 0;
          const int32_t rc = ReadUnsigned(m_file, n, &number);
          if (rc == VMF_OK && chapter->tracks.size() < kMaxEntries) chapter->tracks.push_back(number);
          return rc;
        });
      case el::CHAPTERDISPLAY: {
        MkvChapterDisplay display;
        const int32_t rc = ForEachChild(c, [&](const ElementHeader& d) {
          if (d.id == el::CHAPSTRING) return ReadString(m_file, d, &display.string);
          if (d.id == el::CHAPLANGUAGE) return ReadString(m_file, d, &display.language);
          if (d.id == el::CHAPCOUNTRY) return ReadString(m_file, d, &display.country);
          return VMF_OK;
        });
        if (rc == VMF_OK && chapter->displays.size() < kMaxEntries) chapter->displays.push_back(std::move(display));
        return rc;
      }
      case el::CHAPTERATOM: {
        MkvChapter child;
        const int32_t rc = ReadChapterAtom(c, &child, depth + 1);
        if (rc == VMF_OK && chapter->children.size() < kMaxEntries) chapter->children.push_back(std::move(child));
        return rc;
      }
      default: return VMF_OK;
    }
  });
}

int32_t MkvReader::ReadAttachments(const ElementHeader& e) {
  return ForEachChild(e, [&](const ElementHeader& c) {
    if (c.id != el::ATTACHEDFILE) return VMF_OK;
    MkvAttachment a;
    const int32_t rc = ForEachChild(c, [&](const ElementHeader& f) {
      switch (f.id) {
        case el::FILEDESCRIPTION: return ReadString(m_file, f, &a.description);
        case el::ATTACHEDFILENAME: return ReadString(m_file, f, &a.name);
        case el::FILEMIMETYPE: return ReadString(m_file, f, &a.mimeType);
        case el::FILEUID: return ReadUnsigned(m_file, f, &a.uid);
        case el::ATTACHMENTSTARTTIME: return ReadUnsigned(m_file, f, &a.startTime);
        case el::ATTACHMENTENDTIME: return ReadUnsigned(m_file, f, &a.endTime);
        case el::FILEDATA:
          a.dataOffset = f.data;  // read on request
          a.dataSize = f.size;
          return VMF_OK;
        default: return VMF_OK;
      }
    });
    if (rc == VMF_OK && m_attachments.size() < kMaxEntries) m_attachments.push_back(std::move(a));
    return rc;
  });
}

int32_t MkvReader::ReadTags(const ElementHeader& e) {
  return ForEachChild(e, [&](const ElementHeader& c) {
    if (c.id != tag::TAG) return VMF_OK;
    MkvTag t;
    const int32_t rc = ReadTag(c, &t);
    if (rc == VMF_OK && m_tags.size() < kMaxEntries) m_tags.push_back(std::move(t));
    return rc;
  });
}

int32_t MkvReader::ReadTag(const ElementHeader& e, MkvTag* t) {
  return ForEachChild(e, [&](const ElementHeader& c) {
    if (c.id == tag::SIMPLETAG) {
      MkvSimpleTag st;
      const int32_t rc = ReadSimpleTag(c, &st, 0);
      if (rc == VMF_OK && t->simpleTags.size() < kMaxEntries) t->simpleTags.push_back(std::move(st));
      return rc;
    }
    if (c.id != tag::TARGETS) return VMF_OK;
    return ForEachChild(c, [&](const ElementHeader& g) {
      std::vector<uint64_t>* list = nullptr;
      switch (g.id) {
        case tag::TARGETTYPEVALUE: return ReadUnsigned(m_file, g, &t->targetTypeValue);
        case tag::TARGETTYPE: return ReadString(m_file, g, &t->targetType);
        case tag::TRACKUID: list = &t->trackUids; break;
        case tag::EDITIONUID: list = &t->editionUids; break;
        case tag::CHAPTERUID: list = &t->chapterUids; break;
        case tag::ATTACHMENTUID: list = &t->attachmentUids; break;
        default: return VMF_OK;
      }
      uint64_t uid = 0;
      const int32_t rc = ReadUnsigned(m_file, g, &uid);
      if (rc == VMF_OK && list->size() < kMaxEntries) list->push_back(uid);
      return rc;
    });
  });
}

int32_t MkvReader::ReadSimpleTag(const ElementHeader& e, MkvSimpleTag* st, int depth) {
  if (depth > kMaxNesting) return VMF_ERR_FILE_CORRUPT;
  return ForEachChild(e, [&](const ElementHeader& c) {
    switch (c.id) {
      case tag::TAGNAME: return ReadString(m_file, c, &st->name);
      case tag::TAGSTRING: return ReadString(m_file, c, &st->string);
      case tag::TAGLANGUAGE: return ReadString(m_file, c, &st->language);
      case tag::TAGORIGINAL: return ReadFlag(m_file, c, &st->original);
      case tag::TAGBINARYVALUE: return ReadBinary(m_file, c, &st->binary);
      case tag::SIMPLETAG: {
        MkvSimpleTag child;
        const int32_t rc = ReadSimpleTag(c, &child, depth + 1);
        if (rc == VMF_OK && st->children.size() < kMaxEntries) st->children.push_back(std::move(child));
        return rc;
      }
      default: return VMF_OK;
    }
  });
}

}  // namespace mkv

#!/bin/sh
# Builds the Matroska fixture corpus into $1 with FFmpeg and mkvmerge: a few seconds of
# small pictures and tones, written by each muxer in the ways the reader must handle.
set -eu
out=$1
[ -f "$out/done" ] && [ -f "$out/props.mkv" ] && exit 0
# Several test processes may build at once: each builds in a folder of its own and renames it
# into place, so no one ever reads a file another is still writing.
work="$out.tmp.$$"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
ff="ffmpeg -v error -y -nostdin"

cat > subs.srt <<'SRT'
1
00:00:00,500 --> 00:00:01,200
first line

2
00:00:01,800 --> 00:00:02,600
second line
SRT

# H.264 with B-frames and three audio kinds, plus subtitles (FFmpeg's muxer, with cues).
$ff -f lavfi -i testsrc=size=160x120:rate=25:duration=3 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=3 -i subs.srt \
    -map 0:v -map 1:a -map 1:a -map 1:a -map 2:s \
    -c:v libx264 -preset ultrafast -bf 2 -g 12 -pix_fmt yuv420p \
    -c:a:0 aac -c:a:1 ac3 -c:a:2 libmp3lame -c:s srt ffmpeg.mkv

# The same streams through mkvmerge: block groups, lacing of audio.
mkvmerge -q -o mkvmerge.mkv ffmpeg.mkv
# Every track zlib-compressed.
mkvmerge -q -o zlib.mkv --compression 0:zlib --compression 1:zlib --compression 2:zlib \
    --compression 3:zlib --compression 4:zlib ffmpeg.mkv
# Without the index.
mkvmerge -q -o nocues.mkv --no-cues ffmpeg.mkv
# Written to a pipe: the segment and clusters have unknown sizes, no cues, no duration.
$ff -i ffmpeg.mkv -map 0 -c copy -f matroska pipe: > pipe.mkv
# Names, languages, a title, chapters, global tags with a nested simple tag, an attachment.
cat > tags.xml <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<Tags><Tag><Targets><TargetTypeValue>50</TargetTypeValue></Targets>
<Simple><Name>ARTIST</Name><String>Vexa Test</String>
  <Simple><Name>SORT_WITH</Name><String>Test, Vexa</String></Simple></Simple>
<Simple><Name>COMMENT</Name><String>zweite</String><TagLanguage>ger</TagLanguage></Simple>
</Tag></Tags>
XML
printf 'CHAPTER01=00:00:00.000\nCHAPTER01NAME=Intro\nCHAPTER02=00:00:01.500\nCHAPTER02NAME=Main\n' > chapters.txt
printf 'notes\n' > notes.txt
mkvmerge -q -o props.mkv --disable-track-statistics-tags --title "Props title" --chapters chapters.txt \
    --global-tags tags.xml --attachment-name notes.txt --attachment-mime-type text/plain \
    --attachment-description "Subtitle notes" --attach-file notes.txt \
    -T --no-global-tags --no-chapters --track-name 0:"Main video" --language 1:ger \
    --track-name 4:"Untertitel" --language 4:ger ffmpeg.mkv
touch done
cd ..
mv -T "$work" "$out" 2>/dev/null && exit 0
if [ -f "$out/done" ]; then rm -rf "$work"; exit 0; fi   # another process was first
rm -rf "$out"                                             # a leftover of an interrupted build
mv -T "$work" "$out"

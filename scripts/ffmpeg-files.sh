# Sourced by the fuzz, valgrind and differential scripts: small AVI files
# ffmpeg writes, of each codec family and with audio, unless TOVACREX_SKIP_FFMPEG=1 asks to leave
# them out (the run says so). A missing ffmpeg stops the caller.
#   make_ffmpeg_files CALLER DIR
make_ffmpeg_files() {
  local caller=$1 dir=$2
  if [ "${TOVACREX_SKIP_FFMPEG:-}" = 1 ]; then
    echo "$caller: SKIPPED the ffmpeg-made files (TOVACREX_SKIP_FFMPEG=1)"
    return
  fi
  command -v ffmpeg >/dev/null || {
    echo "$caller: ffmpeg is missing (scripts/install-deps.sh installs it; TOVACREX_SKIP_FFMPEG=1 leaves those files out)" >&2
    exit 2
  }
  local src=(-f lavfi -i testsrc=size=32x24:rate=5 -t 0.4)
  ffmpeg -v error -y "${src[@]}" -c:v mpeg4 -vtag XVID -q:v 31 "$dir/xvid.avi"
  ffmpeg -v error -y "${src[@]}" -c:v mpeg4 -vtag DX50 -q:v 31 "$dir/dx50.avi"
  ffmpeg -v error -y "${src[@]}" -c:v mpeg4 -vtag DIVX -q:v 31 "$dir/divx.avi"
  ffmpeg -v error -y "${src[@]}" -c:v msmpeg4v3 -vtag div3 -q:v 31 "$dir/div3.avi"
  ffmpeg -v error -y "${src[@]}" -c:v msmpeg4v2 -vtag mp42 -q:v 31 "$dir/mp42.avi"
  ffmpeg -v error -y "${src[@]}" -f lavfi -i sine=r=8000 -t 0.4 -c:v mpeg4 -vtag xvid -q:v 31 -c:a pcm_u8 "$dir/xvid-audio.avi"
}

# Matroska files of every AVI file in DIR, written to OUT (DIR unless given): mkvmerge's, ffmpeg's (with CRC-32s)
# and, of mp42.avi, a live one (a Segment of unknown size). Their code is the AVI file's in upper case, as the codecs
# write it and as a muxer told the code writes it (the AVI files above have ffmpeg's lower-case tags), so that the
# command line converts them. mkvmerge exits 1 on a mere warning.
#   make_matroska_files DIR [OUT]
make_matroska_files() {
  local dir=$1 out=${2:-$1} f name tag
  for f in "$dir"/*.avi; do
    [ -e "$f" ] || continue
    name=$(basename "$f" .avi)
    tag=
    [ "${TOVACREX_SKIP_FFMPEG:-}" = 1 ] ||
      tag=$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_tag_string -of csv=p=0 "$f" | tr a-z A-Z)
    mkvmerge -q ${tag:+--fourcc "0:$tag"} -o "$out/$name-mkvmerge.mkv" "$f" >/dev/null || [ $? -eq 1 ]
    [ -z "$tag" ] && continue
    ffmpeg -v error -y -i "$f" -c copy -vtag "$tag" "$out/$name-ffmpeg.mkv"
    [ "$name" != mp42 ] || ffmpeg -v error -y -i "$f" -c copy -vtag "$tag" -live 1 "$out/live.mkv"
  done
}

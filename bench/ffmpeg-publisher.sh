# The ffmpeg command line the engine is measured against: the whole X screen and the
# test microphone, scaled and encoded with the engine's settings. Source it.

# ffmpeg_publish WIDTH HEIGHT FPS KBITS SECONDS URL
ffmpeg_publish() {
  ffmpeg -nostdin -hide_banner -loglevel error \
    -f x11grab -framerate "$3" -video_size 1280x720 -i "$DISPLAY" -f pulse -i mic_sink.monitor -t "$5" \
    -vf "scale=$1:$2" -c:v libx264 -preset veryfast -tune zerolatency -profile:v main -pix_fmt yuv420p \
    -b:v "${4}k" -maxrate "${4}k" -bufsize "$(($4 * 6 / 10))k" -g 30 -bf 0 \
    -c:a aac -b:a 32k -ar 44100 -ac 2 -f flv "$6"
}

# Functions for driving the program under a virtual X server, as a person
# would: source this file, then
#   x11_start OUTDIR      starts Xvfb (1280x800x24) and sets DISPLAY (the first
#                         free display from :90, or :$X11_DISPLAY when set)
#   x11_shot NAME         writes OUTDIR/NAME.png from the server's framebuffer
#   x11_stop              ends the server
# Screenshots come from the framebuffer file Xvfb keeps (-fbdir), which is
# what a screen would show. `xwd -root` is not used: it rebuilds the screen
# from the windows' images and shows windows that lie wholly inside another
# window as black rectangles.
x11_start() {
    X11_OUT=$1
    mkdir -p "$X11_OUT/fb"
    local n
    for n in ${X11_DISPLAY:-$(seq 90 140)}; do
        [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
        Xvfb :$n -screen 0 1280x800x24 -fbdir "$X11_OUT/fb" -nolisten tcp > "$X11_OUT/xvfb.log" 2>&1 &
        X11_PID=$!
        export DISPLAY=:$n
        local i
        for i in $(seq 50); do
            xdpyinfo > /dev/null 2>&1 && return 0
            sleep 0.1
        done
        kill $X11_PID 2>/dev/null
    done
    echo "x11_start: no X server" >&2
    return 1
}

x11_shot() {
    /usr/bin/convert "xwd:$X11_OUT/fb/Xvfb_screen0" "$X11_OUT/$1.png"
}

x11_stop() {
    [ -n "${X11_PID:-}" ] && kill $X11_PID 2>/dev/null && wait $X11_PID 2>/dev/null
    X11_PID=
}

# shellcheck shell=bash
# Pictures of Quillet's windows as X11 draws them, for scripts/screenshot.sh and
# scripts/demo.sh: sourced, with Quillet running alone on the display $DISPLAY (Xvfb, no window
# manager). Needs xdotool and ImageMagick's import.

# The windows of Quillet on screen, one id a line, oldest first.
quillet_windows() { xdotool search --onlyvisible --class quillet 2>/dev/null; }

# main_window_picture FILE
main_window_picture() {
    import -window "$(quillet_windows | head -n 1)" "$1"
}

# about_box_picture FILE: opens the About box from the Help menu with the pointer, as a user
# would, takes its picture and closes it again.
about_box_picture() {
    local main before box
    main=$(quillet_windows | head -n 1)
    before=$(quillet_windows | wc -l)
    eval "$(xdotool getwindowgeometry --shell "$main")"
    # The Help menu is the menu bar's second entry; About is its first item.
    xdotool mousemove "$((X + 58))" "$((Y + 8))" click 1 sleep 0.5 \
        mousemove "$((X + 90))" "$((Y + 32))" click 1
    for _ in $(seq 50); do
        [ "$(quillet_windows | wc -l)" -gt "$before" ] && break
        sleep 0.1
    done
    box=$(quillet_windows | tail -n 1)
    [ "$box" != "$main" ] || return 1
    sleep 0.5
    import -window "$box" "$1"
    xdotool key --window "$box" Escape
}

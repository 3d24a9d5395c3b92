# Glidescape.scr: the Win32 screen saver (host/ + the Win32 files of app/).
# Filled in by the Windows build.

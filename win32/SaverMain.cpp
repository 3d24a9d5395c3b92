// SaverMain.cpp - Glidescape.scr's entry: hands the saver's entry points to
// the screen-saver host, which runs the mode the command line names.
#include <windows.h>

#include "win32/Host.h"
#include "win32/SaverApp.h"
#include "win32/resources/resource.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    SaverEntryPoints entries;
    entries.saverWindowProc = SaverWindowProc;
    entries.configDialogProc = ConfigDialogProc;
    entries.prepareDialogClasses = PrepareDialogClasses;
    entries.configDialogId = IDD_GLIDESCAPE_SETUP;
    return HostEntry(entries);
}

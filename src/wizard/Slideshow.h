#pragma once
#include <windows.h>

// Shows the installing page's pictures on the background window in step
// with the installed fraction.
DWORD WINAPI BackgroundSlideshow(void*);

#include "wizard/Slideshow.h"

// Without a background window there is nothing to show.
DWORD WINAPI BackgroundSlideshow(void*) { return 0; }

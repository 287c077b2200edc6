#pragma once
// Page pictures decoded by OLE (bitmap, JPEG, GIF, icon, metafile).
#include <windows.h>

#include <string>

#include "state/InstallerState.h"

// Replaces *target (logoPicture or backgroundPicture of state) by the
// picture decoded from path; null when the file cannot be read or decoded.
// Takes the picture lock, so painters on other threads see either picture.
void LoadPictureFromFile(InstallerState& state, const std::string& path, void** target);

// Draws picture stretched into destination, under the picture lock. Nothing
// is drawn for a null picture.
void RenderPicture(InstallerState& state, void* const* picture, HDC dc, const RECT& destination, const RECT& bounds);

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

// Puts background record `record` up for wizard page `page`: decodes its
// picture when its file exists, otherwise marks the picture missing. The
// picture, currentBackgroundRecord and backgroundImageMissing change together
// under the picture lock, and only while the wizard is still on page, so a
// late slideshow picture never replaces the next page's. Any thread.
void ShowBackgroundRecord(InstallerState& state, int32_t record, int32_t page);

// Draws the background picture into the background window's client area,
// placed as its record's mode asks; nothing when there is no picture or the
// page's picture is missing. Reads the picture, its record and the missing
// flag together under the picture lock.
void RenderBackgroundPicture(InstallerState& state, HDC dc, const RECT& client);

#pragma once
#include "launcher/display_list.h"

#include <windows.h>

// Draws the bottom bar's display list (fills with solid brushes; texts with the two Arial fonts,
// transparent background, DT_CENTER | DT_VCENTER | DT_SINGLELINE). Does not set the cursor.
void DrawDisplayList(HDC dc, const KrDisplayList& list);

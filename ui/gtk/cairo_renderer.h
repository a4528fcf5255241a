#pragma once
// Draws the bottom bar's display list with cairo: the GDI renderer's counterpart, same colours and
// geometry, Arial or its metric twin Liberation Sans.
#include "launcher/display_list.h"

typedef struct _cairo cairo_t;

void DrawDisplayList(cairo_t* cr, const KrDisplayList& list);

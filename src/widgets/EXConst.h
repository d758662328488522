#pragma once
// Screen cursors of the interface components, registered at program start,
// and the start-up work of the components.
#include <QCursor>

inline constexpr int crExHand = 14000;     // "EX_HANDCUR", a hand
inline constexpr int crExDragHand = 14001; // "EX_DRAGCUR", a dragging hand

// Registers the two cursors and fixes the date components' year width from
// the locale's short date format. Run once at start-up; later calls change
// nothing.
void InitExComponents();

// Makes the glyph and cursor pictures (":/exglyphs/...") readable.
void InitExGlyphResources();

// A cursor registered under `id` (crExHand, ...); the arrow for an unknown id.
QCursor ScreenCursor(int id);
void RegisterScreenCursor(int id, const QCursor &cursor);
bool HasScreenCursor(int id);

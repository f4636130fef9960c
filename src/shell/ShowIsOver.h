#pragma once

// Set when the main window begins to close down. From then on the toolbars ignore focus changes,
// clicks and destroyed widgets, so nothing is rebuilt while the window's children go.
extern bool g_showIsOver;

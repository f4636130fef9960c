#pragma once

// Registers the compiled-in icons (":/icons/...") and country flags
// (":/resources/flags/<code>.png"). A static library's resources are dropped by the linker unless
// something names them, so whatever shows icons calls this first; later calls do nothing.
void InitResources();

#pragma once
// The engine's handlers for the window's input callbacks.

// Installs them on the window object (display initialisation).
void InstallEngineInputCallbacks();

void EngineOnKeyDown(int key);
void EngineOnKeyUp(int key);
void EngineOnChar(int code);
void EngineOnMouseWheel(int delta);
void EngineOnMouseDown(int x, int y, int button);
void EngineOnMouseUp(int x, int y, int button);

// Keyboard and mouse injection into the window in front.
#pragma once
#include "base/types.h"
#include "platform/desktop.h"

// Up/down code bits.
inline constexpr U1 kUdPress = 1;
inline constexpr U1 kUdRelease = 2;

// Press and/or release virtual key vk after bringing window (if any) to the front.
void Tapster(U1 vk, U1 ud, HWND_T window);

// Move the pointer and press and/or release a button (0 none, 1 left, 2 right, 4 middle).
// The point (x, y) is relative to the pointer when relative is set, else to the window's
// outer top-left corner, else to the screen.
void SimMouse(U1 button, U1 ud, HWND_T window, I2 y, I2 x, bool relative);

// The normalised absolute coordinate (0..65535) of pixel p on an axis of size pixels;
// points off the screen go to the nearest edge.
I4 NormalisedCoordinate(I4 p, I4 size);

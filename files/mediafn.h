// Image, audio and video files told by the extension of their name (letter case ignored).
#pragma once

bool IsImageFN(const char* fn);
bool IsAudioFN(const char* fn);
bool IsVideoFN(const char* fn);
bool IsMediaFN(const char* fn); // video or audio
